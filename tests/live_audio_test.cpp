// The live sound of `pitchime`, recorded by SDL's disk driver, against the
// WAV recording of the same run: the notes of tests/live_audio/cases.txt.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "support/cases.h"
#include "support/run.h"
#include "support/sound.h"

namespace pitchime::test {
namespace {

// SDL's disk driver's stream: 16-bit mono samples at 48000 Hz, in the
// machine's byte order.
Sound readStream(const std::string& path) {
    Sound s{std::vector<std::int16_t>(std::filesystem::file_size(path) / 2), 48000};
    std::ifstream(path, std::ios::binary)
        .read(reinterpret_cast<char*>(s.samples.data()), 2 * s.samples.size());
    return s;
}

// The `count` strongest peaks of the spectrum of the sound from `from` to
// `to` seconds (at most a second) between 100 and 1000 Hz, lowest first.
std::vector<double> peaks(const Sound& sound, double from, double to, std::size_t count) {
    std::size_t size = 1024;
    while (2 * size <= std::min(to - from, 1.0) * sound.rate) size *= 2;
    std::vector<double> found = peaksHz(spectrum(sound, from, size), 100.0, 1000.0, static_cast<int>(count));
    std::sort(found.begin(), found.end());
    return found;
}

// Where notes begin, in seconds: an edge of a square wave after 20 ms without one.
std::vector<double> onsets(const Sound& sound) {
    std::vector<double> found;
    for (std::size_t n = 2, last = 0; n < sound.samples.size(); ++n) {
        if (std::abs(sound.samples[n] - sound.samples[n - 2]) < 5000) continue;
        if (found.empty() || n - last > sound.at(0.02)) found.push_back(static_cast<double>(n) / sound.rate);
        last = n;
    }
    return found;
}

TABLE_TEST(LiveAudio, StreamHoldsTheNotesOfTheRecording, rows("live_audio/cases.txt")) {
    const std::string dir = PITCHIME_SOURCE_DIR "/tests/live_audio/";
    std::istringstream fields(GetParam().text);
    std::string score, group, audio = "usual";
    fields >> score >> std::ws;
    if (fields.peek() == 'l') fields >> audio;
    std::vector<std::vector<double>> notes;  // the fundamentals of each note, in order
    while (std::getline(fields, group, '|')) {
        std::istringstream values(group);
        notes.emplace_back(std::istream_iterator<double>(values), std::istream_iterator<double>());
    }
    const std::string stream = tempDir() + "/" + score + ".raw", wav = tempDir() + "/" + score + ".wav";
    const Result r = run({.argv = {PITCHIME_BIN_DIR "/pitchime", dir + score},
                          .env = {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + stream,
                                  "PITCHIME_VBOARD_WAV=" + wav, "PITCHIME_VBOARD_AUDIO=" + audio}});
    ASSERT_EQ(r.status, 0) << r.err;
    Sound sounds[2] = {readStream(stream), {}};  // the stream, the recording
    ASSERT_EQ(readWav(wav, sounds[1]), "");
    for (int i : {0, 1}) {
        const std::vector<double> starts = onsets(sounds[i]);
        ASSERT_EQ(starts.size(), notes.size()) << (i == 0 ? stream : wav);
        for (std::size_t k = 0; k < notes.size(); ++k) {
            const double end = k + 1 < notes.size() ? starts[k + 1] : 1e9;
            EXPECT_THAT(peaks(sounds[i], starts[k] + 0.005, end, notes[k].size()),
                        testing::Pointwise(testing::DoubleNear(0.5), notes[k]));
        }
    }
}

}  // namespace
}  // namespace pitchime::test
