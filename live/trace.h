// The live player's record of what it played, as text: one line per message
// or timed change, without a line end, e.g.
//     12.345  90 3c 64  run0 c0=4561
// the time in seconds from `originUs`, the message's bytes in hex ("--" for
// a timed change) and the register writes: "runN" and "stopN" the control
// words that start and stop counter N, "cN=COUNT" a count loaded into it,
// "-" none. Formatted into the caller's buffer: nothing is allocated.
#pragma once

#include <cstddef>
#include <cstdint>

#include "live/engine.h"
#include "live/runner.h"

namespace pitchime::live {

// The writes alone; returns the length written (truncated to `size` - 1).
std::size_t formatWrites(char* out, std::size_t size, const Writes& writes);

// The whole line.
std::size_t formatPlayed(char* out, std::size_t size, const Played& played, std::int64_t originUs);

}  // namespace pitchime::live
