// pitchime-render run as a user runs it, and the sound it writes listened
// to; and the sound file the virtual board writes for a program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/sound.h"
#include "support/transcript.h"

namespace pitchime::test {
namespace {

constexpr double clockHz = 1193182.0;
constexpr double tailSeconds = 0.25;

struct Rendered {
    RunResult result;
    Sound sound;
    std::string wavPath;
};

// Renders `text` as a score with `flags`; reads the WAV back when the run succeeded.
Rendered render(const std::string& name, const std::string& text, std::vector<std::string> flags = {}) {
    const std::string score = writeTempFile(name + ".txt", text);
    Rendered r;
    r.wavPath = tempPath(name + ".wav");
    std::filesystem::remove(r.wavPath);
    flags.insert(flags.end(), {score, r.wavPath});
    r.result = run(programPath("pitchime-render"), {.args = flags});
    if (r.result.status == 0) {
        EXPECT_EQ(readWav(r.wavPath, r.sound), "");
    }
    return r;
}

// The rows' times from a row trace: the "REAL:\t" values, which in virtual
// time are exactly what each row waited.
std::vector<double> rowSeconds(const std::string& trace) {
    std::vector<double> rows;
    for (const std::string& line : splitLines(trace)) {
        if (line.rfind("REAL:\t", 0) == 0) rows.push_back(std::stod(line.substr(6)) / 1000.0);
    }
    return rows;
}

TEST(RenderListening, NoteSixtyNineSoundsAtTheClockOverItsCount) {
    // Count 2712: 439.97 Hz, 0.16 Hz away from a count one more or less.
    const Rendered r = render("a440", "120\n1\n69,1\n", {"--rate", "44100"});
    ASSERT_EQ(r.result.status, 0) << r.result.err;
    EXPECT_EQ(r.sound.rate, 44100);
    const std::vector<double> peak = peaksHz(spectrum(r.sound, 0.2, 65536), 50.0, 5000.0, 1);
    ASSERT_EQ(peak.size(), 1u);
    EXPECT_NEAR(peak[0], clockHz / 2712, 0.5);
}

TEST(RenderListening, ChordFundamentalsAndRests) {
    // Half notes of 0.992 s: notes 60, 64 and 67, then voice 1 resting, then
    // all three resting, then note 72 alone.
    const Rendered r = render("chord", "120\n3\n60,64,67,2\n60,0,67,2\n0,0,0,2\n72,0,0,2\n");
    ASSERT_EQ(r.result.status, 0) << r.result.err;
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
    EXPECT_NEAR(zeroCrossingHz(r.sound, 3.05, 3.95), clockHz / 2280, 0.1);
}

TEST(RenderListening, EachNoteStartsWhereItsRowStarts) {
    // 150 BPM, 25 ms a sixty-fourth: notes of six lengths on all three
    // counters, each after a rest, for 26 seconds, so that any drift
    // between the rows' time and the sound's shows. The notes are above
    // 700 Hz: a counter starts with its output high, so its first edge
    // comes half a period after the row starts.
    std::string score = "150\n3\n";
    const int lengths[] = {4, 8, 16, 2, 32, 1};
    for (int i = 0; i < 36; ++i) {
        std::string notes[3] = {"0", "0", "0"};
        notes[i % 3] = std::to_string(78 + i % 14);
        score += notes[0] + "," + notes[1] + "," + notes[2] + "," + std::to_string(lengths[i % 6]) + "\n";
        score += "0,0,0,8\n";
    }
    const Rendered r = render("onsets", score, {"--trace"});
    ASSERT_EQ(r.result.status, 0) << r.result.err;
    const std::vector<double> rows = rowSeconds(r.result.out);
    ASSERT_EQ(rows.size(), 72u);

    double rowStart = 0.0;  // sample 0 is the start of the first row
    for (std::size_t i = 0; i < rows.size(); i += 2) {
        const double onset = onsetAfter(r.sound, std::max(0.0, rowStart - 0.01), rowStart + 0.05, 0.1);
        EXPECT_NEAR(onset, rowStart + 0.0005, 0.0005) << "row " << i + 1 << " at " << rowStart << " s";
        rowStart += rows[i] + rows[i + 1];
    }
    EXPECT_GT(rowStart, 25.0);
}

TEST(RenderListening, TrillAlternatesTwoPitchesEverySixtyFourth) {
    // Notes 69 and 76 for a whole note at 120 BPM: 64 pitches of 31 ms.
    const Rendered r = render("trill", "120\n2\n69,76,1\n", {"--trill"});
    ASSERT_EQ(r.result.status, 0) << r.result.err;
    for (int k = 1; k < 63; ++k) {
        // The new count is taken at the end of the half-cycle in progress.
        const double from = k * 0.031 + 0.004;
        EXPECT_NEAR(zeroCrossingHz(r.sound, from, from + 0.025), clockHz / (k % 2 == 0 ? 2712 : 1810), 2.0)
            << "sixty-fourth " << k;
    }
}

TEST(Render, SummaryAndVersion) {
    const Rendered r = render("summary", "120\n1\n69,1\n");
    EXPECT_EQ(r.result.status, 0);
    EXPECT_EQ(r.result.out, "Wrote 2.2 s, 1 row to " + r.wavPath + " (48000 Hz)\n");
    EXPECT_EQ(r.result.err, "");
    const RunResult version = run(programPath("pitchime-render"), {.args = {"--version", "x", "y"}});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "pitchime-render " PITCHIME_VERSION "\n");
}

TEST(Render, ScoresAreCheckedByTheRulesOfTheChosenPlayer) {
    // Refused before the output file is touched.
    const std::string fourVoices = "120\n4\n60,62,64,65,4\n";
    Rendered r = render("checked", fourVoices);
    EXPECT_EQ(r.result.status, 1);
    EXPECT_EQ(r.result.err,
              "pitchime-render: Score error: line 2: PART is 4, this program plays at most 3 voices\n");
    EXPECT_FALSE(std::filesystem::exists(r.wavPath));
    EXPECT_EQ(render("checked", fourVoices, {"--trill"}).result.status, 0);
    r = render("checked", "120\n1\n60,4\n", {"--trill"});
    EXPECT_EQ(r.result.err, "pitchime-render: Score error: line 3: 2 values, a row needs at least 3\n");
}

TEST(Render, BundledExamplesRenderWholeAndUnclipped) {
    for (const auto& [file, trill] :
         {std::pair{"ode-to-joy", false}, std::pair{"frere-jacques-round", false},
          std::pair{"twinkle-twinkle-little-star", false}, std::pair{"minuet-in-g", true}}) {
        SCOPED_TRACE(file);
        const std::string wav = tempPath(std::string(file) + ".wav");
        std::vector<std::string> args = {
            "--trace", std::string(PITCHIME_SOURCE_DIR) + "/examples/" + file + ".txt", wav};
        if (trill) args.insert(args.begin(), "--trill");
        const RunResult r = run(programPath("pitchime-render"), {.args = args, .timeoutMs = 120000});
        ASSERT_EQ(r.status, 0) << r.err;
        Sound sound;
        ASSERT_EQ(readWav(wav, sound), "");

        // The rows' time and the tail, and a summary that says so.
        const std::vector<double> rows = rowSeconds(r.out);
        double seconds = tailSeconds;
        for (double s : rows) seconds += s;
        EXPECT_NEAR(sound.seconds(), seconds, 0.001);
        char summary[256];
        std::snprintf(summary, sizeof summary, "Wrote %.1f s, %zu rows to %s (48000 Hz)\n", sound.seconds(),
                      rows.size(), wav.c_str());
        EXPECT_EQ(r.out.substr(r.out.rfind("Wrote ")), summary);

        const auto [low, high] = std::minmax_element(sound.samples.begin(), sound.samples.end());
        EXPECT_GT(*low, -32768);
        EXPECT_LT(*high, 32767);
        EXPECT_GT(rms(sound, 0.0, sound.seconds()), 0.05 * fullScale);
        std::filesystem::remove(wav);
    }
}

// The two programs with PITCHIME_VBOARD_WAV: the sound of a real-time run.

TEST(ProgramSound, ARunInterruptedByCtrlCIsRecordedToo) {
    // A sixty-fourth of note 69 (62 ms at 60 BPM), then whole notes of four
    // seconds: Ctrl+C comes once the first row has ended.
    const std::string score = writeTempFile("long.txt", "60\n1\n69,64\n69,1\n69,1\n");
    const std::string wav = tempPath("interrupted.wav");
    std::filesystem::remove(wav);
    const RunResult r =
        run(programPath("pitchime"),
            {.args = {score}, .env = {{"PITCHIME_VBOARD_WAV", wav}}, .interruptAfter = "REAL:"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Released\n"), std::string::npos);
    EXPECT_EQ(r.out.find("Closed"), std::string::npos);
    Sound sound;
    ASSERT_EQ(readWav(wav, sound), "");
    EXPECT_GT(sound.seconds(), 0.062);
    EXPECT_LT(sound.seconds(), 3.0);
    const double onset = onsetAfter(sound, 0.0, sound.seconds(), 0.1);
    ASSERT_GE(onset, 0.0);
    EXPECT_NEAR(zeroCrossingHz(sound, onset, sound.seconds()), clockHz / 2712, 1.0);
}

}  // namespace
}  // namespace pitchime::test
