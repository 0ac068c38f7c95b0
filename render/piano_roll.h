// The tones the board played as a piano roll in SVG: time across in
// seconds, pitch up with note names, one colour per counter.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "render/tones.h"

namespace pitchime::render {

// Every tone is a bar of its own (class "note cN" for counter N) in the row
// of its nearest key, so the alternating player's sixty-fourths show as two
// interleaved lanes of short bars. Where no counter sounds, a faint band
// (class "rest") marks the rest. Rows of black keys are shaded, every C has
// a line and a name (C4 is MIDI key 60, middle C), as does every key played.
// At 160 pixels a second, a tune longer than ten seconds is wrapped into
// systems of ten seconds each, one below the other. `title` heads the
// picture; the legend names the counters used.
std::string pianoRoll(std::span<const Tone> tones, std::int64_t endUs, const std::string& title);

}  // namespace pitchime::render
