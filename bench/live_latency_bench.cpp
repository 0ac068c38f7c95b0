// The latency of the virtual board's live sound: how long after a register
// write its sample enters the audio stream (SDL's callback time plus the
// sample's place in its block). It plays notes for about ten seconds, each
// a run control word and a count, at uneven gaps of 5 to 45 ms, on the
// default audio output (or the driver SDL_AUDIODRIVER names: disk, dummy),
// then prints the median and the largest latency, and what the stream lost.
//
//   build/test/bench/live_latency_bench [SECONDS]
#include <cstdio>
#include <cstdlib>
#include <random>

#include "board/board_port.h"
#include "board/divisor_table.h"
#include "board/write_frame.h"
#include "common/console.h"
#include "platform/platform.h"
#include "playback/run.h"
#include "vboard/live_audio.h"
#include "vboard/vboard.h"

using namespace pitchime;

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    vboard::Options options;
    options.liveAudio = true;
    vboard::reset(options);
    Run run;
    buildDivisorTable(run.divisorTable);
    console::setStream(nullptr);
    if (board::open(run.boardPort) != 0) return 1;
    board::configure(run.boardPort);
    // Let the output settle into its pace before timing anything.
    platform::sleepMs(300);

    std::mt19937 random(14);
    std::uniform_int_distribution<int> gapMs(5, 45), note(48, 84);
    const std::int64_t end = platform::nowUs() + std::int64_t{seconds} * 1000000;
    while (platform::nowUs() < end) {
        const std::int32_t n = note(random);
        writeRegister(run.boardPort, runControlWords[0], controlWordAddress);
        writeRegister(run.boardPort, run.divisorTable.low(n), 0);
        writeRegister(run.boardPort, run.divisorTable.high(n), 0);
        platform::sleepMs(gapMs(random));
    }
    board::restAndClose(run.boardPort);

    const vboard::LiveStats stats = vboard::liveStats();
    if (!stats.played) {
        std::printf("no audio output\n");
        return 1;
    }
    std::int64_t counted = 0, medianUs = 0;
    for (int bin = 0; bin < vboard::latencyBins; ++bin) {
        counted += stats.latency[bin];
        if (2 * counted >= stats.events) {
            medianUs = bin * vboard::latencyBinUs;
            break;
        }
    }
    const char* driver = std::getenv("SDL_AUDIODRIVER");
    std::printf(
        "driver %s: %lld writes, %lld blocks; latency median %.1f ms, max %.1f ms; %lld late, %lld dropped\n",
        driver != nullptr ? driver : "(default)", static_cast<long long>(stats.events),
        static_cast<long long>(stats.callbacks), medianUs / 1000.0, stats.latencyMaxUs / 1000.0,
        static_cast<long long>(stats.late), static_cast<long long>(stats.dropped));
    return 0;
}
