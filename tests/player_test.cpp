// The players against the virtual board in virtual time: what they print,
// what the board decodes, how long rows take, and that nothing allocates.
#include "playback/player.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "board/board_port.h"
#include "board/divisor_table.h"
#include "board/write_frame.h"
#include "common/console.h"
#include "platform/platform.h"
#include "platform/virtual_time.h"
#include "score/score.h"
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

using Writes = std::vector<std::pair<int, int>>;

class PlayerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        vboard::reset({.recordCapacity = 1000});
        resetRunState();
        buildDivisorTable(run.divisorTable);
        output = std::tmpfile();
        console::setStream(nullptr);
        ASSERT_EQ(board::open(run.boardPort), 0u);
        board::configure(run.boardPort);
    }
    void TearDown() override {
        console::setStream(stdout);
        std::fclose(output);
    }

    void load(const std::string& text) {
        run.score = Score{};
        std::FILE* f = std::tmpfile();
        std::fwrite(text.data(), 1, text.size(), f);
        std::rewind(f);
        readScoreLines(f, run.score);
        std::fclose(f);
        parseScore(run.score);
        setTempo();
    }

    // Plays with the console captured; returns what was printed.
    std::string play(void (*playScore)()) {
        firstWrite = vboard::registerWrites().size();
        std::rewind(output);
        console::setStream(output);
        startMs = platform::clockMs();
        playScore();
        console::setStream(nullptr);
        const long size = std::ftell(output);
        std::rewind(output);
        std::string all(static_cast<std::size_t>(size), '\0');
        all.resize(std::fread(all.data(), 1, all.size(), output));
        return all;
    }

    // The register writes the board decoded during play.
    Writes played() {
        Writes all;
        for (const auto& w : vboard::registerWrites()) all.emplace_back(w.address, w.value);
        return Writes(all.begin() + static_cast<long>(firstWrite), all.end());
    }

    std::FILE* output = nullptr;
    std::size_t firstWrite = 0;
    std::int32_t startMs = 0;
};

TEST_F(PlayerTest, ThreeVoiceWorkedExample) {
    load("120\n3\n60,64,67,4\n62,0,0,8\n0,0,0,8\n72,76,79,2\n");
    const std::string out = play(threeVoice::playScore);
    EXPECT_EQ(
        out,
        "60,64,67,4\n496\nWRITE_LOW:\t\t209\nWRITE_HIGH:\t\t17\n\nWRITE_LOW:\t\t36\nWRITE_HIGH:\t\t14\n\n"
        "WRITE_LOW:\t\t228\nWRITE_HIGH:\t\t11\n\n\nREAL:\t496\n\n"
        "62,0,0,8\n248\nWRITE_LOW:\t\t223\nWRITE_HIGH:\t\t15\n\n\n\n\nREAL:\t248\n\n"
        "0,0,0,8\n248\n\n\n\n\nREAL:\t248\n\n"
        "72,76,79,2\n992\nWRITE_LOW:\t\t232\nWRITE_HIGH:\t\t8\n\nWRITE_LOW:\t\t18\nWRITE_HIGH:\t\t7\n\n"
        "WRITE_LOW:\t\t242\nWRITE_HIGH:\t\t5\n\n\nREAL:\t992\n\n");
    EXPECT_EQ(played(),
              (Writes{{0, 209},  {0, 17},   {1, 36},   {1, 14},   {2, 228},  {2, 11},   {0, 223},  {0, 15},
                      {3, 0x72}, {3, 0xB2}, {3, 0x32}, {3, 0x72}, {3, 0xB2}, {3, 0x36}, {3, 0x76}, {3, 0xB6},
                      {0, 232},  {0, 8},    {1, 18},   {1, 7},    {2, 242},  {2, 5}}));
    EXPECT_EQ(platform::clockMs() - startMs, 496 + 248 + 248 + 992);
    // 496 x 4/4 + 248 x 8/4 + 248 x 8/4 + 992 x 2/4
    EXPECT_EQ(run.tempoStats.quarterSum, 496 + 496 + 496 + 496);
    EXPECT_EQ(vboard::status().counts.violations, 0);
}

TEST_F(PlayerTest, ThreeVoiceLengthsPartZeroAndExtraColumns) {
    // L 3 waits 21 sixty-fourths, L above 64 waits nothing; PART 0 plays no voice.
    load("120\n0\n3\n64\n65,1,2\n");
    EXPECT_EQ(play(threeVoice::playScore),
              "3\n651\n\nREAL:\t651\n\n64\n31\n\nREAL:\t31\n\n65\n0\n\nREAL:\t0\n\n");
    EXPECT_TRUE(played().empty());
    EXPECT_EQ(platform::clockMs() - startMs, 651 + 31);
    // Columns beyond PART are neither printed nor played.
    load("120\n1\n69,8,70,71\n");
    EXPECT_EQ(play(threeVoice::playScore),
              "69,8\n248\nWRITE_LOW:\t\t152\nWRITE_HIGH:\t\t10\n\n\nREAL:\t248\n\n");
    EXPECT_EQ(played(), (Writes{{0, 0x98}, {0, 0x0A}}));
}

TEST_F(PlayerTest, TrillWorkedExample) {
    load("120\n2\n60,64,4\n");
    const std::string out = play(trill::playScore);
    std::string expected = "60,64,4\n496\n";
    Writes writes;
    for (int cycle = 0; cycle < 8; ++cycle) {
        expected += "WRITE_LOW:\t\t209\nWRITE_HIGH:\t\t17\n\nWRITE_LOW:\t\t36\nWRITE_HIGH:\t\t14\n\n";
        writes.insert(writes.end(), {{0, 209}, {0, 17}, {0, 36}, {0, 14}});
    }
    expected += "REAL:\t496\n\n";
    EXPECT_EQ(out, expected);
    EXPECT_EQ(played(), writes);
    EXPECT_EQ(run.tempoStats.quarterSum, 496);
}

TEST_F(PlayerTest, TrillCyclesNoteZeroAndLengthColumn) {
    // L 3: 10 cycles (620 ms) while the duration line says 651; L 64: no cycle;
    // note 0 is a real note here (count 65535); PART 3 prints columns 0 to 2.
    load("120\n3\n0,0,5,3\n61,62,63,64\n");
    const std::string out = play(trill::playScore);
    EXPECT_EQ(out.substr(0, 12), "0,0,5\n651\nWR");
    EXPECT_NE(out.find("WRITE_LOW:\t\t255\nWRITE_HIGH:\t\t255\n\nREAL:\t620\n\n61,62,63\n31\nREAL:\t0\n\n"),
              std::string::npos);
    EXPECT_EQ(played().size(), 40u);
    EXPECT_EQ(platform::clockMs() - startMs, 620);
    // 620 x 3 / 4 = 465, 0 x 64 / 4 = 0
    EXPECT_EQ(run.tempoStats.quarterSum, 465);
}

TEST_F(PlayerTest, TempoFiguresKeepTo32BitArithmetic) {
    // The 32-bit millisecond clock wraps 24.8 days after start; a row
    // playing across the wrap still measures its own length.
    load("120\n2\n69,72,4\n");
    for (void (*playScore)() : {threeVoice::playScore, trill::playScore}) {
        run.tempoStats = TempoStats{};
        platform::setVirtualUs((std::int64_t{INT32_MAX} - 100) * 1000);
        EXPECT_NE(play(playScore).find("REAL:\t496\n"), std::string::npos);
        EXPECT_EQ(run.tempoStats.quarterSum, 496);
    }
    // 5 ms x 2147483647 does not fit 32 bits; it must wrap, not overflow.
    run.tempoStats = TempoStats{};
    run.tempoStats.rowStart = platform::clockMs();
    platform::sleepMs(5);
    console::setStream(output);
    rowTiming::finish(2147483647, 0);
    EXPECT_EQ(run.tempoStats.quarterSum, 2147483643 / 4);
}

TEST_F(PlayerTest, NothingIsAllocatedWhilePlaying) {
    std::string text = "120\n3\n";
    for (int i = 0; i < 200; ++i) text += i % 3 ? "60,0,67,64\n" : "0,64,71,32\n";
    load(text);
    // The board records its sound as well as its trace.
    const std::string tracePath = ::testing::TempDir() + "player_allocations.jsonl";
    const std::string wavPath = tracePath + ".wav";
    vboard::reset({.tracePath = tracePath, .wavPath = wavPath});
    board::resetPort(run.boardPort);
    ASSERT_EQ(board::open(run.boardPort), 0u);
    board::configure(run.boardPort);
    // Output, the board's trace and its sound go to real files while counting.
    console::setStream(output);
    const long before = allocations.load();
    threeVoice::playScore();
    trill::playScore();
    const long during = allocations.load() - before;
    console::setStream(nullptr);
    EXPECT_EQ(during, 0);
    EXPECT_GT(vboard::status().counts.registerWrites, 1000);
    board::close(run.boardPort);
    EXPECT_GT(vboard::status().counts.recordedSamples, 48000 * 10);
    EXPECT_FALSE(vboard::status().recordingFailed);
    std::remove(wavPath.c_str());
    std::remove(tracePath.c_str());
}

}  // namespace
}  // namespace pitchime
