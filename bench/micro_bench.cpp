// Micro-benchmarks of the work a row does besides its wait: one register
// write (encode plus the virtual board's FT_Write, with and without the
// board's trace), one row's console output to each kind of standard output,
// and one whole three-voice row with no wait.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "board/board_port.h"
#include "board/divisor_table.h"
#include "board/write_frame.h"
#include "console/console.h"
#include "playback/player.h"
#include "score/score.h"
#include "vboard/vboard.h"

namespace pitchime {
namespace {

// A fresh virtual board, opened and configured on `run` as the session
// leaves it before play; `tracePath` empty for no trace. `live` plays it on
// the audio output, where live audio is built in (SDL_AUDIODRIVER=dummy for
// none).
void openBoard(Run& run, const std::string& tracePath, bool live = false) {
    vboard::Options options;
    options.tracePath = tracePath;
    options.liveAudio = live;
    vboard::reset(options);
    buildDivisorTable(run.divisorTable);
    console::setStream(nullptr);
    if (board::open(run.boardPort) != 0) std::abort();
    board::configure(run.boardPort);
}

std::string scratchTrace() {
    return (std::filesystem::temp_directory_path() / "pitchime-micro-bench.jsonl").string();
}

void registerWrite(benchmark::State& state, bool traced, bool live = false) {
    const std::string trace = traced ? scratchTrace() : std::string{};
    if (traced) std::filesystem::remove(trace);
    Run run;
    openBoard(run, trace, live);
    std::int32_t value = 0;
    for (auto _ : state) {
        writeRegister(run.boardPort, value, value & 3);
        ++value;
    }
    benchmark::DoNotOptimize(run.boardPort.deviceStatus);
    if (vboard::status().counts.registerWrites != value)
        state.SkipWithError("the board decoded fewer writes");
    vboard::reset({});
    if (traced) std::filesystem::remove(trace);
}

void BM_RegisterWrite(benchmark::State& state) { registerWrite(state, false); }
// A trace line per call and one per decoded register write, on a file.
void BM_RegisterWriteTraced(benchmark::State& state) { registerWrite(state, true); }
// With the live sound playing: every write also goes to the audio thread's queue.
void BM_RegisterWriteLive(benchmark::State& state) { registerWrite(state, false, true); }
BENCHMARK(BM_RegisterWrite);
BENCHMARK(BM_RegisterWriteLive);
// Bounded: every write adds about 140 bytes to the trace file.
BENCHMARK(BM_RegisterWriteTraced)->Iterations(100000);

// Where the console goes: /dev/null, a file, a pipe or a terminal, the last
// two read as fast as they are written by a thread of their own.
enum class Sink { null, file, pipe, terminal };

struct Output {
    std::FILE* stream = nullptr;
    std::thread reader;
};

Output openOutput(Sink sink) {
    Output out;
    int writeEnd = -1, readEnd = -1;
    switch (sink) {
        case Sink::null:
            out.stream = std::fopen("/dev/null", "w");
            return out;
        case Sink::file:
            out.stream = std::tmpfile();
            return out;
        case Sink::pipe: {
            int ends[2];
            if (::pipe(ends) != 0) std::abort();
            readEnd = ends[0];
            writeEnd = ends[1];
            break;
        }
        case Sink::terminal: {
            readEnd = posix_openpt(O_RDWR | O_NOCTTY);
            if (readEnd < 0 || grantpt(readEnd) != 0 || unlockpt(readEnd) != 0) std::abort();
            writeEnd = ::open(ptsname(readEnd), O_WRONLY | O_NOCTTY);
            break;
        }
    }
    if (readEnd < 0 || writeEnd < 0) std::abort();
    out.reader = std::thread([readEnd] {
        char buffer[65536];
        while (::read(readEnd, buffer, sizeof buffer) > 0) {
        }
        ::close(readEnd);
    });
    out.stream = fdopen(writeEnd, "w");
    return out;
}

void closeOutput(Output& out) {
    std::fclose(out.stream);
    if (out.reader.joinable()) out.reader.join();
}

// The console calls of one three-voice row whose three voices all sound,
// in the player's order: 14 lines, 8 of them flushed.
void printThreeVoiceRow() {
    console::format("%d", 60);
    console::format(",%d", 64);
    console::format(",%d", 67);
    console::format(",%d", 4);
    console::line();
    console::lineInt("", 496);
    for (int voice = 0; voice < 3; ++voice) {
        console::format("WRITE_LOW:\t\t%d\n", 209);
        console::format("WRITE_HIGH:\t\t%d\n", 17);
        console::line();
    }
    console::line();
    console::lineInt("REAL:\t", 496);
    console::line();
}

void BM_RowOutput(benchmark::State& state) {
    const auto sink = static_cast<Sink>(state.range(0));
    Output out = openOutput(sink);
    console::bufferFully(out.stream);  // as the programs do with standard output
    console::setStream(out.stream);
    std::int64_t rows = 0;
    for (auto _ : state) {
        printThreeVoiceRow();
        // Keep the file small: write it over from its start.
        if (sink == Sink::file && ++rows % 4096 == 0) std::rewind(out.stream);
    }
    console::setStream(nullptr);
    closeOutput(out);
}
BENCHMARK(BM_RowOutput)->ArgName("null_file_pipe_tty")->DenseRange(0, 3);

// One whole row of the three-voice player without its wait: three count
// writes and their trace on the console (to /dev/null), untraced board.
void BM_ThreeVoiceRowWithoutWait(benchmark::State& state) {
    Run run;
    openBoard(run, {});
    const std::string text = "120\n3\n60,64,67,4\n";
    std::FILE* f = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), f);
    std::rewind(f);
    readScoreLines(f, run.score);
    std::fclose(f);
    parseScore(run.score);
    run.sixtyFourthMs = 0;
    Output out = openOutput(Sink::null);
    console::setStream(out.stream);
    for (auto _ : state) threeVoice::play(run);
    console::setStream(nullptr);
    closeOutput(out);
    vboard::reset({});
}
BENCHMARK(BM_ThreeVoiceRowWithoutWait);

}  // namespace
}  // namespace pitchime

BENCHMARK_MAIN();
