// The line states that write one byte into one 8254 register through the
// board's serial bus, and the pattern that brings the lines to rest.
//
// Bit of every byte sent: 0 serial data, 1 shift clock, 2 write strobe
// (active low), 3 and 4 the 8254 address lines A0 and A1, 5 enable line,
// 6 and 7 spare (low).
#pragma once

#include <array>
#include <cstdint>

namespace pitchime {

namespace line {
inline constexpr std::uint8_t data = 0x01;
inline constexpr std::uint8_t shiftClock = 0x02;
inline constexpr std::uint8_t writeStrobe = 0x04;
inline constexpr std::uint8_t address0 = 0x08;
inline constexpr std::uint8_t address1 = 0x10;
inline constexpr std::uint8_t enable = 0x20;
}  // namespace line

inline constexpr int writeFrameSize = 21;
inline constexpr int controlWordAddress = 3;

// The bytes of one register write, sent in one device write.
using WriteFrame = std::array<std::uint8_t, writeFrameSize>;

inline constexpr std::array<std::uint8_t, 3> idlePattern{0xFF, 0x24, 0x04};

// 8254 control words per counter: LSB then MSB, binary counting, and
// mode 3 (square wave) to run, mode 1 (one-shot, never triggered) to stop.
inline constexpr std::array<std::int32_t, 3> runControlWords{0x36, 0x76, 0xB6};
inline constexpr std::array<std::int32_t, 3> stopControlWords{0x32, 0x72, 0xB2};

// Fills `frame` for the low 8 bits of `value` to 8254 `address` (0-3).
void encodeWriteFrame(WriteFrame& frame, std::int32_t value, int address);

}  // namespace pitchime
