// The sound pitchime-render writes, and the virtual board records for a
// program, listened to: pitch, rests, where each row starts, the whole of
// the bundled tunes.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "support/run.h"
#include "support/sound.h"

namespace pitchime::test {
namespace {

constexpr double clockHz = 1193182.0;

struct Rendered {
    Result result;
    Sound sound;
    std::vector<double> rows;  // seconds of each row, from the REAL: lines of --trace
};

Rendered render(const std::string& name, const std::string& score, std::vector<std::string> flags) {
    const std::string path = tempDir() + "/" + name;
    if (!score.empty()) std::ofstream(path + ".txt") << score;
    flags.insert(flags.begin(), {PITCHIME_BIN_DIR "/pitchime-render", "--trace"});
    flags.insert(
        flags.end(),
        {score.empty() ? PITCHIME_SOURCE_DIR "/examples/" + name + ".txt" : path + ".txt", path + ".wav"});
    Rendered r{run({.argv = flags}), {}, {}};
    EXPECT_EQ(r.result.status, 0) << r.result.err;
    EXPECT_EQ(readWav(path + ".wav", r.sound), "");
    std::istringstream lines(r.result.out);
    for (std::string line; std::getline(lines, line);)
        if (line.starts_with("REAL:\t")) r.rows.push_back(std::stod(line.substr(6)) / 1000.0);
    return r;
}

double peakHz(const Sound& sound, double from, std::size_t size) {
    const std::vector<double> peak = peaksHz(spectrum(sound, from, size), 50.0, 5000.0, 1);
    return peak.empty() ? 0.0 : peak[0];
}

TEST(RenderListening, ChordFundamentalsAndRests) {
    // Half notes of 0.992 s: notes 60, 64 and 67, then voice 1 resting, then
    // all three resting, then note 72 alone.
    const Rendered r = render("chord", "120\n3\n60,64,67,2\n60,0,67,2\n0,0,0,2\n72,0,0,2\n", {});
    const double hz[] = {clockHz / 4561, clockHz / 3620, clockHz / 3044};
    std::vector<double> peaks = peaksHz(spectrum(r.sound, 0.2, 32768), 50.0, 5000.0, 3);
    ASSERT_EQ(peaks.size(), 3u);
    std::sort(peaks.begin(), peaks.end());
    for (int v = 0; v < 3; ++v) EXPECT_NEAR(peaks[v], hz[v], 0.5) << v;
    // A rest takes its own voice away and no other.
    const Spectrum s = spectrum(r.sound, 1.1, 32768);
    const auto level = [&s](double at) { return s.magnitude[static_cast<std::size_t>(at / s.binHz + 0.5)]; };
    EXPECT_LT(level(hz[1]), 0.01 * level(hz[0]));
    EXPECT_GT(level(hz[2]), 0.5 * level(hz[0]));
    // Once the coupling capacitor has let the last step go: nothing at all.
    EXPECT_LT(rms(r.sound, 2.2, 2.97), 1.0);
    EXPECT_NEAR(peakHz(r.sound, 3.05, 32768), clockHz / 2280, 0.5);
}

TEST(RenderListening, EachNoteStartsWhereItsRowStarts) {
    // 150 BPM: notes of six lengths on all three counters, each after a
    // rest, for 26 s, so that any drift between the rows' time and the
    // sound's shows. Above 700 Hz: a counter starts with its output high,
    // so its first edge comes half a period after the row starts.
    std::string score = "150\n3\n";
    const int lengths[] = {4, 8, 16, 2, 32, 1};
    for (int i = 0; i < 36; ++i) {
        std::string notes[3] = {"0", "0", "0"};
        notes[i % 3] = std::to_string(78 + i % 14);
        score +=
            notes[0] + "," + notes[1] + "," + notes[2] + "," + std::to_string(lengths[i % 6]) + "\n0,0,0,8\n";
    }
    const Rendered r = render("onsets", score, {});
    ASSERT_EQ(r.rows.size(), 72u);
    double rowStart = 0.0;  // sample 0 is the start of the first row
    for (std::size_t i = 0; i < r.rows.size(); i += 2) {
        std::size_t n = r.sound.at(std::max(0.0, rowStart - 0.01));
        while (n < r.sound.samples.size() && std::abs(r.sound.samples[n]) < 0.1 * fullScale) ++n;
        EXPECT_NEAR(static_cast<double>(n) / r.sound.rate, rowStart + 0.0005, 0.0005) << "row " << i + 1;
        rowStart += r.rows[i] + r.rows[i + 1];
    }
    EXPECT_GT(rowStart, 25.0);
}

TEST(RenderListening, TrillAlternatesTwoPitchesEverySixtyFourth) {
    // Notes 69 and 76 for a whole note at 120 BPM: 64 pitches of 31 ms, each
    // new count taken at the end of the half-cycle in progress.
    const Rendered r = render("trill", "120\n2\n69,76,1\n", {"--trill"});
    for (int k = 1; k < 63; ++k)
        EXPECT_NEAR(peakHz(r.sound, k * 0.031 + 0.006, 1024), clockHz / (k % 2 == 0 ? 2712 : 1810), 15.0)
            << k;
}

TEST(RenderListening, BundledTunesRenderWholeAndUnclipped) {
    for (const auto& [tune, flags] : {std::pair<const char*, std::vector<std::string>>{"ode-to-joy", {}},
                                      {"frere-jacques-round", {}},
                                      {"twinkle-twinkle-little-star", {}},
                                      {"minuet-in-g", {"--trill"}}}) {
        SCOPED_TRACE(tune);
        const Rendered r = render(tune, "", flags);
        double seconds = 0.25;  // the tail after the last row
        for (double s : r.rows) seconds += s;
        EXPECT_NEAR(r.sound.seconds(), seconds, 0.001);
        const auto [low, high] = std::minmax_element(r.sound.samples.begin(), r.sound.samples.end());
        EXPECT_GT(*low, -32768);
        EXPECT_LT(*high, 32767);
        EXPECT_GT(rms(r.sound, 0.0, r.sound.seconds()), 0.05 * fullScale);
    }
}

TEST(ProgramSound, ARunInterruptedByCtrlCIsRecordedWhole) {
    // A sixty-fourth of note 69 (62 ms at 60 BPM), then whole notes of four
    // seconds: Ctrl+C comes once the first row has ended.
    const std::string wav = tempDir() + "/interrupted.wav";
    std::ofstream(tempDir() + "/long.txt") << "60\n1\n69,64\n69,1\n69,1\n";
    const Result r = run({.argv = {PITCHIME_BIN_DIR "/pitchime", tempDir() + "/long.txt"},
                          .env = {"PITCHIME_VBOARD_WAV=" + wav},
                          .keys = {{"REAL:", "\x03"}}});
    EXPECT_TRUE(r.out.ends_with("Released\n"));
    Sound sound;
    ASSERT_EQ(readWav(wav, sound), "");
    EXPECT_GT(sound.seconds(), 0.062);
    EXPECT_LT(sound.seconds(), 3.0);
    EXPECT_NEAR(peakHz(sound, sound.seconds() - 0.06, 2048), clockHz / 2712, 15.0);
}

}  // namespace
}  // namespace pitchime::test
