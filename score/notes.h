// Note numbers as scores and MIDI files write them: MIDI key numbers, 60 is
// middle C and 69 the A of 440 Hz.
#pragma once

#include <string>

namespace pitchime {

inline constexpr int highestNote = 127;

// The lowest note the board sounds at its pitch: below it the count of the
// 8254's clock for the note does not fit the counter's 16 bits.
inline constexpr int lowestCountedNote = 14;

// The note's name and octave, e.g. "C#4" for 61 and "A-1" for 9; 0 to 127.
std::string noteName(int note);

}  // namespace pitchime
