// Reading a MIDI file of 100,000 notes: four tracks of chords and runs in
// running status, a tempo change every 64 quarters, as a sequencer writes
// them. The whole import of such a file must take under half a second; the
// reader, and the reader with every note's start and end in microseconds,
// should take a small part of that.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "midi/midi_file.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void number(Bytes& out, std::uint32_t value) {
    std::uint8_t groups[4];
    int n = 0;
    do {
        groups[n++] = value & 0x7F;
        value >>= 7;
    } while (value != 0);
    while (n > 1) out.push_back(groups[--n] | 0x80);
    out.push_back(groups[0]);
}

void chunk(Bytes& out, const char* tag, const Bytes& body) {
    out.insert(out.end(), tag, tag + 4);
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(body.size() >> shift));
    out.insert(out.end(), body.begin(), body.end());
}

Bytes makeFile(int notesPerTrack) {
    Bytes file;
    chunk(file, "MThd", {0, 1, 0, 4, 1, 0xE0});  // format 1, 4 tracks, 480 ticks a quarter
    for (int track = 0; track < 4; ++track) {
        Bytes body;
        for (int i = 0; i < notesPerTrack; ++i) {
            const auto key = static_cast<std::uint8_t>(36 + (i * 7 + track * 5) % 60);
            if (track == 0 && i % 256 == 0) {
                body.insert(body.end(), {0, 0xFF, 0x51, 3, 0x07, static_cast<std::uint8_t>(i / 256), 0x20});
            }
            number(body, 0);
            body.insert(body.end(), {static_cast<std::uint8_t>(0x90 | track), key, 100});
            number(body, 120);
            body.insert(body.end(), {key, 0});
        }
        body.insert(body.end(), {0, 0xFF, 0x2F, 0});
        chunk(file, "MTrk", body);
    }
    return file;
}

void BM_ReadMidi(benchmark::State& state) {
    const Bytes file = makeFile(25000);
    for (auto _ : state) {
        pitchime::midi::File f;
        pitchime::midi::Error error;
        if (!pitchime::midi::readFile(file, f, error) || f.notes.size() != 100000)
            state.SkipWithError("not read");
        benchmark::DoNotOptimize(f.notes.data());
    }
    state.counters["file_bytes"] = static_cast<double>(file.size());
}
BENCHMARK(BM_ReadMidi)->Unit(benchmark::kMillisecond);

void BM_ReadMidiAndTimeNotes(benchmark::State& state) {
    const Bytes file = makeFile(25000);
    for (auto _ : state) {
        pitchime::midi::File f;
        pitchime::midi::Error error;
        pitchime::midi::readFile(file, f, error);
        std::int64_t sum = 0;
        for (const pitchime::midi::Note& n : f.notes)
            sum += pitchime::midi::tickToUs(f, n.endTick) - pitchime::midi::tickToUs(f, n.startTick);
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_ReadMidiAndTimeNotes)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
