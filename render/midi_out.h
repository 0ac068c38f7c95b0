// The tones the board played as a Standard MIDI File, for any MIDI program
// or synthesiser to play or show.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "render/tones.h"

namespace pitchime::render {

// A format 1 file: a tempo track, then one track per counter that sounds,
// named "counter N", on MIDI channel N, with the square-lead program. Each
// tone is a note of the nearest key at velocity 96, on and off at its
// times; every track ends at `endUs`, the end of play.
//
// One tick is one millisecond. When a sixty-fourth note lasts
// `sixtyFourthMs` of 1 to 1048 ms, a quarter note is 16 of them, as played
// (the score's BPM with the sixty-fourth rounded down to whole
// milliseconds), so bars and beats line up with the score; otherwise the
// tempo is 120 BPM. Times are rounded down to whole milliseconds, which
// the rows of a render always are.
std::string midiFile(std::span<const Tone> tones, std::int64_t endUs, std::int32_t sixtyFourthMs);

}  // namespace pitchime::render
