// pitchime-import's speed and accuracy. The speed: reading and planning a
// made-up MIDI file of 100,000 notes (three tracks, melody, chords and
// bass, a tempo change every bar), as the program does it; `import_bench
// --write-midi PATH` writes that file, to time the program on it. The accuracy:
// before the benchmarks, one line per bundled example MIDI file with the
// notes kept, the largest onset error and the length error.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>
#include <vector>

#include "importer/importer.h"
#include "midi/midi_file.h"

namespace {

void putNumber(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void putDelta(std::vector<std::uint8_t>& out, std::uint32_t delta) {
    std::uint8_t groups[5];
    int n = 0;
    do {
        groups[n++] = delta & 0x7F;
        delta >>= 7;
    } while (delta != 0);
    while (n-- > 0) out.push_back(static_cast<std::uint8_t>(groups[n] | (n > 0 ? 0x80 : 0)));
}

struct Event {
    std::uint32_t tick;
    std::vector<std::uint8_t> bytes;
};

void putTrack(std::vector<std::uint8_t>& file, std::vector<Event> events) {
    std::stable_sort(events.begin(), events.end(),
                     [](const Event& a, const Event& b) { return a.tick < b.tick; });
    std::vector<std::uint8_t> body;
    std::uint32_t now = 0;
    for (const Event& e : events) {
        putDelta(body, e.tick - now);
        now = e.tick;
        body.insert(body.end(), e.bytes.begin(), e.bytes.end());
    }
    putDelta(body, 0);
    body.insert(body.end(), {0xFF, 0x2F, 0x00});
    file.insert(file.end(), {'M', 'T', 'r', 'k'});
    putNumber(file, static_cast<std::uint32_t>(body.size()), 4);
    file.insert(file.end(), body.begin(), body.end());
}

void note(std::vector<Event>& track, int channel, int key, std::uint32_t start, std::uint32_t length) {
    const auto status = static_cast<std::uint8_t>(0x90 | channel);
    track.push_back({start, {status, static_cast<std::uint8_t>(key), 80}});
    track.push_back({start + length, {status, static_cast<std::uint8_t>(key), 0}});
}

// Sixteenths in the melody, four-note chords every half bar, a bass note
// every quarter: 28 notes a bar, so 3572 bars make 100,016 notes.
std::vector<std::uint8_t> madeUpFile() {
    constexpr std::uint32_t quarter = 480;
    constexpr int bars = 3572;
    std::vector<Event> melody;
    std::vector<Event> chords;
    std::vector<Event> bass;
    for (int bar = 0; bar < bars; ++bar) {
        const std::uint32_t at = static_cast<std::uint32_t>(bar) * 4 * quarter;
        const std::uint32_t us = 400000 + static_cast<std::uint32_t>(bar % 7) * 25000;
        melody.push_back({at,
                          {0xFF, 0x51, 0x03, static_cast<std::uint8_t>(us >> 16),
                           static_cast<std::uint8_t>(us >> 8), static_cast<std::uint8_t>(us)}});
        for (int i = 0; i < 16; ++i)
            note(melody, 0, 72 + (bar * 5 + i * 3) % 14, at + i * quarter / 4, quarter / 4);
        for (int half = 0; half < 2; ++half) {
            for (int k = 0; k < 4; ++k)
                note(chords, 1, 55 + (bar + k * 3) % 12, at + half * 2 * quarter, 2 * quarter);
        }
        for (int i = 0; i < 4; ++i) note(bass, 2, 36 + (bar * 7 + i * 5) % 12, at + i * quarter, quarter);
    }
    std::vector<std::uint8_t> file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 3};
    putNumber(file, quarter, 2);
    putTrack(file, melody);
    putTrack(file, chords);
    putTrack(file, bass);
    return file;
}

void BM_Import100kNotes(benchmark::State& state) {
    const std::vector<std::uint8_t> bytes = madeUpFile();
    std::size_t notes = 0;
    for (auto _ : state) {
        pitchime::midi::File file;
        pitchime::midi::Error error;
        if (!pitchime::midi::readFile(bytes, file, error)) state.SkipWithError(error.what.c_str());
        const pitchime::importer::Result result = pitchime::importer::plan(file, {});
        notes = file.notes.size();
        benchmark::DoNotOptimize(result.score.data());
    }
    state.counters["notes"] = static_cast<double>(notes);
}
BENCHMARK(BM_Import100kNotes)->Unit(benchmark::kMillisecond);

void accuracyReport() {
    const std::filesystem::path folder = std::filesystem::path(PITCHIME_SOURCE_DIR) / "examples" / "midi";
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() == ".mid") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& path : files) {
        std::ifstream in(path, std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        pitchime::midi::File file;
        pitchime::midi::Error error;
        if (!pitchime::midi::readFile(bytes, file, error)) continue;
        for (const bool trill : {false, true}) {
            pitchime::importer::Options options;
            options.trill = trill;
            const pitchime::importer::Result r = pitchime::importer::plan(file, options);
            const pitchime::importer::Summary& s = r.summary;
            std::printf(
                "%-20s %-8s kept %zu of %zu, largest onset error %.1f ms, length %+.3f%%\n",
                path.filename().string().c_str(), trill ? "--trill" : "", s.kept, s.notesRead - s.leftOut,
                static_cast<double>(s.maxOnsetErrorUs) / 1000,
                100.0 * static_cast<double>(s.scoreLengthUs - s.lengthUs) / static_cast<double>(s.lengthUs));
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    // With --write-midi PATH, writes the made-up file for timing the program.
    if (argc == 3 && std::string_view(argv[1]) == "--write-midi") {
        const std::vector<std::uint8_t> bytes = madeUpFile();
        std::ofstream(argv[2], std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return 0;
    }
    accuracyReport();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
