// Refuses, before anything is played, a score that a player cannot play:
// the loader accepts any text, the players need sane values.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

#include "score/play_rules.h"
#include "score/score.h"

namespace pitchime {

// Returns "" for a playable score, else one line starting "Score error:"
// that names the file's line number and what is wrong.
std::string checkScore(const Score& s, const PlayRules& rules);

// "KIND: line N: WHAT", WHAT formatted from `fmt` and `args` as vprintf
// does: the form of every error and warning about a line of a score.
std::string lineMessage(const char* kind, std::size_t fileLine, const char* fmt, std::va_list args);

// 60000 / (16 * bpm) in whole milliseconds, truncated; 0 for bpm beyond
// 3750, computed without overflow for any bpm of 1 or more.
std::int32_t sixtyFourthMsFor(std::int32_t bpm);

}  // namespace pitchime
