// Render speed of the board's audio. renderTune: a three-voice tune, as the
// register writes the board would see, through the 8254 model, the speaker
// and the WAV writer. renderScore: what pitchime-render does with a bundled
// score, from the player through the board's frames to the file. The
// "realtime" counter is seconds of audio per second of wall time.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "render/render.h"
#include "vboard/recording.h"

namespace {

namespace audio = pitchime::audio;

struct Write {
    std::int64_t us;
    int address;
    std::uint8_t value;
};

constexpr std::int64_t frameUs = 112;  // one 21-byte register write on the lines
constexpr std::int64_t rowUs = 125'000;
constexpr int rows = 160;  // 20 seconds

std::int32_t countOf(int note) {
    return static_cast<std::int32_t>(1193182.0 / (440.0 * std::pow(2.0, (note - 69) / 12.0)) + 0.5);
}

// Three voices `lowest` semitones and up: a walking melody over two slower
// lines, each voice resting now and then (stop control word, then run
// control word and count again), as the three-voice player drives the board.
std::vector<Write> tune(int lowest) {
    static constexpr int steps[] = {0, 2, 4, 5, 7, 9, 11, 12, 11, 9, 7, 5, 4, 2};
    std::vector<Write> writes;
    std::int64_t us = 0;
    for (int row = 0; row < rows; ++row, us += rowUs) {
        const int notes[3] = {lowest + 24 + steps[row % 14], lowest + 12 + steps[(row / 2) % 14],
                              lowest + steps[(row / 4) % 14]};
        std::int64_t at = us;
        for (int voice = 0; voice < 3; ++voice) {
            const auto run = static_cast<std::uint8_t>(0x36 + 0x40 * voice);
            if ((row + 3 * voice) % 8 == 7) {
                writes.push_back({at, 3, static_cast<std::uint8_t>(run - 4)});
                at += frameUs;
                continue;
            }
            if ((row + 3 * voice) % 8 == 0) {
                writes.push_back({at, 3, run});
                at += frameUs;
            }
            const std::int32_t count = countOf(notes[voice]);
            writes.push_back({at, voice, static_cast<std::uint8_t>(count & 0xFF)});
            writes.push_back({at + frameUs, voice, static_cast<std::uint8_t>(count >> 8)});
            at += 2 * frameUs;
        }
    }
    return writes;
}

void renderTune(benchmark::State& state) {
    const std::vector<Write> writes = tune(static_cast<int>(state.range(0)));
    const std::string path = (std::filesystem::temp_directory_path() / "pitchime_render_bench.wav").string();
    auto recording = std::make_unique<audio::Recording>();
    const std::int64_t endUs = rows * rowUs;
    for (auto _ : state) {
        if (!audio::recordingStart(*recording, path.c_str(), 0)) {
            state.SkipWithError("cannot create the WAV file");
            return;
        }
        for (const Write& w : writes) audio::recordingWrite(*recording, w.us, w.address, w.value);
        benchmark::DoNotOptimize(audio::recordingFinish(*recording, endUs));
    }
    std::filesystem::remove(path);
    state.counters["realtime"] = benchmark::Counter(static_cast<double>(state.iterations()) * endUs / 1e6,
                                                    benchmark::Counter::kIsRate);
}

void renderScore(benchmark::State& state) {
    const std::string score = std::string(PITCHIME_SOURCE_DIR) + "/examples/ode-to-joy.txt";
    pitchime::Run run;
    if (std::string problem = pitchime::render::loadScore(run, score.c_str(), pitchime::threeVoicePlayer);
        !problem.empty()) {
        state.SkipWithError(problem.c_str());
        return;
    }
    const std::string path = (std::filesystem::temp_directory_path() / "pitchime_render_score.wav").string();
    double seconds = 0.0;
    for (auto _ : state) {
        const pitchime::render::Outcome outcome =
            pitchime::render::renderToWav(run, pitchime::threeVoicePlayer, path.c_str(), 48000, nullptr);
        if (!outcome.error.empty()) {
            state.SkipWithError(outcome.error.c_str());
            return;
        }
        seconds += static_cast<double>(outcome.samples) / outcome.sampleRate;
    }
    std::filesystem::remove(path);
    state.counters["realtime"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(renderScore)->Unit(benchmark::kMillisecond)->UseRealTime();

// Lowest note of the three voices: 36 (a bass, C2) up to 84 (all three
// voices above C6, where edges come thickest).
BENCHMARK(renderTune)->Arg(36)->Arg(60)->Arg(84)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
