// The board link's fixed tables: the count of each note, the bytes of each
// register write.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "board/divisor_table.h"
#include "board/write_frame.h"
#include "support/cases.h"

namespace pitchime {
namespace {

using test::words;

TABLE_TEST(Divisors, Count, test::rows("data/divisors.txt")) {
    DivisorTable table;
    buildDivisorTable(table);
    const auto w = words(GetParam().text);
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(table.noteCount[std::stoul(w[0])], std::stoi(w[1]));
}

TABLE_TEST(Frames, Bytes, test::rows("data/frames.txt")) {
    const auto w = words(GetParam().text);
    const bool idle = w[0] == "idle";
    WriteFrame frame{};
    if (!idle) encodeWriteFrame(frame, std::stoi(w[0], nullptr, 16), std::stoi(w[1]));
    std::string sent;
    char two[4];
    for (std::uint8_t b : idle ? std::vector<std::uint8_t>(idlePattern.begin(), idlePattern.end())
                               : std::vector<std::uint8_t>(frame.begin(), frame.end())) {
        std::snprintf(two, sizeof two, " %02X", b);
        sent += two;
    }
    std::string expected;
    for (std::size_t i = idle ? 1 : 2; i < w.size(); ++i) expected += " " + w[i];
    EXPECT_EQ(sent, expected);
}

}  // namespace
}  // namespace pitchime
