// The sound side of the virtual tone board: the 8254 model edge by edge, and
// rendered audio measured the way a listener would check it.
#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "vboard/pit8254.h"

namespace {

namespace pit = pitchime::pit8254;

using Edges = std::vector<std::pair<std::int64_t, bool>>;

// Takes every OUT change of `counter` up to `limit`.
Edges edgesUpTo(pit::Chip& chip, int counter, std::int64_t limit) {
    Edges edges;
    pit::Edge edge;
    while (pit::takeEdge(chip.counters[counter], limit, edge)) edges.emplace_back(edge.tick, edge.high);
    return edges;
}

// Writes a count LSB at `tick`, MSB one tick later, as the board does.
void writeCount(pit::Chip& chip, int counter, std::int32_t count, std::int64_t tick) {
    pit::writeRegister(chip, counter, static_cast<std::uint8_t>(count & 0xFF), tick);
    pit::writeRegister(chip, counter, static_cast<std::uint8_t>((count >> 8) & 0xFF), tick + 1);
}

// Counter 0 in mode 3 with `count`, MSB written at tick 30: loaded on tick 31.
pit::Chip squareWave(std::int32_t count) {
    pit::Chip chip;
    pit::writeRegister(chip, 3, 0x36, 10);
    writeCount(chip, 0, count, 29);
    return chip;
}

constexpr std::int64_t far = 1'000'000'000;

TEST(Pit8254Time, MicrosecondsBecomeWholeTicksWithoutDrift) {
    EXPECT_EQ(pit::ticksAt(0), 0);
    EXPECT_EQ(pit::ticksAt(1), 1);
    EXPECT_EQ(pit::ticksAt(999'999), 1'193'180);
    EXPECT_EQ(pit::ticksAt(1'000'000), 1'193'182);
    EXPECT_EQ(pit::ticksAt(3'600'000'000), 3600 * pit::clockHz);
    EXPECT_EQ(pit::ticksAt(-1), -2);
}

TEST(Pit8254Mode3, HalfCyclesOfEvenOddAndZeroCounts) {
    pit::Chip even = squareWave(2712);
    EXPECT_EQ(edgesUpTo(even, 0, 31 + 2 * 2712),
              (Edges{{31 + 1356, false}, {31 + 2712, true}, {31 + 4068, false}, {31 + 5424, true}}));

    // Odd: the high half takes the extra pulse.
    pit::Chip odd = squareWave(5);
    EXPECT_EQ(edgesUpTo(odd, 0, 41), (Edges{{34, false}, {36, true}, {39, false}, {41, true}}));

    pit::Chip zero = squareWave(0);
    EXPECT_EQ(edgesUpTo(zero, 0, 31 + 65536), (Edges{{31 + 32768, false}, {31 + 65536, true}}));

    // The longest count lasts exactly its period and never drifts.
    pit::Chip longest = squareWave(0xFFFF);
    const Edges edges = edgesUpTo(longest, 0, 31 + 1000 * 65535);
    ASSERT_EQ(edges.size(), 2000u);
    EXPECT_EQ(edges.front(), (std::pair<std::int64_t, bool>{31 + 32768, false}));
    EXPECT_EQ(edges.back(), (std::pair<std::int64_t, bool>{31 + 1000 * 65535, true}));
}

TEST(Pit8254Mode3, SingleByteAndBcdCounts) {
    pit::Chip lsbOnly;
    pit::writeRegister(lsbOnly, 3, 0x16, 10);
    pit::writeRegister(lsbOnly, 0, 10, 30);
    EXPECT_EQ(edgesUpTo(lsbOnly, 0, 41), (Edges{{36, false}, {41, true}}));

    pit::Chip msbOnly;
    pit::writeRegister(msbOnly, 3, 0x26, 10);
    pit::writeRegister(msbOnly, 0, 1, 30);
    EXPECT_EQ(edgesUpTo(msbOnly, 0, 31 + 256), (Edges{{31 + 128, false}, {31 + 256, true}}));

    pit::Chip bcd;
    pit::writeRegister(bcd, 3, 0x37, 10);
    writeCount(bcd, 0, 0x0010, 29);
    EXPECT_EQ(edgesUpTo(bcd, 0, 41), (Edges{{36, false}, {41, true}}));

    pit::Chip bcdZero;
    pit::writeRegister(bcdZero, 3, 0x37, 10);
    writeCount(bcdZero, 0, 0, 29);
    EXPECT_EQ(edgesUpTo(bcdZero, 0, 31 + 10000), (Edges{{31 + 5000, false}, {31 + 10000, true}}));
}

TEST(Pit8254Mode3, NewCountTakesEffectAtTheEndOfTheHalfCycle) {
    // Written during the high half: that half ends on time, the new count
    // shapes the halves after it.
    pit::Chip duringHigh = squareWave(100);
    EXPECT_TRUE(edgesUpTo(duringHigh, 0, 60).empty());
    writeCount(duringHigh, 0, 40, 60);
    EXPECT_EQ(edgesUpTo(duringHigh, 0, 141), (Edges{{81, false}, {101, true}, {121, false}, {141, true}}));

    // An odd count written during the low half.
    pit::Chip duringLow = squareWave(100);
    EXPECT_EQ(edgesUpTo(duringLow, 0, 90), (Edges{{81, false}}));
    writeCount(duringLow, 0, 41, 90);
    EXPECT_EQ(edgesUpTo(duringLow, 0, 172), (Edges{{131, true}, {152, false}, {172, true}}));

    // Half a count (its LSB) changes nothing.
    pit::Chip halfWritten = squareWave(100);
    pit::writeRegister(halfWritten, 0, 40, 60);
    EXPECT_EQ(edgesUpTo(halfWritten, 0, 231), (Edges{{81, false}, {131, true}, {181, false}, {231, true}}));
}

TEST(Pit8254ControlWord, SetsOutAtOnceAndStopsTheCounter) {
    // Stopping (mode 1) while OUT is low: OUT rises with the write, then
    // stays high, counts or not: no trigger ever comes.
    pit::Chip stopLow = squareWave(100);
    EXPECT_EQ(edgesUpTo(stopLow, 0, 90), (Edges{{81, false}}));
    pit::writeRegister(stopLow, 3, 0x32, 90);
    EXPECT_EQ(edgesUpTo(stopLow, 0, 90), (Edges{{90, true}}));
    writeCount(stopLow, 0, 100, 100);
    EXPECT_TRUE(edgesUpTo(stopLow, 0, far).empty());

    // Stopping while OUT is high makes no edge at all.
    pit::Chip stopHigh = squareWave(100);
    pit::writeRegister(stopHigh, 3, 0x32, 60);
    EXPECT_TRUE(edgesUpTo(stopHigh, 0, far).empty());

    // Mode 0 sets OUT low at once.
    pit::Chip mode0;
    pit::writeRegister(mode0, 3, 0x30, 5);
    EXPECT_EQ(edgesUpTo(mode0, 0, 5), (Edges{{5, false}}));

    // A control word restarts the byte order of a count.
    pit::Chip reordered;
    pit::writeRegister(reordered, 3, 0x36, 10);
    pit::writeRegister(reordered, 0, 0x11, 20);
    pit::writeRegister(reordered, 3, 0x36, 25);
    writeCount(reordered, 0, 4, 29);
    EXPECT_EQ(edgesUpTo(reordered, 0, 36), (Edges{{33, false}, {35, true}}));

    // Restarting a stopped counter loads the new count on the next clock.
    pit::writeRegister(stopLow, 3, 0x36, 500);
    writeCount(stopLow, 0, 6, 600);
    EXPECT_EQ(edgesUpTo(stopLow, 0, 608), (Edges{{605, false}, {608, true}}));
}

TEST(Pit8254ControlWord, OtherCountersLatchesAndReadBacksLeaveACounterAlone) {
    pit::Chip chip = squareWave(100);
    pit::writeRegister(chip, 3, 0x72, 40);  // counter 1, mode 1
    pit::writeRegister(chip, 3, 0xB6, 41);  // counter 2, mode 3
    pit::writeRegister(chip, 3, 0x00, 42);  // latch counter 0
    pit::writeRegister(chip, 3, 0xC2, 43);  // read back counter 0
    pit::writeRegister(chip, 3, 0xE2, 44);  // read back status of counter 0
    EXPECT_EQ(edgesUpTo(chip, 0, 231), (Edges{{81, false}, {131, true}, {181, false}, {231, true}}));
    EXPECT_TRUE(edgesUpTo(chip, 1, far).empty());
    EXPECT_TRUE(edgesUpTo(chip, 2, far).empty());
}

TEST(Pit8254OtherModes, BehaveSimplyAndStayInStep) {
    // Mode 0: high N + 1 pulses after the write; a new count's first byte
    // sets OUT low at once and the count starts again.
    pit::Chip mode0;
    pit::writeRegister(mode0, 3, 0x30, 10);
    EXPECT_EQ(edgesUpTo(mode0, 0, 10), (Edges{{10, false}}));
    writeCount(mode0, 0, 5, 20);
    EXPECT_EQ(edgesUpTo(mode0, 0, 39), (Edges{{27, true}}));
    pit::writeRegister(mode0, 0, 3, 40);
    EXPECT_EQ(edgesUpTo(mode0, 0, 40), (Edges{{40, false}}));
    pit::writeRegister(mode0, 0, 0, 41);
    EXPECT_EQ(edgesUpTo(mode0, 0, far), (Edges{{45, true}}));

    // Mode 2: low for one pulse in every N.
    pit::Chip mode2;
    pit::writeRegister(mode2, 3, 0x34, 10);
    writeCount(mode2, 0, 4, 20);
    EXPECT_EQ(edgesUpTo(mode2, 0, 30), (Edges{{25, false}, {26, true}, {29, false}, {30, true}}));

    // Mode bits 110 and 111 are modes 2 and 3.
    pit::Chip mode7;
    pit::writeRegister(mode7, 3, 0x3E, 10);
    writeCount(mode7, 0, 4, 20);
    EXPECT_EQ(edgesUpTo(mode7, 0, 26), (Edges{{24, false}, {26, true}}));

    // Mode 4: one strobe.
    pit::Chip mode4;
    pit::writeRegister(mode4, 3, 0x38, 10);
    writeCount(mode4, 0, 4, 20);
    EXPECT_EQ(edgesUpTo(mode4, 0, far), (Edges{{26, false}, {27, true}}));

    // Mode 5 waits for a trigger; mode 3 refuses a count of 1.
    for (const std::uint8_t control : {std::uint8_t{0x3A}, std::uint8_t{0x36}}) {
        pit::Chip chip;
        pit::writeRegister(chip, 3, control, 10);
        writeCount(chip, 0, control == 0x3A ? 4 : 1, 20);
        EXPECT_TRUE(edgesUpTo(chip, 0, far).empty()) << int{control};
    }
}

}  // namespace
