// The 8254 count for every note number: 1193182 Hz divided by the note's
// equal-tempered frequency, rounded half up.
#pragma once

#include <array>
#include <cstdint>

namespace pitchime {

inline constexpr double timerClockHz = 1193182.0;
inline constexpr int noteNumbers = 128;
// The count of every note below lowestCountedNote (score/notes.h), note 0
// among them (the trill player's rest): the longest count, about 18 Hz, a
// buzz below every key the board plays.
inline constexpr std::uint16_t countBelowRange = 0xFFFF;

struct DivisorTable {
    std::array<double, noteNumbers> noteHz{};
    std::array<std::uint16_t, noteNumbers> noteCount{};
    // Each count as two bytes, low byte first: the order the 8254 takes it.
    std::array<std::uint8_t, 2 * noteNumbers> bytes{};

    std::uint8_t low(int note) const { return bytes[2 * note]; }
    std::uint8_t high(int note) const { return bytes[2 * note + 1]; }
};

// Fills `table`.
void buildDivisorTable(DivisorTable& table);

}  // namespace pitchime
