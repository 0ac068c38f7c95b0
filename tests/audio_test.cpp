// The sound side of the virtual tone board: the 8254 model edge by edge, and
// rendered audio measured the way a listener would check it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/sound.h"
#include "vboard/pit8254.h"
#include "vboard/recording.h"

namespace {

namespace pit = pitchime::pit8254;
using pitchime::test::fullScale;
using pitchime::test::readWav;
using pitchime::test::rms;
using pitchime::test::Sound;
using pitchime::test::spectrum;
using pitchime::test::Spectrum;

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

// Counter 0 set up by `control` at tick 10, then given `count` in the byte
// order the control word asks for, the last byte at tick 30: loaded on tick 31.
pit::Chip counting(std::uint8_t control, std::int32_t count) {
    pit::Chip chip;
    pit::writeRegister(chip, 3, control, 10);
    const int access = control >> 4 & 3;
    if (access == 3) pit::writeRegister(chip, 0, static_cast<std::uint8_t>(count & 0xFF), 29);
    pit::writeRegister(chip, 0, static_cast<std::uint8_t>(access == 1 ? count & 0xFF : count >> 8 & 0xFF),
                       30);
    return chip;
}

pit::Chip squareWave(std::int32_t count) { return counting(0x36, count); }

constexpr std::int64_t far = 1'000'000'000;

TEST(Pit8254Time, MicrosecondsBecomeWholeTicksWithoutDrift) {
    EXPECT_EQ(pit::ticksAt(999'999), 1'193'180);
    EXPECT_EQ(pit::ticksAt(1'000'000), 1'193'182);
    EXPECT_EQ(pit::ticksAt(3'600'000'000), 3600 * pit::clockHz);
    EXPECT_EQ(pit::ticksAt(-1), -2);
}

TEST(Pit8254, EachModeAndByteOrderFromTheLoad) {
    const struct {
        std::uint8_t control;
        std::int32_t count;
        std::int64_t limit;
        Edges edges;
    } cases[] = {
        {0x36,
         2712,
         31 + 2 * 2712,
         {{31 + 1356, false}, {31 + 2712, true}, {31 + 4068, false}, {31 + 5424, true}}},
        {0x36,
         5,
         41,
         {{34, false}, {36, true}, {39, false}, {41, true}}},  // the high half takes the extra pulse
        {0x36, 0, 31 + 65536, {{31 + 32768, false}, {31 + 65536, true}}},
        {0x16, 10, 41, {{36, false}, {41, true}}},                          // LSB only
        {0x26, 0x100, 31 + 256, {{31 + 128, false}, {31 + 256, true}}},     // MSB only
        {0x37, 0x0010, 41, {{36, false}, {41, true}}},                      // BCD
        {0x34, 4, 39, {{34, false}, {35, true}, {38, false}, {39, true}}},  // mode 2: low one pulse in N
        {0x3E, 4, 35, {{33, false}, {35, true}}},                           // mode bits 111: mode 3
        {0x38, 4, far, {{35, false}, {36, true}}},                          // mode 4: one strobe
        {0x3A, 4, far, {}},                                                 // mode 5 waits for a trigger
        {0x36, 1, far, {}},                                                 // mode 3 refuses a count of 1
    };
    for (const auto& c : cases) {
        pit::Chip chip = counting(c.control, c.count);
        EXPECT_EQ(edgesUpTo(chip, 0, c.limit), c.edges)
            << "control " << int{c.control} << ", count " << c.count;
    }
    // The longest count lasts exactly its period and never drifts.
    pit::Chip longest = squareWave(0xFFFF);
    const Edges edges = edgesUpTo(longest, 0, 31 + 1000 * 65535);
    ASSERT_EQ(edges.size(), 2000u);
    EXPECT_EQ(edges.back(), (std::pair<std::int64_t, bool>{31 + 1000 * 65535, true}));
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

    // A control word restarts the byte order of a count.
    pit::Chip reordered;
    pit::writeRegister(reordered, 3, 0x36, 10);
    pit::writeRegister(reordered, 0, 0x11, 20);
    pit::writeRegister(reordered, 3, 0x36, 25);
    writeCount(reordered, 0, 4, 29);
    EXPECT_EQ(edgesUpTo(reordered, 0, 36), (Edges{{33, false}, {35, true}}));
}

TEST(Pit8254OtherModes, Mode0GoesHighNPlusOnePulsesAfterEachNewCount) {
    // OUT goes low with the control word, and with a new count's first byte,
    // and the count starts again.
    pit::Chip mode0;
    pit::writeRegister(mode0, 3, 0x30, 10);
    EXPECT_EQ(edgesUpTo(mode0, 0, 10), (Edges{{10, false}}));
    writeCount(mode0, 0, 5, 20);
    EXPECT_EQ(edgesUpTo(mode0, 0, 39), (Edges{{27, true}}));
    pit::writeRegister(mode0, 0, 3, 40);
    EXPECT_EQ(edgesUpTo(mode0, 0, 40), (Edges{{40, false}}));
    pit::writeRegister(mode0, 0, 0, 41);
    EXPECT_EQ(edgesUpTo(mode0, 0, far), (Edges{{45, true}}));
}

// Listening: register writes as the board would see them, rendered to a WAV
// file, read back and measured.

namespace audio = pitchime::audio;

std::string tempPath(const char* name) {
    return ::testing::TempDir() + "pitchime_audio_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" + name;
}

// One register write takes a 21-byte frame on the lines, about 112 us.
constexpr std::int64_t frameUs = 112;

// Counter 0 set to mode 3 with `count` from `us` on, the three writes a
// frame apart as the board sends them, recorded from 0 to `endUs`.
Sound renderNote(std::int32_t count, std::int64_t us, std::int64_t endUs,
                 audio::SpeakerOptions options = {}) {
    const std::string path = tempPath("note.wav");
    auto recording = std::make_unique<audio::Recording>();
    EXPECT_TRUE(audio::recordingStart(*recording, path.c_str(), 0, options));
    audio::recordingWrite(*recording, us, 3, 0x36);
    audio::recordingWrite(*recording, us + frameUs, 0, static_cast<std::uint8_t>(count & 0xFF));
    audio::recordingWrite(*recording, us + 2 * frameUs, 0, static_cast<std::uint8_t>(count >> 8));
    EXPECT_TRUE(audio::recordingFinish(*recording, endUs));
    Sound sound;
    EXPECT_EQ(readWav(path, sound), "");
    EXPECT_GE(sound.samples.size(), static_cast<std::size_t>(endUs * options.sampleRate / 1'000'000));
    std::remove(path.c_str());
    return sound;
}

TEST(Listening, HighNotesDoNotFoldBackIntoTheAudibleBand) {
    // Note 127, 12.56 kHz: its harmonics at 37.7, 62.8, 87.9 kHz... would
    // fold back to 10.3, 14.8, 8.1 kHz... if they were not band-limited.
    const Spectrum s = spectrum(renderNote(95, 0, 1'000'000), 0.1, 32768);
    double tone = 0.0, folded = 0.0;
    for (std::size_t k = 1; k < s.magnitude.size(); ++k) {
        const double hz = k * s.binHz;
        const double power = s.magnitude[k] * s.magnitude[k];
        if (std::fabs(hz - 1193182.0 / 95.0) < 10 * s.binHz) tone += power;
        if (hz > 100.0 && hz < 11'000.0) folded += power;
    }
    EXPECT_LT(10.0 * std::log10(folded / tone), -80.0);
}

TEST(Listening, EdgesFallAtTheTimeOfTheWriteThatCausedThem) {
    // The count is loaded on the clock after its high byte; the wave then
    // stays high for 1356 clocks and falls. An ideal fall at time t from 0 to
    // -step leaves, summed over the samples around it, t - n0 + 1/2 samples'
    // worth of "not yet fallen" from sample n0 on, and a band-limited fall
    // leaves exactly as much. The coupling capacitor is made large here so
    // that it does not drain the level while it is summed.
    for (const std::int64_t startUs : {100'000, 100'010, 100'020}) {
        const Sound r = renderNote(2712, startUs, 110'000, {.couplingHz = 0.001});
        const std::int64_t edgeTick = pit::ticksAt(startUs + 2 * frameUs) + 1 + 1356;
        const double expected = static_cast<double>(edgeTick) * r.rate / pit::clockHz;

        EXPECT_EQ(rms(r, 0.0, 0.1), 0.0);
        const double step = -0.6 * fullScale;
        const auto n0 = static_cast<std::size_t>(expected) - 40;
        double notYet = 0.0;
        for (std::size_t n = n0; n < n0 + 80; ++n) notYet += (r.samples[n] - step) / -step;
        EXPECT_NEAR(n0 - 0.5 + notYet, expected, 0.01) << startUs;
    }
}

}  // namespace
