#include "board/write_frame.h"

namespace pitchime {

void encodeWriteFrame(WriteFrame& frame, std::int32_t value, int address) {
    constexpr std::uint8_t base = line::writeStrobe | line::enable;  // 0x24
    const auto a = static_cast<std::uint8_t>((address & 3) << 3);
    const auto v = static_cast<std::uint8_t>(value & 0xFF);
    frame[0] = base;
    frame[1] = base;
    // Eight data bits, most significant first, each held for a clock-low
    // and a clock-high byte: the rising edge shifts it in.
    for (int j = 0; j < 8; ++j) {
        const auto bit = static_cast<std::uint8_t>((v >> (7 - j)) & 1);
        frame[2 + 2 * j] = base | a | bit;
        frame[3 + 2 * j] = base | a | bit | line::shiftClock;
    }
    // One low pulse of the write strobe; the 8254 takes the byte as it rises.
    frame[18] = base | a;
    frame[19] = line::enable | a;
    frame[20] = base | a;
}

}  // namespace pitchime
