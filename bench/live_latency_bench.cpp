// The latency of the virtual board's live sound: how long after a register
// write its sample enters the audio stream (SDL's callback time plus the
// sample's place in its block), with the usual blocks and with
// PITCHIME_VBOARD_AUDIO=lowlatency's small ones. For each it plays notes
// for SECONDS (default 10), each a run control word and a count, at uneven
// gaps of 5 to 45 ms, on the default audio output (or the driver
// SDL_AUDIODRIVER names: disk, dummy), then prints the median, the 99th
// percentile and the largest latency, and what the stream lost.
//
//   build/test/bench/live_latency_bench [SECONDS]
#include <cstdio>
#include <cstdlib>
#include <random>

#include "board/board_port.h"
#include "board/divisor_table.h"
#include "board/write_frame.h"
#include "console/console.h"
#include "platform/platform.h"
#include "vboard/live_audio.h"
#include "vboard/vboard.h"

using namespace pitchime;

namespace {

// The latency below which `share` of the writes were heard, in ms.
double percentileMs(const vboard::LiveStats& stats, double share) {
    std::int64_t counted = 0;
    for (int bin = 0; bin < vboard::latencyBins; ++bin) {
        counted += stats.latency[bin];
        if (counted >= share * stats.events) return (bin + 1) * vboard::latencyBinUs / 1000.0;
    }
    return stats.latencyMaxUs / 1000.0;
}

bool measure(int seconds, bool lowLatency) {
    vboard::Options options;
    options.liveAudio = true;
    options.lowLatency = lowLatency;
    vboard::reset(options);
    DivisorTable table;
    buildDivisorTable(table);
    BoardPort port;
    if (board::open(port) != 0) return false;
    board::configure(port);
    // Let the output settle into its pace before timing anything.
    platform::sleepMs(300);

    std::mt19937 random(14);
    std::uniform_int_distribution<int> gapMs(5, 45), note(48, 84);
    const std::int64_t end = platform::nowUs() + std::int64_t{seconds} * 1000000;
    while (platform::nowUs() < end) {
        const std::int32_t n = note(random);
        writeRegister(port, runControlWords[0], controlWordAddress);
        writeRegister(port, table.low(n), 0);
        writeRegister(port, table.high(n), 0);
        platform::sleepMs(gapMs(random));
    }
    board::restAndClose(port);

    const vboard::LiveStats stats = vboard::liveStats();
    if (!stats.played) {
        std::printf("no audio output\n");
        return false;
    }
    const char* driver = std::getenv("SDL_AUDIODRIVER");
    std::printf(
        "%-11s driver %s: %lld writes, %lld blocks; latency median %.1f ms, p99 %.1f ms, max %.1f ms; %lld "
        "late, %lld dropped\n",
        lowLatency ? "low latency" : "usual", driver != nullptr ? driver : "(default)",
        static_cast<long long>(stats.events), static_cast<long long>(stats.callbacks),
        percentileMs(stats, 0.5), percentileMs(stats, 0.99), stats.latencyMaxUs / 1000.0,
        static_cast<long long>(stats.late), static_cast<long long>(stats.dropped));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    console::setStream(nullptr);
    return measure(seconds, false) && measure(seconds, true) ? 0 : 1;
}
