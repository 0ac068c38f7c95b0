// A model of the Intel 8254 programmable interval timer as the tone board
// wires it: three counters on one 1193182 Hz clock, GATE held high, OUT
// driving the speaker. It takes register writes at clock ticks and tells,
// counter by counter, when OUT changes, so that a renderer can jump from
// edge to edge instead of stepping every clock.
//
// Time is counted in input-clock ticks: tick k is the k-th clock pulse. A
// write at tick W happens after pulse W and before pulse W + 1, so a count
// written then is loaded on pulse W + 1, the next clock pulse.
//
// What is modelled:
// - A control word resets its counter at once: OUT goes low in mode 0 and
//   high in modes 1 to 5, counting stops, and the counter waits for a count.
//   The write order of a two-byte count starts again with the LSB.
// - Counts are written LSB only, MSB only, or LSB then MSB, as the control
//   word says; a count is complete with its last byte. Binary counts of 0
//   mean 65536, BCD counts of 0 mean 10000.
// - Mode 3 (square wave): a count N is loaded on the next pulse; OUT stays
//   high for (N + 1) / 2 pulses and low for N / 2, so even counts give equal
//   halves and odd counts a high half one pulse longer. A count written while
//   it runs is taken at the end of the current half-cycle, with no phase jump.
// - Mode 1 and mode 5 wait for a rising edge on GATE, which never comes with
//   GATE tied high: OUT stays high, a silent counter.
// - Mode 0: OUT low until N pulses after the load (N + 1 after the write),
//   then high; a new count (or its first byte) sets OUT low and starts again.
// - Mode 2: OUT low for one pulse every N; a new count is taken at the end of
//   the current period.
// - Mode 4: one low strobe of one pulse, N pulses after the load.
// - Counts of 1 in modes 2 and 3 are outside what the chip allows; the model
//   stops the counter with OUT steady (a 1.19 MHz tone would be far above
//   hearing anyway).
// - Counter latch commands and read-back commands change nothing that OUT
//   shows, and reads are not modelled, so they are ignored: the output
//   latch (OL) and the status byte, which only reads see, are not kept.
//
// The fields carry the datasheet's names where the chip has the thing:
// CR, the count register a written count goes to; CE, the counting element
// it is loaded into; OUT; the null count flag, which on the chip is set
// from a count's write into CR to its load into CE. CE is not stepped pulse
// by pulse: the model keeps the count it was loaded with and the tick of
// the next OUT change, which the mode derives from it.
// - Power-up state is undefined on the chip; the model starts each counter
//   stopped with OUT high, the level a control word for modes 1 to 5 gives,
//   so that programming the counters makes no click.
#pragma once

#include <array>
#include <cstdint>
#include <limits>

namespace pitchime::pit8254 {

inline constexpr std::int64_t clockHz = 1193182;
inline constexpr std::int64_t never = std::numeric_limits<std::int64_t>::max();
inline constexpr int controlAddress = 3;

// The clock pulse at or just before `us` microseconds: floor(us * 1193182 / 10^6),
// exact for |us| up to about 89 days.
std::int64_t ticksAt(std::int64_t us);

// One change of a counter's OUT: from `tick` on, OUT is `high`.
struct Edge {
    std::int64_t tick = 0;
    bool high = false;
};

struct Counter {
    // From the last control word.
    std::uint8_t mode = 1;
    std::uint8_t access = 3;  // its RW1 RW0 bits: 1 LSB only, 2 MSB only, 3 LSB then MSB
    bool bcd = false;
    bool msbNext = false;    // the next byte of an LSB-then-MSB count is the MSB (CRm)
    std::uint8_t crLow = 0;  // CRl: the LSB of a count whose MSB is still to come

    bool out = true;  // OUT as of the last edge taken
    // The next OUT change, if any: at `edgeTick` OUT becomes `edgeHigh`.
    std::int64_t edgeTick = never;
    bool edgeHigh = true;

    // CE: the count the counting element was loaded with (in modes 0 and 4,
    // the one it is loaded with at ceLoadTick); 0 when the counter is
    // stopped or waits for a count.
    std::int32_t ce = 0;
    // CR, modes 2 and 3: a count written while CE runs, loaded into CE at
    // the end of the period or half-cycle; 0 when there is none. The chip's
    // null count flag is set exactly while this holds a count.
    std::int32_t cr = 0;
    // Modes 0 and 4: the pulse on which CE is loaded from CR.
    std::int64_t ceLoadTick = 0;
};

struct Chip {
    std::array<Counter, 3> counters{};
};

// Applies one register write made at `tick` to `address` (0 to 2 a counter,
// 3 the control word register). Every OUT change of the addressed counter
// up to and including `tick` must have been taken (takeEdge) first: the write
// changes what comes after it.
void writeRegister(Chip& chip, int address, std::uint8_t value, std::int64_t tick);

// If `counter`'s OUT changes at or before `limit`, takes the earliest such
// change: fills `edge`, moves the counter past it and returns true.
// Otherwise returns false and leaves the counter as it is.
bool takeEdge(Counter& counter, std::int64_t limit, Edge& edge);

}  // namespace pitchime::pit8254
