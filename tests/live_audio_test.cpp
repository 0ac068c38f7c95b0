// The live sound of `pitchime`, recorded by SDL's disk driver, against the
// WAV recording of the same run: the notes of tests/live_audio/cases.txt.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <numbers>
#include <sstream>

#include "support/run_program.h"

namespace pitchime::test {
namespace {

std::vector<double> readSamples(const std::string& path, std::size_t headerBytes) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    std::vector<double> x;
    for (std::size_t i = headerBytes; i + 1 < bytes.size(); i += 2) {
        x.push_back(static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[i]) |
                                              static_cast<std::uint8_t>(bytes[i + 1]) << 8));
    }
    return x;
}

// Goertzel: the power of `x` at `hz`.
double power(const std::vector<double>& x, double hz) {
    const double c = 2.0 * std::cos(2.0 * std::numbers::pi * hz / 48000.0);
    double s1 = 0.0, s2 = 0.0;
    for (const double v : x) s2 = std::exchange(s1, v + c * s1 - s2);
    return s1 * s1 + s2 * s2 - c * s1 * s2;
}

// The `count` strongest peaks of the spectrum between 100 and 1000 Hz, to
// 0.01 Hz, lowest first.
std::vector<double> peaks(std::vector<double> x, std::size_t count) {
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
        const double around = hz;
        for (double f = around - 1.0; f <= around + 1.0; f += 0.01) {
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
    std::size_t last = 0;
    for (std::size_t n = 2; n < x.size(); ++n) {
        if (std::fabs(x[n] - x[n - 2]) < 5000.0) continue;
        if (found.empty() || n - last > 960) found.push_back(n / 48.0);
        last = n;
    }
    return found;
}

// The sound from `fromMs` to `toMs`, at most one second of it.
std::vector<double> part(const std::vector<double>& x, double fromMs, double toMs) {
    const auto from = std::min(static_cast<std::size_t>(fromMs * 48), x.size());
    const auto to = std::min({static_cast<std::size_t>(toMs * 48), from + 48000, x.size()});
    return {x.begin() + static_cast<std::ptrdiff_t>(from), x.begin() + static_cast<std::ptrdiff_t>(to)};
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
        const std::string stream = tempPath(score + ".raw"), wav = tempPath(score + ".wav");
        const RunResult r = run(programPath("pitchime"), {.args = {dir + score},
                                                          .env = {{"SDL_AUDIODRIVER", "disk"},
                                                                  {"SDL_DISKAUDIOFILE", stream},
                                                                  {"PITCHIME_VBOARD_WAV", wav}}});
        ASSERT_EQ(r.status, 0) << r.err;
        for (const auto& [file, header] : {std::pair{stream, 0}, std::pair{wav, 44}}) {
            SCOPED_TRACE(file);
            const std::vector<double> sound = readSamples(file, header), onsets = onsetsMs(sound);
            ASSERT_EQ(onsets.size(), notes.size());
            for (std::size_t i = 0; i < notes.size(); ++i) {
                const double end = i + 1 < onsets.size() ? onsets[i + 1] : 1e9;
                const std::vector<double> found = peaks(part(sound, onsets[i] + 5, end), notes[i].size());
                ASSERT_EQ(found.size(), notes[i].size());
                for (std::size_t k = 0; k < found.size(); ++k) EXPECT_NEAR(found[k], notes[i][k], 0.5);
            }
        }

        // The disk driver's clock is not the wall clock (it sleeps a whole
        // number of ms a block, and oversleeps under load): map it onto the
        // recording's with a straight line; every onset is then within the
        // 30 ms a write may take to be heard.
        const std::vector<double> heard = onsetsMs(readSamples(stream, 0)),
                                  written = onsetsMs(readSamples(wav, 44));
        if (heard.size() < 3) continue;
        const double n = heard.size();
        double sw = 0, sh = 0, sww = 0, swh = 0;
        for (std::size_t i = 0; i < heard.size(); ++i) {
            sw += written[i], sh += heard[i], sww += written[i] * written[i], swh += written[i] * heard[i];
        }
        const double slope = (n * swh - sw * sh) / (n * sww - sw * sw), offset = (sh - slope * sw) / n;
        for (std::size_t i = 0; i < heard.size(); ++i)
            EXPECT_NEAR(heard[i], offset + slope * written[i], 30.0);
    }
}

}  // namespace
}  // namespace pitchime::test
