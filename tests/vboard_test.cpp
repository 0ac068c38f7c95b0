// The virtual tone board driven through the D2XX calls by the scripts of
// tests/data/vboard_traces.txt, each with the trace the board must write of
// it: the calls and their answers, the register writes it decoded, and each
// protocol violation it saw.
#include "vboard/vboard.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "board/write_frame.h"
#include "d2xx/d2xx.h"
#include "platform/platform.h"
#include "support/cases.h"

namespace pitchime {
namespace {

using namespace d2xx;

// The bytes of "write ...": hex bytes, "idle", or "frame:VV@A" (value VV to
// register A), each maybe repeated as "*N".
std::vector<std::uint8_t> bytesOf(const std::vector<std::string>& w) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 1; i < w.size(); ++i) {
        const std::size_t star = w[i].find('*');
        const std::string item = w[i].substr(0, star);
        WriteFrame frame;
        std::vector<std::uint8_t> one(idlePattern.begin(), idlePattern.end());
        if (item.rfind("frame:", 0) == 0) {
            encodeWriteFrame(frame, std::stoi(item.substr(6), nullptr, 16), item.back() - '0');
            one.assign(frame.begin(), frame.end());
        } else if (item != "idle") {
            one = {static_cast<std::uint8_t>(std::stoi(item, nullptr, 16))};
        }
        for (int n = star == std::string::npos ? 1 : std::stoi(w[i].substr(star + 1)); n > 0; --n)
            out.insert(out.end(), one.begin(), one.end());
    }
    return out;
}

TABLE_TEST(VBoardTrace, Script, test::blocks("data/vboard_traces.txt")) {
    const std::string path = ::testing::TempDir() + "vboard_trace_" + std::to_string(getpid()) + ".jsonl";
    // The board's one handle, the same after every reset; `got`, like `u`
    // and `text` below, takes what a call hands back, unread.
    FT_HANDLE handle = nullptr, got = nullptr;
    vboard::reset({});
    FT_Open(0, &handle);
    std::remove(path.c_str());
    vboard::Options options{.tracePath = path};
    vboard::reset(options);
    std::vector<std::string> sent, expected;  // the hex bytes of each FT_Write
    std::size_t skip = 0;                     // trace lines of "ready", not compared
    std::uint32_t u = 0;
    char text[64];
    for (const std::string& line : GetParam().lines) {
        auto w = test::words(line);
        const auto n = [&](std::size_t i) {
            return static_cast<std::uint32_t>(std::stoul(w.at(i), nullptr, 0));
        };
        if (w[0] == "ready") {  // configured as the board link does it
            w = {"write", "idle"};
            FT_Open(0, &got);
            FT_SetBaudRate(handle, 3000000);
            FT_SetBitMode(handle, 0xFF, 1);
        }
        if (w[0][0] == '{') {
            expected.push_back(line);
        } else if (w[0] == "devices") {
            options.devices = static_cast<int>(n(1));
            vboard::reset(options);
        } else if (w[0] == "fail-after") {
            options.failAfter = n(1);
            vboard::reset(options);
        } else if (w[0] == "sleep") {
            platform::sleepMs(static_cast<std::int32_t>(n(1)));
        } else if (w[0] == "list") {
            FT_CreateDeviceInfoList(&u);
        } else if (w[0] == "detail") {
            FT_GetDeviceInfoDetail(n(1), &u, &u, &u, &u, text, text, &got);
        } else if (w[0] == "open") {
            FT_Open(static_cast<int>(n(1)), &got);
        } else if (w[0] == "baud") {
            FT_SetBaudRate(handle, n(1));
        } else if (w[0] == "bitmode") {
            FT_SetBitMode(handle, static_cast<std::uint8_t>(n(1)), static_cast<std::uint8_t>(n(2)));
        } else if (w[0] == "close") {
            FT_Close(handle);
        } else if (w[0] == "write") {
            std::vector<std::uint8_t> bytes = bytesOf(w);
            sent.emplace_back();
            for (std::uint8_t b : bytes)
                sent.back() += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]};
            FT_Write(handle, bytes.data(), static_cast<std::uint32_t>(bytes.size()), &u);
            if (line == "ready") skip = test::fileLines(path).size();
        } else {
            ADD_FAILURE() << "unknown command: " << line;
        }
    }
    // Each line is on the file when its call returns. The bytes of each
    // write, once found to be those sent, are shown as "...".
    std::vector<std::string> trace = test::fileLines(path);
    for (std::size_t t = 0, k = 0; t < trace.size() && k < sent.size(); ++t) {
        const std::string bytes = "\"bytes\":\"" + sent[k] + "\"";
        if (trace[t].find("\"FT_Write\"") == std::string::npos) continue;
        if (const auto at = trace[t].find(bytes); at != std::string::npos)
            trace[t].replace(at, bytes.size(), "\"bytes\":\"...\"");
        ++k;
    }
    trace.erase(trace.begin(), trace.begin() + static_cast<long>(std::min(skip, trace.size())));
    EXPECT_EQ(trace, expected);
    vboard::reset({});
    std::remove(path.c_str());
}

}  // namespace
}  // namespace pitchime
