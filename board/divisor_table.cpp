#include "board/divisor_table.h"

#include "score/notes.h"

namespace pitchime {

namespace {
// Notes 60 to 71, equal-tempered with A = 440 Hz.
constexpr std::array<double, 12> baseOctaveHz{261.625565, 277.182631, 293.664768, 311.126984,
                                              329.627556, 349.228231, 369.994423, 391.995436,
                                              415.304698, 440.0,      466.163762, 493.883301};
}  // namespace

void buildDivisorTable(DivisorTable& t) {
    t.noteHz[0] = 0.0;
    for (int i = 0; i < 12; ++i) t.noteHz[60 + i] = baseOctaveHz[i];
    // Halving and doubling are exact in binary floating point.
    for (int n = 59; n >= 1; --n) t.noteHz[n] = t.noteHz[n + 12] * 0.5;
    for (int n = 72; n < noteNumbers; ++n) t.noteHz[n] = t.noteHz[n - 12] * 2.0;

    // Below note 14 the count would not fit 16 bits; note 0 has no pitch.
    for (int n = 0; n < lowestCountedNote; ++n) t.noteCount[n] = countBelowRange;
    for (int n = lowestCountedNote; n < noteNumbers; ++n)
        t.noteCount[n] = static_cast<std::uint16_t>(timerClockHz / t.noteHz[n] + 0.5);

    for (int n = 0; n < noteNumbers; ++n) {
        t.bytes[2 * n] = static_cast<std::uint8_t>(t.noteCount[n] & 0xFF);
        t.bytes[2 * n + 1] = static_cast<std::uint8_t>(t.noteCount[n] >> 8);
    }
}

}  // namespace pitchime
