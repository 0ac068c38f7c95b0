// The console: exact bytes of every kind of line, a flush after each
// stream line, and on a terminal no write of its own per formatted line.
#include "common/console.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

namespace pitchime {
namespace {

// What has reached the file behind `stream`, read past its buffer.
std::string onFile(std::FILE* stream) {
    std::string all;
    char buffer[4096];
    for (off_t at = 0;;) {
        const ssize_t got = pread(fileno(stream), buffer, sizeof buffer, at);
        if (got <= 0) return all;
        all.append(buffer, static_cast<std::size_t>(got));
        at += got;
    }
}

TEST(Console, EveryStreamLineIsExactAndOnTheFileWhenItReturns) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    console::bufferFully(file);
    console::setStream(file);
    std::string expected;
    auto check = [&](const std::string& more) {
        expected += more;
        EXPECT_EQ(onFile(file), expected);
    };

    console::line();
    check("\n");
    console::line("READY?");
    check("READY?\n");
    console::lineInt("REAL:\t", -31);
    check("REAL:\t-31\n");
    console::lineInt("", 496);
    check("496\n");
    console::lineInt("BPM:\t", std::numeric_limits<std::int64_t>::min());
    check("BPM:\t-9223372036854775808\n");
    console::lineUnsigned("FT_Close Result:\t", std::numeric_limits<std::uint64_t>::max());
    check("FT_Close Result:\t18446744073709551615\n");
    console::text("Open File:");
    check("Open File:");
    console::format("WRITE_LOW:\t\t%d\n", 209);
    console::line();
    check("WRITE_LOW:\t\t209\n\n");

    console::setStream(stdout);
    std::fclose(file);
}

bool readable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, timeoutMs) == 1;
}

TEST(Console, ATerminalGetsFormattedLinesWithTheNextFlush) {
    const int controller = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(controller, 0);
    ASSERT_EQ(grantpt(controller), 0);
    ASSERT_EQ(unlockpt(controller), 0);
    std::FILE* terminal = std::fopen(ptsname(controller), "w");
    ASSERT_NE(terminal, nullptr);
    console::bufferFully(terminal);
    console::setStream(terminal);

    console::format("WRITE_LOW:\t\t%d\n", 209);
    console::format("WRITE_HIGH:\t\t%d\n", 17);
    // Line buffering, a terminal's default, would have written them by now.
    EXPECT_FALSE(readable(controller, 100));
    console::line();
    std::string shown;
    char buffer[256];
    while (shown.size() < 32 && readable(controller, 5000)) {
        const ssize_t got = read(controller, buffer, sizeof buffer);
        if (got <= 0) break;
        shown.append(buffer, static_cast<std::size_t>(got));
    }
    // The terminal turns each "\n" into "\r\n".
    EXPECT_EQ(shown, "WRITE_LOW:\t\t209\r\nWRITE_HIGH:\t\t17\r\n\r\n");

    console::setStream(stdout);
    std::fclose(terminal);
    close(controller);
}

}  // namespace
}  // namespace pitchime
