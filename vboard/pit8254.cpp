// The counters are kept as "the next OUT change and what follows it" rather
// than as a count stepped every clock: each time an edge is taken, the mode
// decides when the next one falls. A three-voice tune then costs work per
// edge, not per clock pulse.
#include "vboard/pit8254.h"

#include <cassert>

namespace pitchime::pit8254 {

namespace {

// Pulses of each half of a mode 3 square wave: the high half takes the odd
// pulse of an odd count.
std::int64_t highPulses(std::int32_t count) { return (count + 1) / 2; }
std::int64_t lowPulses(std::int32_t count) { return count / 2; }

std::int32_t countValue(const Counter& counter, std::uint16_t raw) {
    if (counter.bcd) {
        // Four decades; a nibble above 9 is taken at face value.
        std::int32_t value = 0;
        for (int shift = 12; shift >= 0; shift -= 4) value = value * 10 + ((raw >> shift) & 0xF);
        return value == 0 ? 10000 : value;
    }
    return raw == 0 ? 65536 : raw;
}

void schedule(Counter& counter, std::int64_t tick, bool high) {
    counter.edgeTick = tick;
    counter.edgeHigh = high;
}

void stop(Counter& counter) {
    counter.ce = 0;
    counter.cr = 0;
    counter.edgeTick = never;
}

// OUT goes to `high` at `tick`, with nothing scheduled after it.
void setOutNow(Counter& counter, std::int64_t tick, bool high) {
    counter.edgeTick = never;
    if (counter.out != high) schedule(counter, tick, high);
}

// A count written to a running counter in modes 2 and 3 waits in CR for the
// end of the period (mode 2) or half-cycle (mode 3); this is that moment,
// when CE is loaded from CR.
void loadCeFromCr(Counter& counter) {
    if (counter.cr == 0) return;
    counter.ce = counter.cr;
    counter.cr = 0;
    // A count of 1 is not allowed in these modes: stop with OUT where it is.
    if (counter.ce == 1) counter.ce = 0;
}

// Schedules what follows an OUT change at `tick`, now that OUT is counter.out.
void scheduleAfterEdge(Counter& counter, std::int64_t tick) {
    switch (counter.mode) {
        case 0:
            // Low after a count was written: high when it runs out.
            if (!counter.out && counter.ce > 0) schedule(counter, counter.ceLoadTick + counter.ce, true);
            break;
        case 2:
            if (counter.ce == 0) break;
            if (!counter.out) {
                schedule(counter, tick + 1, true);
            } else {
                loadCeFromCr(counter);
                if (counter.ce > 0) schedule(counter, tick + counter.ce - 1, false);
            }
            break;
        case 3:
            if (counter.ce == 0) break;
            loadCeFromCr(counter);
            if (counter.ce == 0) break;
            schedule(counter, tick + (counter.out ? highPulses(counter.ce) : lowPulses(counter.ce)),
                     !counter.out);
            break;
        case 4:
            if (!counter.out) {
                // The strobe lasts one pulse; the count that caused it is used up.
                counter.ce = 0;
                schedule(counter, tick + 1, true);
            } else if (counter.ce > 0) {
                // A count written during the strobe.
                schedule(counter, counter.ceLoadTick + counter.ce, false);
            }
            break;
        default:
            break;
    }
}

void controlWord(Chip& chip, std::uint8_t value, std::int64_t tick) {
    const int select = value >> 6;
    const int access = (value >> 4) & 3;
    if (select == 3 || access == 0) return;  // read-back or counter latch: nothing OUT shows
    Counter& counter = chip.counters[select];
    assert(counter.edgeTick == never || counter.edgeTick > tick);
    int mode = (value >> 1) & 7;
    if (mode > 5) mode -= 4;  // 110 and 111 are modes 2 and 3
    counter.mode = static_cast<std::uint8_t>(mode);
    counter.access = static_cast<std::uint8_t>(access);
    counter.bcd = (value & 1) != 0;
    counter.msbNext = false;
    stop(counter);
    setOutNow(counter, tick, mode != 0);
}

void countWritten(Counter& counter, std::int32_t count, std::int64_t tick) {
    const std::int64_t load = tick + 1;
    switch (counter.mode) {
        case 0:
            counter.ce = count;
            counter.ceLoadTick = load;
            if (counter.out) {
                setOutNow(counter, tick, false);  // the rise follows this edge
            } else {
                schedule(counter, load + count, true);
            }
            break;
        case 2:
        case 3:
            if (counter.ce > 0) {
                counter.cr = count;
            } else if (count > 1) {
                // The first count after a control word; OUT is high.
                counter.ce = count;
                const std::int64_t highTime = counter.mode == 3 ? highPulses(count) : count - 1;
                schedule(counter, load + highTime, false);
            }
            break;
        case 4:
            counter.ce = count;
            counter.ceLoadTick = load;
            if (counter.out) schedule(counter, load + count, false);
            break;
        default:
            break;  // modes 1 and 5 wait for a GATE trigger that never comes
    }
}

void countByte(Counter& counter, std::uint8_t value, std::int64_t tick) {
    std::uint16_t raw = 0;
    switch (counter.access) {
        case 1:
            raw = value;
            break;
        case 2:
            raw = static_cast<std::uint16_t>(value << 8);
            break;
        default:
            if (!counter.msbNext) {
                counter.crLow = value;
                counter.msbNext = true;
                // In mode 0 the first byte already stops the count and sets OUT low.
                if (counter.mode == 0) {
                    stop(counter);
                    setOutNow(counter, tick, false);
                }
                return;
            }
            counter.msbNext = false;
            raw = static_cast<std::uint16_t>(counter.crLow | value << 8);
            break;
    }
    countWritten(counter, countValue(counter, raw), tick);
}

}  // namespace

std::int64_t ticksAt(std::int64_t us) {
    const std::int64_t product = us * clockHz;
    std::int64_t ticks = product / 1000000;
    if (product % 1000000 < 0) --ticks;
    return ticks;
}

void writeRegister(Chip& chip, int address, std::uint8_t value, std::int64_t tick) {
    if (address == controlAddress) {
        controlWord(chip, value, tick);
    } else if (address >= 0 && address < controlAddress) {
        Counter& counter = chip.counters[address];
        assert(counter.edgeTick == never || counter.edgeTick > tick);
        countByte(counter, value, tick);
    }
}

bool takeEdge(Counter& counter, std::int64_t limit, Edge& edge) {
    while (counter.edgeTick != never && counter.edgeTick <= limit) {
        const std::int64_t tick = counter.edgeTick;
        const bool changed = counter.edgeHigh != counter.out;
        counter.out = counter.edgeHigh;
        counter.edgeTick = never;
        scheduleAfterEdge(counter, tick);
        if (changed) {
            edge = {tick, counter.out};
            return true;
        }
    }
    return false;
}

}  // namespace pitchime::pit8254
