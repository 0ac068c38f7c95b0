// Whole sessions of both programs in virtual time, where the measured
// figures (each row's REAL time, the tempo report) are exact, with the board
// tracing and recording its sound to files, and nothing allocated in play.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>

#include "console/console.h"
#include "platform/platform.h"
#include "platform/virtual_time.h"
#include "session/session.h"
#include "support/cases.h"
#include "vboard/vboard.h"

namespace {
std::atomic<long> allocations{0};
}

// Counts every allocation of the test binary. GCC cannot see that the
// replaced operator new below is malloc, and warns about the matching free.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size) {
    ++allocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace pitchime {
namespace {

long allocationsInPlay = 0;

template <void (*play)(Run&)>
void counted(Run& run) {
    const long before = allocations.load();
    play(run);
    allocationsInPlay += allocations.load() - before;
}

TABLE_TEST(VirtualSession, Plays, test::blocks("data/sessions.txt")) {
    const std::string path = ::testing::TempDir() + "player_test_" + std::to_string(getpid());
    const std::vector<std::string> head = test::words(GetParam().text);  // program, clock at the start
    std::string score, expected;
    for (const std::string& line : GetParam().lines)
        (line[0] == '<' ? score : expected) += line.substr(std::min<std::size_t>(2, line.size())) + "\n";
    std::ofstream(path + ".txt", std::ios::binary) << score;
    pitchime::Run run;  // not gtest's Test::Run
    vboard::reset({.tracePath = path + ".jsonl", .wavPath = path + ".wav"});
    platform::setVirtualUs(std::stoll(head[1]) * 1000);
    std::FILE* out = std::tmpfile();
    console::setStream(out);
    const std::string program = head[0], scorePath = path + ".txt";
    allocationsInPlay = 0;
    EXPECT_EQ(runSession(run, scorePath.c_str(),
                         program == "pitchime" ? Player{counted<threeVoice::play>, threeVoiceRules}
                                               : Player{counted<trill::play>, trillRules}),
              0);
    console::setStream(nullptr);
    std::string printed;
    std::rewind(out);
    for (int ch; (ch = std::fgetc(out)) != EOF;) printed += static_cast<char>(ch);
    std::fclose(out);
    EXPECT_EQ(printed.substr(std::min(printed.size(), printed.find("BPM:"))), expected);
    EXPECT_EQ(allocationsInPlay, 0);
    const vboard::Status board = vboard::status();
    EXPECT_EQ(board.counts.violations, 0) << vboard::lastViolation();
    EXPECT_FALSE(board.recordingFailed);
    EXPECT_EQ(board.counts.recordedSamples, (std::filesystem::file_size(path + ".wav") - 44) / 2);
    for (const char* end : {".txt", ".jsonl", ".wav"}) std::remove((path + end).c_str());
}

TEST(Player, QuarterSumWrapsAsThirtyTwoBitArithmetic) {
    // 5 ms x 2147483647 does not fit 32 bits: it wraps, never overflows.
    pitchime::Run run;
    console::setStream(nullptr);
    run.tempoStats.rowStart = platform::clockMs();
    platform::sleepMs(5);
    rowTiming::finish(run, 2147483647, 0);
    EXPECT_EQ(run.tempoStats.quarterSum, 2147483643 / 4);
}

}  // namespace
}  // namespace pitchime
