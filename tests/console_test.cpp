// The console on a terminal: no write of its own per formatted line, which
// would cost time on the playing path, and the exact bytes at the next flush.
// (That every stream line is out when its call returns, the Ctrl+C
// transcripts show.)
#include "console/console.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace pitchime {
namespace {

// What the terminal shows, up to `size` bytes, waiting at most `ms` for each piece.
std::string shown(int controller, std::size_t size, int ms) {
    std::string all;
    char buffer[256];
    pollfd p{controller, POLLIN, 0};
    for (ssize_t got;
         all.size() < size && poll(&p, 1, ms) == 1 && (got = read(controller, buffer, sizeof buffer)) > 0;)
        all.append(buffer, static_cast<std::size_t>(got));
    return all;
}

TEST(Console, ATerminalGetsFormattedLinesWithTheNextFlush) {
    const int controller = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(controller >= 0 && grantpt(controller) == 0 && unlockpt(controller) == 0);
    std::FILE* terminal = std::fopen(ptsname(controller), "w");
    ASSERT_NE(terminal, nullptr);
    console::bufferFully(terminal);
    console::setStream(terminal);
    console::format("WRITE_LOW:\t\t%d\n", 209);
    // Line buffering, a terminal's default, would have written it by now.
    EXPECT_EQ(shown(controller, 1, 100), "");
    console::line();
    // The terminal turns each "\n" into "\r\n".
    EXPECT_EQ(shown(controller, 19, 5000), "WRITE_LOW:\t\t209\r\n\r\n");
    console::setStream(stdout);
    std::fclose(terminal);
    close(controller);
}

}  // namespace
}  // namespace pitchime
