// Refuses, before anything is played, a score that a player cannot play:
// the loader accepts any text, the players need sane values.
#pragma once

#include <cstdint>
#include <string>

#include "score/score.h"

namespace pitchime {

// Which columns of a row a player sounds as notes, so that they must hold
// note numbers 0 to 127.
enum class NoteColumns {
    voiceColumns,  // the PART voice columns
    firstTwo,      // columns 1 and 2, whatever PART is
};

// What a player needs of a score.
struct PlayRules {
    std::int32_t maxPart = 0;       // voice columns the player can sound
    std::int32_t minRowValues = 0;  // values every row needs, besides the PART + 1 it always needs
    NoteColumns noteColumns = NoteColumns::voiceColumns;
};

// Returns "" for a playable score, else one line starting "Score error:"
// that names the file's line number and what is wrong.
std::string checkScore(const Score& s, const PlayRules& rules);

// 60000 / (16 * bpm) in whole milliseconds, truncated; 0 for bpm beyond
// 3750, computed without overflow for any bpm of 1 or more.
std::int32_t sixtyFourthMsFor(std::int32_t bpm);

}  // namespace pitchime
