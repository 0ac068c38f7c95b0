// The real-time players, what describes a player to the run sequence, and
// the parts of a row both players share. Each works on the Run it is handed
// (run.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "playback/run.h"
#include "score/check.h"

namespace pitchime {

struct Player {
    // Plays run.score on run.boardPort, the board open and its counters started.
    void (*play)(Run& run);
    PlayRules rules;
};

namespace threeVoice {
void play(Run& run);
}  // namespace threeVoice

namespace trill {
void play(Run& run);
}  // namespace trill

inline constexpr Player threeVoicePlayer{threeVoice::play, threeVoiceRules};
inline constexpr Player trillPlayer{trill::play, trillRules};

// Sets run.sixtyFourthMs from the loaded score's BPM.
void setTempo(Run& run);

// Loads note's count into counter `address`, low byte then high byte, each
// register write followed by its trace line.
void writeNoteCount(Run& run, std::int32_t note, int address);

// The time of a row, and the tempo figures kept of it.
namespace rowTiming {
// The row as the three-voice player plays it, 64 / L sixty-fourth notes:
// waited by that player, printed by both.
std::int32_t durationMs(const Run& run, std::int32_t lengthValue);
// Stamps the end, prints "REAL:\t" and the elapsed ticks with two line ends,
// adds the row's quarter-note time to quarterSum, and reports a board that
// stopped taking writes during the row (`row`, from 0).
void finish(Run& run, std::int32_t lengthValue, std::size_t row);
}  // namespace rowTiming

}  // namespace pitchime
