// The live sound of `pitchime`, recorded by SDL's disk driver, against the
// WAV recording of the same run: the notes of tests/live_audio/cases.txt.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <sstream>

#include "support/run.h"

namespace pitchime::test {
namespace {

// 16-bit samples after `header` bytes, in the machine's byte order.
std::vector<double> readSamples(const std::string& path, std::uintmax_t header) {
    std::vector<std::int16_t> raw((std::filesystem::file_size(path) - header) / 2);
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(header)).read(reinterpret_cast<char*>(raw.data()), 2 * raw.size());
    return {raw.begin(), raw.end()};
}

// Goertzel: the power of `x` at `hz`.
double power(const std::vector<double>& x, double hz) {
    const double c = 2.0 * std::cos(2.0 * std::numbers::pi * hz / 48000.0);
    double s1 = 0.0, s2 = 0.0;
    for (const double v : x) s2 = std::exchange(s1, v + c * s1 - s2);
    return s1 * s1 + s2 * s2 - c * s1 * s2;
}

// The `count` strongest peaks of the spectrum of the sound from `fromMs` to
// `toMs` (at most a second) between 100 and 1000 Hz, to 0.01 Hz, lowest first.
std::vector<double> peaks(const std::vector<double>& sound, double fromMs, double toMs, std::size_t count) {
    const auto from = std::min(static_cast<std::size_t>(fromMs * 48), sound.size());
    std::vector<double> x(sound.begin() + from, sound.begin() + std::min({static_cast<std::size_t>(toMs * 48),
                                                                          from + 48000, sound.size()}));
    for (std::size_t i = 0; i < x.size(); ++i) x[i] *= 1.0 - std::cos(2.0 * std::numbers::pi * i / x.size());
    std::vector<std::pair<double, double>> found;  // power, Hz
    double before = 0.0, here = power(x, 100.0);
    for (double hz = 101.0; hz <= 1000.0; hz += 1.0) {
        const double next = power(x, hz);
        if (here > before && here >= next) found.emplace_back(here, hz - 1.0);
        before = std::exchange(here, next);
    }
    std::sort(found.rbegin(), found.rend());
    found.resize(std::min(count, found.size()));
    std::vector<double> result;
    for (auto [best, hz] : found) {
        for (double f = hz - 1.0, around = hz; f <= around + 1.0; f += 0.01) {
            if (const double p = power(x, f); p > best) best = p, hz = f;
        }
        result.push_back(hz);
    }
    std::sort(result.begin(), result.end());
    return result;
}

// Where notes begin, in ms: an edge of a square wave after 20 ms without one.
std::vector<double> onsetsMs(const std::vector<double>& x) {
    std::vector<double> found;
    for (std::size_t n = 2, last = 0; n < x.size(); ++n) {
        if (std::fabs(x[n] - x[n - 2]) < 5000.0) continue;
        if (found.empty() || n - last > 960) found.push_back(n / 48.0);
        last = n;
    }
    return found;
}

TEST(LiveAudio, StreamHoldsTheNotesOfTheRecording) {
    const std::string dir = PITCHIME_SOURCE_DIR "/tests/live_audio/";
    std::ifstream cases(dir + "cases.txt");
    for (std::string line; std::getline(cases, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string score, group;
        fields >> score;
        std::vector<std::vector<double>> notes;  // the fundamentals of each note, in order
        while (std::getline(fields, group, '|')) {
            std::istringstream values(group);
            notes.emplace_back(std::istream_iterator<double>(values), std::istream_iterator<double>());
        }
        SCOPED_TRACE(score);
        const std::string stream = tempDir() + "/" + score + ".raw", wav = tempDir() + "/" + score + ".wav";
        const Result r = run({.argv = {PITCHIME_BIN_DIR "/pitchime", dir + score},
                              .env = {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + stream,
                                      "PITCHIME_VBOARD_WAV=" + wav}});
        ASSERT_EQ(r.status, 0) << r.err;
        std::vector<double> onsets[2];  // the stream's, the recording's
        for (int i : {0, 1}) {
            const std::vector<double> sound = i == 0 ? readSamples(stream, 0) : readSamples(wav, 44);
            onsets[i] = onsetsMs(sound);
            ASSERT_EQ(onsets[i].size(), notes.size()) << (i == 0 ? stream : wav);
            for (std::size_t k = 0; k < notes.size(); ++k) {
                const double end = k + 1 < notes.size() ? onsets[i][k + 1] : 1e9;
                EXPECT_THAT(peaks(sound, onsets[i][k] + 5, end, notes[k].size()),
                            testing::Pointwise(testing::DoubleNear(0.5), notes[k]));
            }
        }
        // The disk driver's clock is not the wall clock (it sleeps a whole
        // number of ms a block, longer under load): with the first and last
        // onsets matched, every onset is within the 30 ms a write may take
        // to be heard.
        if (notes.size() < 3) continue;
        const auto& [heard, written] = onsets;
        const double scale = (heard.back() - heard.front()) / (written.back() - written.front());
        for (std::size_t k = 1; k + 1 < notes.size(); ++k) {
            EXPECT_NEAR(heard[k] - heard.front(), (written[k] - written.front()) * scale, 30.0);
        }
    }
}

}  // namespace
}  // namespace pitchime::test
