#include <gtest/gtest.h>

#include <cstdio>
#include <numeric>
#include <string>
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
    EXPECT_EQ(octave, (std::vector<int>{4561, 4305, 4063, 3835, 3620, 3417, 3225, 3044, 2873, 2712, 2560, 2416}));
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
        tracePath = ::testing::TempDir() + "board_port_trace.jsonl";
        std::remove(tracePath.c_str());
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
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, output)) > 0;) all.append(buffer, got);
        return all;
    }
    std::string tracePath;
    std::FILE* output = nullptr;
};

}  // namespace
}  // namespace pitchime
