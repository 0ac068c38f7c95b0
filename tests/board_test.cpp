#include <gtest/gtest.h>

#include <cstdio>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "board/board_port.h"
#include "board/divisor_table.h"
#include "board/write_frame.h"
#include "common/console.h"
#include "playback/run_state.h"
#include "support/trace.h"
#include "vboard/vboard.h"

namespace pitchime {
namespace {

std::string hex(const std::uint8_t* bytes, std::size_t size) {
    std::string out;
    char two[4];
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(two, sizeof two, i ? " %02X" : "%02X", bytes[i]);
        out += two;
    }
    return out;
}

std::string frame(std::int32_t value, int address) {
    WriteFrame writeFrame;
    encodeWriteFrame(writeFrame, value, address);
    return hex(writeFrame.data(), writeFrame.size());
}

TEST(DivisorTable, TellingEntries) {
    DivisorTable divisorTable;
    buildDivisorTable(divisorTable);
    const auto& count = divisorTable.noteCount;
    for (int n = 0; n <= 13; ++n) EXPECT_EQ(count[n], 65535) << n;
    // 41: the quotient closest to a half, still rounded up.
    const std::pair<int, int> telling[] = {{14, 65009}, {15, 61361}, {21, 43388}, {41, 13667},
                                           {57, 5424},  {69, 2712},  {72, 2280},  {81, 1356},
                                           {108, 285},  {109, 269},  {110, 254},  {127, 95}};
    for (const auto& [note, expected] : telling) EXPECT_EQ(count[note], expected) << note;
    const std::vector<int> octave(count.begin() + 60, count.begin() + 72);
    EXPECT_EQ(octave,
              (std::vector<int>{4561, 4305, 4063, 3835, 3620, 3417, 3225, 3044, 2873, 2712, 2560, 2416}));
    EXPECT_EQ(std::accumulate(count.begin(), count.end(), 0L), 2074171L);
    EXPECT_EQ(std::accumulate(count.begin() + 14, count.end(), 0L), 1156681L);
    EXPECT_DOUBLE_EQ(divisorTable.noteHz[1], 8.66195721875);
    EXPECT_DOUBLE_EQ(divisorTable.noteHz[127], 12543.853952);
}

TEST(WriteFrame, KnownFrames) {
    EXPECT_EQ(frame(0x36, 3), "24 24 3C 3E 3C 3E 3D 3F 3D 3F 3C 3E 3D 3F 3D 3F 3C 3E 3C 38 3C");
    EXPECT_EQ(frame(0x32, 3), "24 24 3C 3E 3C 3E 3D 3F 3D 3F 3C 3E 3C 3E 3D 3F 3C 3E 3C 38 3C");
    EXPECT_EQ(frame(0x98, 0), "24 24 25 27 24 26 24 26 25 27 25 27 24 26 24 26 24 26 24 20 24");
    EXPECT_EQ(frame(0x0A, 0), "24 24 24 26 24 26 24 26 24 26 25 27 24 26 25 27 24 26 24 20 24");
    EXPECT_EQ(frame(0xA5, 1), "24 24 2D 2F 2C 2E 2D 2F 2C 2E 2C 2E 2D 2F 2C 2E 2D 2F 2C 28 2C");
    EXPECT_EQ(frame(0x1FF, 2), frame(0xFF, 2));
    EXPECT_EQ(frame(0xFF, 2), "24 24 35 37 35 37 35 37 35 37 35 37 35 37 35 37 35 37 34 30 34");
    EXPECT_EQ(hex(idlePattern.data(), idlePattern.size()), "FF 24 04");
}

class BoardPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tracePath = ::testing::TempDir() + "board_port_" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".jsonl";
        std::remove(tracePath.c_str());
        vboard::reset({.tracePath = tracePath});
        output = std::tmpfile();
        console::setStream(output);
        resetRunState();
    }
    void TearDown() override {
        console::setStream(stdout);
        std::fclose(output);
    }
    std::vector<std::string> deviceCalls() { return test::calls(test::readTrace(tracePath)); }
    std::string tracePath;
    std::FILE* output = nullptr;
};

TEST_F(BoardPortTest, NothingReachesTheDeviceAfterClose) {
    // A release before the open leaves nothing for the main thread to open.
    board::writeIdle(run.boardPort);
    EXPECT_EQ(board::close(run.boardPort), 1u);
    EXPECT_EQ(board::open(run.boardPort), 1u);
    EXPECT_TRUE(deviceCalls().empty());

    resetRunState();
    ASSERT_EQ(board::open(run.boardPort), 0u);
    board::configure(run.boardPort);
    writeRegister(run.boardPort, 0x36, 3);
    EXPECT_EQ(board::close(run.boardPort), 0u);
    const auto before = deviceCalls();
    writeRegister(run.boardPort, 0x98, 0);
    board::writeIdle(run.boardPort);
    EXPECT_EQ(board::close(run.boardPort), 1u);
    EXPECT_EQ(board::open(run.boardPort), 1u);
    EXPECT_EQ(deviceCalls(), before);
    EXPECT_EQ(run.boardPort.deviceStatus, 1u);
    EXPECT_EQ(vboard::status().counts.violations, 0);
}

TEST_F(BoardPortTest, ReleaseDuringASlowOpenLeavesNoDeviceOpen) {
    // The release finds no open device and does not wait for the open; the
    // open then reports failure and leaves nothing open.
    vboard::reset({.tracePath = tracePath, .openDelayMs = 100});
    std::uint32_t openStatus = 0;
    std::thread opener([&] { openStatus = board::open(run.boardPort); });
    EXPECT_EQ(board::restAndClose(run.boardPort), 1u);
    opener.join();
    EXPECT_EQ(openStatus, 1u);
    EXPECT_FALSE(vboard::status().open);
    EXPECT_EQ(test::calls(test::readTrace(tracePath)).size() % 2, 0u);  // nothing, or FT_Open and FT_Close
    board::writeIdle(run.boardPort);
    EXPECT_EQ(vboard::status().counts.writes, 0);
}

}  // namespace
}  // namespace pitchime
