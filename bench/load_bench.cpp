// Loading a million-row score: time per load and the most heap the loader
// holds at once, against the file's size.
//
// Targets: well under a second per load, and at most ten times the file's
// size in memory. The counters peak_bytes and peak_per_file_byte show the
// second; the benchmark's own time the first.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "score/score.h"

namespace {
std::atomic<long long> liveBytes{0};
std::atomic<long long> peakBytes{0};

void noteAllocated(void* p) {
    const long long now = liveBytes += static_cast<long long>(malloc_usable_size(p));
    long long peak = peakBytes.load();
    while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
    }
}
}  // namespace

// Every allocation of the benchmark, measured by what malloc really gave.
// GCC cannot see that the replaced operator new is malloc, and warns about
// the matching free.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
    void* p = std::malloc(size ? size : 1);
    if (p == nullptr) throw std::bad_alloc();
    noteAllocated(p);
    return p;
}
void operator delete(void* p) noexcept {
    if (p != nullptr) liveBytes -= static_cast<long long>(malloc_usable_size(p));
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

namespace {

// Rows of a three-voice score, a short two-column one, and blank rows:
// the last costs the most per byte of file, one row per byte.
enum RowKind { threeVoices, twoColumns, blankRows };

std::string makeScore(RowKind kind, int rows) {
    std::string path = "/tmp/pitchime-load-bench-" + std::to_string(static_cast<long>(getpid())) + "-" +
                       std::to_string(static_cast<int>(kind)) + ".txt";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) std::abort();
    std::fputs(kind == threeVoices ? "120\n3\n" : "120\n1\n", f);
    for (int i = 0; i < rows; ++i) {
        switch (kind) {
            case threeVoices:
                std::fprintf(f, "%d,%d,%d,%d\n", 48 + i % 24, 60 + i % 12, i % 5 == 0 ? 0 : 67, 1 << (i % 7));
                break;
            case twoColumns:
                std::fprintf(f, "%d,%d\n", 60 + i % 12, 4);
                break;
            case blankRows:
                std::fputc('\n', f);
                break;
        }
    }
    std::fclose(f);
    return path;
}

void loadMillionRows(benchmark::State& state) {
    const auto kind = static_cast<RowKind>(state.range(0));
    const std::string path = makeScore(kind, 1000000);
    long long fileBytes = 0;
    long long peak = 0;
    for (auto _ : state) {
        const long long before = liveBytes.load();
        peakBytes = before;
        {
            pitchime::Score s;
            std::FILE* f = std::fopen(path.c_str(), "rb");
            pitchime::readScoreLines(f, s);
            std::fclose(f);
            pitchime::parseScore(s);
            benchmark::DoNotOptimize(s.rowCount());
            if (s.rowCount() != 1000000) state.SkipWithError("wrong row count");
        }
        peak = peakBytes.load() - before;
    }
    std::FILE* f = std::fopen(path.c_str(), "rb");
    std::fseek(f, 0, SEEK_END);
    fileBytes = std::ftell(f);
    std::fclose(f);
    std::remove(path.c_str());
    state.counters["file_bytes"] = static_cast<double>(fileBytes);
    state.counters["peak_bytes"] = static_cast<double>(peak);
    state.counters["peak_per_file_byte"] = static_cast<double>(peak) / static_cast<double>(fileBytes);
    state.SetBytesProcessed(state.iterations() * fileBytes);
}

BENCHMARK(loadMillionRows)
    ->ArgName("rows")
    ->Arg(threeVoices)
    ->Arg(twoColumns)
    ->Arg(blankRows)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
