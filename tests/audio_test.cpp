// The sound side of the virtual tone board: the 8254 model write by write,
// the WAV writer's sizes, and rendered audio measured the way a listener
// would check it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/cases.h"
#include "support/sound.h"
#include "vboard/pit8254.h"
#include "vboard/recording.h"
#include "vboard/wav.h"

namespace pitchime {
namespace {

namespace pit = pit8254;
using test::words;

TABLE_TEST(Pit8254, Edges, test::rows("data/pit8254.txt")) {
    pit::Chip chip;
    std::ostringstream got;
    std::string want;
    for (const std::string& t : words(GetParam().text)) {
        want += " " + t;
        if (const auto tilde = t.find('~'); tilde != std::string::npos) {
            got << ' ' << t.substr(0, tilde) << '~' << pit::ticksAt(std::stoll(t));
        } else if (const auto at = t.find('@'); at != std::string::npos) {
            pit::writeRegister(chip, t[0] - '0',
                               static_cast<std::uint8_t>(std::stoi(t.substr(2), nullptr, 16)),
                               std::stoll(t.substr(at + 1)));
            got << ' ' << t;
        } else if (t[0] == '?') {
            got << ' ' << t;
            for (int c = 0; c < 3; ++c)
                for (pit::Edge e; pit::takeEdge(chip.counters[c], std::stoll(t.substr(1)), e);)
                    got << ' ' << (c ? std::to_string(c) + ":" : "") << e.tick << (e.high ? '+' : '-');
        }
    }
    EXPECT_EQ(got.str(), want);
}

TABLE_TEST(Wav, Sizes, test::rows("data/wav.txt")) {
    const std::string path = ::testing::TempDir() + "pitchime_wav_sizes_" + std::to_string(getpid()) + ".wav";
    const auto w = words(GetParam().text);
    const std::vector<std::int16_t> samples(std::stoul(w[2]), 1);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    audio::WavWriter writer;
    audio::wavStart(writer, f, std::stoul(w[0]));
    writer.dataBytes = static_cast<std::uint32_t>(std::stoul(w[1]));
    audio::wavAppend(writer, samples.data(), samples.size());
    if (w[3] == "finish") audio::wavFinish(writer);
    std::fclose(f);
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> b{std::istreambuf_iterator<char>(in), {}};
    std::remove(path.c_str());
    const auto le32 = [&](std::size_t at) {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<std::uint8_t>(b.at(at + i));
        return v;
    };
    std::string got = w[0] + " " + w[1] + " " + w[2] + " " + w[3], want = w[0];
    for (std::size_t i = 1; i < w.size(); ++i) want += " " + w[i];
    for (std::size_t field : {le32(4), le32(40), static_cast<std::uint32_t>(b.size())})
        got.append(" ").append(std::to_string(field));
    EXPECT_EQ(got + (writer.failed ? " failed" : " ok"), want);
}

// One register write takes a 21-byte frame on the lines, about 112 us.
constexpr std::int64_t frameUs = 112;
// Sample 0 of each recording: not at tick 0, as a program's recording is not.
constexpr std::int64_t originUs = 1'234'567;

// Counter 0 set to mode 3 with `count` from `us` on, the three writes a
// frame apart as the board sends them, recorded from 0 to `endUs`.
test::Sound renderNote(std::int32_t count, std::int64_t us, std::int64_t endUs,
                       audio::SpeakerOptions options = {}) {
    const std::string path =
        ::testing::TempDir() + "pitchime_audio_note_" + std::to_string(getpid()) + ".wav";
    auto recording = std::make_unique<audio::Recording>();
    EXPECT_TRUE(audio::recordingStart(*recording, path.c_str(), originUs, options));
    audio::recordingWrite(*recording, originUs + us, 3, 0x36);
    audio::recordingWrite(*recording, originUs + us + frameUs, 0, static_cast<std::uint8_t>(count & 0xFF));
    audio::recordingWrite(*recording, originUs + us + 2 * frameUs, 0, static_cast<std::uint8_t>(count >> 8));
    EXPECT_TRUE(audio::recordingFinish(*recording, originUs + endUs));
    test::Sound sound;
    EXPECT_EQ(test::readWav(path, sound), "");
    EXPECT_GE(sound.samples.size(), static_cast<std::size_t>(endUs * sound.rate / 1'000'000));
    std::remove(path.c_str());
    return sound;
}

TEST(Audio, HighNotesSoundTheirPitchAndDoNotFoldBack) {
    // Note 127, 12.56 kHz: its harmonics at 37.7, 62.8, 87.9 kHz... would
    // fold back to 10.3, 14.8, 8.1 kHz... if they were not band-limited.
    const test::Spectrum s = test::spectrum(renderNote(95, 0, 1'000'000), 0.1, 32768);
    EXPECT_NEAR(test::peaksHz(s, 50.0, 20'000.0, 1).at(0), 1193182.0 / 95.0, 0.5);
    double tone = 0.0, folded = 0.0;
    for (std::size_t k = 1; k < s.magnitude.size(); ++k) {
        const double hz = k * s.binHz;
        const double power = s.magnitude[k] * s.magnitude[k];
        if (std::fabs(hz - 1193182.0 / 95.0) < 10 * s.binHz) tone += power;
        if (hz > 100.0 && hz < 11'000.0) folded += power;
    }
    EXPECT_LT(10.0 * std::log10(folded / tone), -80.0);
    // Sample rates are held to 8 to 192 kHz.
    EXPECT_EQ(renderNote(95, 0, 1000, {.sampleRate = 1}).rate, 8000);
    EXPECT_EQ(renderNote(95, 0, 1000, {.sampleRate = 1'000'000}).rate, 192000);
}

TEST(Audio, EdgesFallAtTheTimeOfTheWriteThatCausedThem) {
    // The count is loaded on the clock after its high byte; the wave then
    // stays high for 1356 clocks and falls. An ideal fall at time t from 0 to
    // -step leaves, summed over the samples around it, t - n0 + 1/2 samples'
    // worth of "not yet fallen" from sample n0 on, and a band-limited fall
    // leaves exactly as much. The coupling capacitor is made large here so
    // that it does not drain the level while it is summed.
    for (const std::int64_t startUs : {100'000, 100'010, 100'020}) {
        const test::Sound r = renderNote(2712, startUs, 110'000, {.couplingHz = 0.001});
        const std::int64_t edgeTick =
            pit::ticksAt(originUs + startUs + 2 * frameUs) + 1 + 1356 - pit::ticksAt(originUs);
        const double expected = static_cast<double>(edgeTick) * r.rate / pit::clockHz;

        EXPECT_EQ(test::rms(r, 0.0, 0.1), 0.0);
        const double step = -0.6 * test::fullScale;
        const auto n0 = static_cast<std::size_t>(expected) - 40;
        double notYet = 0.0;
        for (std::size_t n = n0; n < n0 + 80; ++n) notYet += (r.samples[n] - step) / -step;
        EXPECT_NEAR(n0 - 0.5 + notYet, expected, 0.01) << startUs;
    }
}

}  // namespace
}  // namespace pitchime
