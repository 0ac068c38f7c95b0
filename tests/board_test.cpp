#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "board/board_port.h"
#include "board/divisor_table.h"
#include "board/write_frame.h"
#include "common/console.h"
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
    encodeWriteFrame(value, address);
    return hex(writeFrame.data(), writeFrame.size());
}

TEST(DivisorTable, TellingEntries) {
    buildDivisorTable();
    const auto& count = divisorTable.noteCount;
    for (int n = 0; n <= 13; ++n) EXPECT_EQ(count[n], 65535) << n;
    EXPECT_EQ(count[14], 65009);
    EXPECT_EQ(count[15], 61361);
    EXPECT_EQ(count[21], 43388);
    EXPECT_EQ(count[41], 13667);  // the quotient closest to a half, still rounded up
    EXPECT_EQ(count[57], 5424);
    EXPECT_EQ(count[69], 2712);
    EXPECT_EQ(count[72], 2280);
    EXPECT_EQ(count[81], 1356);
    EXPECT_EQ(count[108], 285);
    EXPECT_EQ(count[109], 269);
    EXPECT_EQ(count[110], 254);
    EXPECT_EQ(count[127], 95);
    const std::vector<int> octave(count.begin() + 60, count.begin() + 72);
    EXPECT_EQ(octave,
              (std::vector<int>{4561, 4305, 4063, 3835, 3620, 3417, 3225, 3044, 2873, 2712, 2560, 2416}));
    EXPECT_EQ(std::accumulate(count.begin(), count.end(), 0L), 2074171L);
    EXPECT_EQ(std::accumulate(count.begin() + 14, count.end(), 0L), 1156681L);
    EXPECT_DOUBLE_EQ(divisorTable.noteHz[1], 8.66195721875);
    EXPECT_DOUBLE_EQ(divisorTable.noteHz[127], 12543.853952);
}

TEST(DivisorTable, BytesAreLowThenHighAndRebuildIsIdentical) {
    buildDivisorTable();
    const auto first = divisorTable.bytes;
    EXPECT_EQ(hex(&first[0], 2), "FF FF");
    EXPECT_EQ(hex(&first[2 * 14], 2), "F1 FD");
    EXPECT_EQ(hex(&first[2 * 69], 2), "98 0A");
    EXPECT_EQ(hex(&first[2 * 127], 2), "5F 00");
    for (int n = 0; n < noteNumbers; ++n) {
        EXPECT_EQ(divisorTable.low(n) | divisorTable.high(n) << 8, divisorTable.noteCount[n]);
    }
    buildDivisorTable();
    EXPECT_EQ(divisorTable.bytes, first);
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

TEST(WriteFrame, EveryFrameKeepsEnableHighAndSparesLow) {
    for (int address = 0; address < 4; ++address) {
        for (int value = 0; value < 256; ++value) {
            encodeWriteFrame(value, address);
            int strobeLow = 0, rising = 0;
            for (int i = 0; i < writeFrameSize; ++i) {
                const std::uint8_t b = writeFrame[i];
                ASSERT_EQ(b & 0xC0, 0);
                ASSERT_NE(b & line::enable, 0);
                if (!(b & line::writeStrobe)) ++strobeLow;
                if (i > 0 && (b & line::shiftClock) && !(writeFrame[i - 1] & line::shiftClock)) ++rising;
            }
            ASSERT_EQ(strobeLow, 1);
            ASSERT_EQ(rising, 8);
        }
    }
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
        boardPort = BoardPort{};
    }
    void TearDown() override {
        console::setStream(stdout);
        std::fclose(output);
    }
    std::string printed() {
        std::fflush(output);
        std::rewind(output);
        std::string all;
        char buffer[4096];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, output)) > 0;)
            all.append(buffer, got);
        return all;
    }
    std::vector<std::string> deviceCalls() { return test::calls(test::readTrace(tracePath)); }
    std::string tracePath;
    std::FILE* output = nullptr;
};

TEST_F(BoardPortTest, ConfigureReportsTheDeviceAndRestsTheLines) {
    ASSERT_EQ(board::open(), 0u);
    board::configure();
    EXPECT_EQ(printed(),
              "Number of devices is 1\nDev:\n\tFlags\t\t=0x1\n\tType\t\t=0x5\n\tID\t\t=0x4036001\n"
              "\tLocId\t\t=0x1121\n\tDescription\t=Pitchime Virtual Tone Board\n\tftHandle\t=0x" +
                  std::string(sizeof(void*) == 8 ? "1b0a4d0e0" : "b0a4d0e0") +
                  "\n\nBaudRate:\t3000000\nDIRECTION:\t0xff\nMODE:\t\t0x1\n\n"
                  "Pitchime Virtual Tone Board is READY.\n\n");
    EXPECT_EQ(deviceCalls(),
              (std::vector<std::string>{"FT_Open", "FT_CreateDeviceInfoList", "FT_GetDeviceInfoDetail",
                                        "FT_SetBaudRate", "FT_SetBitMode", "FT_Write"}));
    EXPECT_EQ(vboard::counters().lines, 0x04);
    EXPECT_EQ(boardPort.deviceStatus, 0u);
}

TEST_F(BoardPortTest, FailedListingPrintsTheFieldsAsTheyStand) {
    vboard::reset({.tracePath = tracePath, .devices = 0});
    EXPECT_EQ(board::open(), 2u);
    board::configure();
    EXPECT_NE(printed().find("Number of devices is 0\nDev:\n\tFlags\t\t=0x0\n"), std::string::npos);
}

TEST_F(BoardPortTest, NothingReachesTheDeviceAfterClose) {
    ASSERT_EQ(board::open(), 0u);
    board::configure();
    writeRegister(0x36, 3);
    EXPECT_EQ(board::close(), 0u);
    const auto before = deviceCalls();
    writeRegister(0x98, 0);
    board::writeIdle();
    EXPECT_EQ(board::close(), 1u);
    EXPECT_EQ(board::open(), 1u);
    EXPECT_EQ(deviceCalls(), before);
    EXPECT_EQ(boardPort.deviceStatus, 1u);
    EXPECT_EQ(vboard::counters().violations, 0);
}

TEST_F(BoardPortTest, CloseBeforeOpenReachesNoDeviceAndKeepsItClosed) {
    board::writeIdle();
    EXPECT_EQ(board::close(), 1u);
    // A release before the open leaves nothing for the main thread to open.
    EXPECT_EQ(board::open(), 1u);
    EXPECT_TRUE(deviceCalls().empty());
}

TEST_F(BoardPortTest, FailingWritesOnlyChangeTheStatus) {
    vboard::reset({.tracePath = tracePath, .failAfter = 1});
    ASSERT_EQ(board::open(), 0u);
    board::configure();
    writeRegister(0x36, 3);
    EXPECT_EQ(boardPort.deviceStatus, 4u);
    EXPECT_EQ(board::close(), 0u);
}

TEST_F(BoardPortTest, ReleaseFromAnotherThreadKeepsFramesWholeAndNothingAfterClose) {
    // The interrupt release rests and closes the device while the player
    // sends frames: the IdlePattern and the close are the last two calls,
    // and every frame before them reached the board whole.
    for (int round = 0; round < 10; ++round) {
        std::remove(tracePath.c_str());
        vboard::reset({.tracePath = tracePath});
        boardPort = BoardPort{};
        ASSERT_EQ(board::open(), 0u);
        board::configure();
        std::atomic<bool> playing{true};
        std::thread player([&] {
            for (int i = 0; playing.load(); ++i) writeRegister(i & 0xFF, i % 3);
            // The main thread goes on writing after the close.
            for (int i = 0; i < 5; ++i) writeRegister(0x36, 3);
        });
        // Some frames first, however slowly the player thread starts.
        while (vboard::counters().registerWrites < 1 + round) std::this_thread::yield();
        const std::uint32_t status = board::restAndClose();
        playing = false;
        player.join();
        EXPECT_EQ(status, 0u);
        std::vector<test::TraceEvent> deviceCalls;
        for (const auto& e : test::readTrace(tracePath))
            if (!e.call.empty()) deviceCalls.push_back(e);
        ASSERT_GE(deviceCalls.size(), 2u);
        const auto& rest = deviceCalls[deviceCalls.size() - 2];
        EXPECT_EQ(rest.call + " " + rest.fields.at("bytes"), "FT_Write ff2404") << "round " << round;
        EXPECT_EQ(deviceCalls.back().call, "FT_Close");
        EXPECT_EQ(vboard::counters().violations, 0) << vboard::lastViolation();
        EXPECT_EQ(vboard::counters().lines, 0x04);
    }
}

TEST_F(BoardPortTest, ReleaseDuringASlowOpenLeavesNoDeviceOpen) {
    // The release finds no open device and does not wait for the open; the
    // open then reports failure and leaves nothing open.
    vboard::reset({.tracePath = tracePath, .openDelayMs = 100});
    std::uint32_t openStatus = 0;
    std::thread opener([&] { openStatus = board::open(); });
    EXPECT_EQ(board::restAndClose(), 1u);
    opener.join();
    EXPECT_EQ(openStatus, 1u);
    EXPECT_FALSE(vboard::counters().open);
    EXPECT_EQ(test::calls(test::readTrace(tracePath)).size() % 2, 0u);  // nothing, or FT_Open and FT_Close
    board::writeIdle();
    EXPECT_EQ(vboard::counters().writes, 0);
}

}  // namespace
}  // namespace pitchime
