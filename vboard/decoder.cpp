// The board's logic behind the chip's lines: a shift register clocked by
// the shift clock line, the address lines and the write strobe, decoded the
// way the board would, with every line state checked against the protocol
// the board needs. It records what the board saw, never what the sender
// meant.
#include <cstdarg>
#include <cstdio>

#include "vboard/state.h"

namespace pitchime::vboard {

void violation(State& s, std::int64_t tUs, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(s.lastViolation, sizeof s.lastViolation, format, args);
    va_end(args);
    ++s.counts.violations;
    tracePart(s, "{\"t_us\":%lld,\"violation\":\"%s\"}\n", asLL(tUs), s.lastViolation);
}

namespace {

// The one place a decoded 8254 register write arrives: counted, recorded,
// traced, and heard.
void handleRegisterWrite(Board& b, std::int64_t tUs, int address, std::uint8_t value) {
    State& s = b.state;
    soundRegisterWrite(b, tUs, address, value);
    ++s.counts.registerWrites;
    if (s.record.size() < s.options.recordCapacity) {
        s.record.push_back(RegisterWrite{tUs, address, value});
    } else {
        ++s.counts.unrecorded;
    }
    tracePart(s, "{\"t_us\":%lld,\"reg\":%d,\"value\":%d}\n", asLL(tUs), address, static_cast<int>(value));
}

// Marks the current strobe pulse as unable to write, reporting why once.
void spoilStrobe(State& s, std::int64_t tUs, const char* why) {
    if (s.strobeSpoiled) return;
    s.strobeSpoiled = true;
    violation(s, tUs, "%s", why);
}

}  // namespace

void driveLines(Board& b, std::int64_t tUs, std::uint8_t next) {
    State& s = b.state;
    const std::uint8_t prev = s.lines;
    s.lines = next;
    const auto rising = static_cast<std::uint8_t>(~prev & next);
    const auto changed = static_cast<std::uint8_t>(prev ^ next);
    const bool strobeWasLow = (prev & strobeLine) == 0;
    const bool strobeIsLow = (next & strobeLine) == 0;
    // From the byte that pulls the strobe low to the byte that raises it,
    // the address, the enable line and the shift register must hold still.
    const bool inPulse = strobeWasLow || strobeIsLow;
    const bool enabledThroughout = (prev & next & enableLine) != 0;

    if (strobeIsLow && !strobeWasLow) s.strobeSpoiled = false;

    // The all-high byte is the pins' released level; it may only stand
    // outside a strobe pulse, as it does at the start of the idle pattern.
    const bool releaseByte = next == allHigh && !strobeWasLow;
    if ((next & spareLines) != 0 && (next & enableLine) != 0 && !releaseByte) {
        violation(s, tUs, "spare line driven high while the enable line is high (lines 0x%02x)",
                  static_cast<unsigned>(next));
    }

    if ((rising & clockLine) != 0) {
        const bool raced = (changed & dataLine) != 0;
        s.shiftRegister = static_cast<std::uint8_t>((s.shiftRegister << 1) | (next & dataLine));
        s.racedBits = static_cast<std::uint8_t>((s.racedBits << 1) | (raced ? 1 : 0));
        s.unreportedRacedBits =
            static_cast<std::uint8_t>((s.unreportedRacedBits << 1) | (raced && releaseByte ? 1 : 0));
        // The release byte's edge shifts the register like any other, but
        // it carries no bit of a register write.
        if (!releaseByte) {
            if (enabledThroughout) ++s.clockEdges;
            if (raced) violation(s, tUs, "data line changed on the rising edge of the shift clock");
        }
        if (inPulse) spoilStrobe(s, tUs, "shift clock pulsed while the write strobe was low");
    }
    if (inPulse && (changed & addressLines) != 0) {
        spoilStrobe(s, tUs, "address lines changed while the write strobe was low");
    }
    if (inPulse && !enabledThroughout) spoilStrobe(s, tUs, "write strobe low while the enable line was low");

    if (strobeWasLow && !strobeIsLow) {
        // The 8254 takes the shift register's contents at this rising edge.
        if (!s.strobeSpoiled) {
            if (s.clockEdges < bitsPerRegister) {
                violation(s, tUs, "write strobe after %d shift clock edges, %d needed", s.clockEdges,
                          bitsPerRegister);
            } else if (s.unreportedRacedBits != 0) {
                violation(s, tUs, "all-high byte among the shift clock pulses of a register write");
            } else if (s.racedBits == 0) {
                handleRegisterWrite(b, tUs, (next & addressLines) >> addressShift, s.shiftRegister);
            }
        }
        s.clockEdges = 0;
        s.strobeSpoiled = false;
    }
    // With the enable line low the board is at rest; a write starts afresh.
    if ((prev & enableLine) != 0 && (next & enableLine) == 0) s.clockEdges = 0;
}

}  // namespace pitchime::vboard
