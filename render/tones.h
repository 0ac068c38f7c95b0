// What the board plays, as tones: the 8254 register writes the virtual board
// decoded, replayed through the model of the 8254, become the stretches of
// time in which a counter sounds a square wave of one count. They come from
// what the board saw, never from the score text.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "vboard/pit8254.h"
#include "vboard/vboard.h"

namespace pitchime::render {

// The 8254's counters, each a voice of the board.
inline constexpr int counters = static_cast<int>(pit8254::Chip{}.counters.size());

struct Tone {
    int counter = 0;           // 0 to counters - 1
    std::int64_t startUs = 0;  // the register write that started it
    std::int64_t endUs = 0;    // the write that changed or stopped it, or the end of play
    std::int32_t count = 0;    // 2 to 65536

    bool operator==(const Tone&) const = default;
};

// The tones of `writes` (oldest first, times since the start of play), by
// start time, then counter. A count written while a counter sounds the same
// count continues its tone; a different count starts a new one, and so does
// the first count after a control word; a control word stops the tone (a
// square-wave one re-arms the counter, any other mode leaves it silent).
// Tones still sounding at `endUs` end there; tones of no length are left out.
std::vector<Tone> tonesOf(std::span<const vboard::RegisterWrite> writes, std::int64_t endUs);

// The tone's frequency: the 8254's clock over its count.
double toneHz(std::int32_t count);

// The MIDI key nearest to that frequency (69 is A at 440 Hz), 0 to 127. The
// players' counts come from equal-tempered pitches, so each maps back to the
// note it was made for; a count far from any key still gets the nearest one,
// without a pitch bend. Counts below note 14 (too long for 16 bits) read as
// the lowest count's pitch, key 14.
int nearestKey(std::int32_t count);

}  // namespace pitchime::render
