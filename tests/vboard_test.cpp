// The virtual tone board, driven through the D2XX calls with the byte
// sequences the board link sends, and with broken ones it must refuse.
#include "vboard/vboard.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "d2xx/d2xx.h"
#include "platform/platform.h"
#include "support/sound.h"

namespace {

namespace vb = pitchime::vboard;
using pitchime::d2xx::FT_DEVICE_NOT_FOUND;
using pitchime::d2xx::FT_DEVICE_NOT_OPENED;
using pitchime::d2xx::FT_INVALID_BAUD_RATE;
using pitchime::d2xx::FT_INVALID_HANDLE;
using pitchime::d2xx::FT_IO_ERROR;
using pitchime::d2xx::FT_OK;
using Bytes = std::vector<std::uint8_t>;

const Bytes idle{0xFF, 0x24, 0x04};

// Frames as the board link lays them out, byte 0 first.
const Bytes control36To3{0x24, 0x24, 0x3C, 0x3E, 0x3C, 0x3E, 0x3D, 0x3F, 0x3D, 0x3F, 0x3C,
                         0x3E, 0x3D, 0x3F, 0x3D, 0x3F, 0x3C, 0x3E, 0x3C, 0x38, 0x3C};
const Bytes control32To3{0x24, 0x24, 0x3C, 0x3E, 0x3C, 0x3E, 0x3D, 0x3F, 0x3D, 0x3F, 0x3C,
                         0x3E, 0x3C, 0x3E, 0x3D, 0x3F, 0x3C, 0x3E, 0x3C, 0x38, 0x3C};
const Bytes low98To0{0x24, 0x24, 0x25, 0x27, 0x24, 0x26, 0x24, 0x26, 0x25, 0x27, 0x25,
                     0x27, 0x24, 0x26, 0x24, 0x26, 0x24, 0x26, 0x24, 0x20, 0x24};
const Bytes high0ATo0{0x24, 0x24, 0x24, 0x26, 0x24, 0x26, 0x24, 0x26, 0x24, 0x26, 0x25,
                      0x27, 0x24, 0x26, 0x25, 0x27, 0x24, 0x26, 0x24, 0x20, 0x24};
const Bytes a5To1{0x24, 0x24, 0x2D, 0x2F, 0x2C, 0x2E, 0x2D, 0x2F, 0x2C, 0x2E, 0x2C,
                  0x2E, 0x2D, 0x2F, 0x2C, 0x2E, 0x2D, 0x2F, 0x2C, 0x28, 0x2C};
const Bytes ffTo2{0x24, 0x24, 0x35, 0x37, 0x35, 0x37, 0x35, 0x37, 0x35, 0x37, 0x35,
                  0x37, 0x35, 0x37, 0x35, 0x37, 0x35, 0x37, 0x34, 0x30, 0x34};

Bytes joined(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

FT_STATUS send(FT_HANDLE handle, Bytes bytes, std::uint32_t* written = nullptr) {
    std::uint32_t count = 0xDEADBEEF;
    const FT_STATUS status = FT_Write(handle, bytes.data(), static_cast<std::uint32_t>(bytes.size()), &count);
    if (written != nullptr) *written = count;
    return status;
}

vb::Options recording(std::size_t capacity = 64) {
    vb::Options options;
    options.recordCapacity = capacity;
    return options;
}

// Resets the board with `options`, opens it and configures it as the board
// link does, ending with the idle pattern.
FT_HANDLE openReady(const vb::Options& options = recording()) {
    vb::reset(options);
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(FT_Open(0, &handle), FT_OK);
    EXPECT_EQ(FT_SetBaudRate(handle, 3000000), FT_OK);
    EXPECT_EQ(FT_SetBitMode(handle, 0xFF, 1), FT_OK);
    EXPECT_EQ(send(handle, idle), FT_OK);
    return handle;
}

// A file name of its own for each run, so test runs side by side never share one.
std::string scratchPath(const char* name) {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    return ::testing::TempDir() + "vboard_" + name + "_" + std::to_string(stamp) + ".jsonl";
}

std::vector<std::pair<int, int>> decoded() {
    std::vector<std::pair<int, int>> out;
    for (const vb::RegisterWrite& w : vb::registerWrites()) out.emplace_back(w.address, w.value);
    return out;
}

TEST(VirtualBoardDecoding, EachFrameOfTheLayoutTableWritesExactlyItsRegister) {
    const FT_HANDLE h = openReady();
    for (const Bytes* f : {&control36To3, &control32To3, &low98To0, &high0ATo0, &a5To1, &ffTo2}) {
        EXPECT_EQ(send(h, *f), FT_OK);
    }
    EXPECT_EQ(decoded(), (std::vector<std::pair<int, int>>{
                             {3, 0x36}, {3, 0x32}, {0, 0x98}, {0, 0x0A}, {1, 0xA5}, {2, 0xFF}}));
    const vb::Counters c = vb::counters();
    EXPECT_EQ(c.registerWrites, 6);
    EXPECT_EQ(c.violations, 0) << vb::lastViolation();
    EXPECT_EQ(c.writes, 7);
    EXPECT_EQ(c.lines, 0x34);
}

TEST(VirtualBoardDecoding, IdlePatternWritesNoRegisterWhereverItComes) {
    const FT_HANDLE h = openReady();
    EXPECT_EQ(vb::counters().lines, 0x04);
    EXPECT_EQ(send(h, joined({low98To0, idle, idle, high0ATo0, idle})), FT_OK);
    EXPECT_EQ(send(h, idle), FT_OK);
    EXPECT_EQ(decoded(), (std::vector<std::pair<int, int>>{{0, 0x98}, {0, 0x0A}}));
    EXPECT_EQ(vb::counters().violations, 0) << vb::lastViolation();
    EXPECT_EQ(vb::counters().lines, 0x04);
}

TEST(VirtualBoardDecoding, LinesCarryOverFromOneWriteToTheNext) {
    const FT_HANDLE h = openReady();
    // A frame split byte by byte, then one straight after the all-high byte.
    for (std::uint8_t b : a5To1) ASSERT_EQ(send(h, {b}), FT_OK);
    ASSERT_EQ(send(h, {0xFF}), FT_OK);
    ASSERT_EQ(send(h, control36To3), FT_OK);
    EXPECT_EQ(decoded(), (std::vector<std::pair<int, int>>{{1, 0xA5}, {3, 0x36}}));
    EXPECT_EQ(vb::counters().violations, 0) << vb::lastViolation();
    // A frame as the first bytes after bit-bang mode, with no idle pattern.
    vb::reset(recording());
    FT_HANDLE fresh = nullptr;
    ASSERT_EQ(FT_Open(0, &fresh), FT_OK);
    ASSERT_EQ(FT_SetBitMode(fresh, 0xFF, 1), FT_OK);
    ASSERT_EQ(send(fresh, ffTo2), FT_OK);
    EXPECT_EQ(decoded(), (std::vector<std::pair<int, int>>{{2, 0xFF}}));
    EXPECT_EQ(vb::counters().violations, 0) << vb::lastViolation();
}

struct Malformed {
    const char* what;
    Bytes bytes;
    const char* violation;
};

Bytes with(Bytes f, std::size_t index, std::uint8_t value) {
    f[index] = value;
    return f;
}

TEST(VirtualBoardViolations, MalformedFramesWriteNoRegister) {
    Bytes truncated = control36To3;
    truncated.erase(truncated.begin() + 4, truncated.begin() + 6);  // one clock pulse short
    Bytes lateData = ffTo2;  // data raised together with the clock, not before it
    for (std::size_t i = 2; i < 18; i += 2) lateData[i] = 0x34;
    Bytes allHighInside = control36To3;  // an extra clock pulse in the all-high byte
    allHighInside.insert(allHighInside.begin() + 11, {0xFF, 0x3C});
    const std::vector<Malformed> cases{
        {"one clock pulse short", truncated, "write strobe after 7 shift clock edges, 8 needed"},
        {"no clock at all",
         {0x24, 0x24, 0x3C, 0x38, 0x3C},
         "write strobe after 0 shift clock edges, 8 needed"},
        {"data changes on the clock edge", lateData,
         "data line changed on the rising edge of the shift clock"},
        {"address moves during the strobe", with(control36To3, 19, 0x30),
         "address lines changed while the write strobe was low"},
        {"strobe while disabled", with(with(with(control36To3, 18, 0x1C), 19, 0x18), 20, 0x1C),
         "write strobe low while the enable line was low"},
        {"clock pulse inside the strobe", with(control36To3, 19, 0x3A),
         "shift clock pulsed while the write strobe was low"},
        {"all-high byte inside a frame", allHighInside,
         "all-high byte among the shift clock pulses of a register write"},
    };
    for (const Malformed& m : cases) {
        SCOPED_TRACE(m.what);
        const FT_HANDLE h = openReady();
        EXPECT_EQ(send(h, m.bytes), FT_OK);
        EXPECT_EQ(vb::counters().registerWrites, 0);
        EXPECT_GE(vb::counters().violations, 1);
        EXPECT_NE(vb::lastViolation().find(m.violation), std::string::npos) << vb::lastViolation();
        // The board recovers with the next well-formed frame.
        const std::int64_t before = vb::counters().violations;
        EXPECT_EQ(send(h, joined({idle, a5To1})), FT_OK);
        EXPECT_EQ(decoded(), (std::vector<std::pair<int, int>>{{1, 0xA5}}));
        EXPECT_EQ(vb::counters().violations, before) << vb::lastViolation();
    }
}

TEST(VirtualBoardViolations, AllHighByteNeverStandsInForAShiftClockPulse) {
    // The all-high byte raises the shift clock; that edge must not make a
    // frame with seven pulses look complete.
    Bytes seven = control36To3;
    seven.erase(seven.begin() + 2, seven.begin() + 4);
    const FT_HANDLE h = openReady();
    EXPECT_EQ(send(h, joined({{0xFF}, seven})), FT_OK);
    EXPECT_EQ(vb::counters().registerWrites, 0);
    EXPECT_EQ(vb::lastViolation(), "write strobe after 7 shift clock edges, 8 needed");
}

TEST(VirtualBoardViolations, SpareLinesMayOnlyRiseInTheAllHighByte) {
    const FT_HANDLE h = openReady();
    EXPECT_EQ(send(h, with(control36To3, 10, 0x7C)), FT_OK);
    EXPECT_EQ(vb::lastViolation(), "spare line driven high while the enable line is high (lines 0x7c)");
    EXPECT_EQ(vb::counters().violations, 1);
    // With the enable line low the board ignores the spare lines.
    EXPECT_EQ(send(h, {0x24, 0x04, 0x84, 0x04}), FT_OK);
    EXPECT_EQ(vb::counters().violations, 1);
    // An all-high byte that ends a strobe pulse is no release byte.
    EXPECT_EQ(send(h, joined({Bytes(control36To3.begin(), control36To3.end() - 1), {0xFF}})), FT_OK);
    EXPECT_GE(vb::counters().violations, 2);
}

TEST(VirtualBoardSession, WritesBeforeBitBangModeReachNoLine) {
    vb::reset(recording());
    FT_HANDLE h = nullptr;
    ASSERT_EQ(FT_Open(0, &h), FT_OK);
    ASSERT_EQ(FT_SetBaudRate(h, 3000000), FT_OK);
    std::uint32_t written = 0;
    EXPECT_EQ(send(h, joined({idle, control36To3}), &written), FT_OK);
    EXPECT_EQ(written, 24u);
    EXPECT_EQ(vb::lastViolation(), "FT_Write before bit-bang mode (mask 0xff, mode 1) was set");
    for (auto [mask, mode] : {std::pair{0xFF, 0}, std::pair{0x3F, 1}, std::pair{0xFF, 4}}) {
        ASSERT_EQ(FT_SetBitMode(h, static_cast<unsigned char>(mask), static_cast<unsigned char>(mode)),
                  FT_OK);
        EXPECT_EQ(send(h, control36To3), FT_OK);
    }
    vb::Counters c = vb::counters();
    EXPECT_EQ(c.violations, 4);
    EXPECT_EQ(c.writes, 0);
    EXPECT_EQ(c.registerWrites, 0);
    EXPECT_EQ(c.lines, 0xFF);
    EXPECT_FALSE(c.bitBang);
    ASSERT_EQ(FT_SetBitMode(h, 0xFF, 1), FT_OK);
    EXPECT_EQ(send(h, control36To3), FT_OK);
    EXPECT_EQ(vb::counters().registerWrites, 1);
}

TEST(VirtualBoardSession, WritesAfterCloseFailAndReachNoLine) {
    // A handle that was never opened.
    vb::reset(recording());
    std::uint32_t written = 7;
    EXPECT_EQ(send(vb::deviceHandle(), control36To3, &written), FT_INVALID_HANDLE);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(vb::lastViolation(), "FT_Write with a handle that is not open");

    const FT_HANDLE h = openReady();
    ASSERT_EQ(send(h, a5To1), FT_OK);
    ASSERT_EQ(FT_Close(h), FT_OK);
    written = 7;
    EXPECT_EQ(send(h, joined({idle, control36To3}), &written), FT_INVALID_HANDLE);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(vb::lastViolation(), "FT_Write after FT_Close");
    EXPECT_EQ(send(nullptr, idle), FT_INVALID_HANDLE);
    const vb::Counters c = vb::counters();
    EXPECT_EQ(c.violations, 2);
    EXPECT_EQ(c.writes, 2);
    EXPECT_EQ(c.registerWrites, 1);
    EXPECT_EQ(c.lines, 0x2C);  // the lines keep the level of the last byte that reached them
    EXPECT_FALSE(c.open);
}

TEST(VirtualBoardSession, HandleAndStatusesOfEachCall) {
    vb::reset(recording());
    FT_HANDLE h = nullptr;
    EXPECT_EQ(FT_Close(vb::deviceHandle()), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_SetBaudRate(vb::deviceHandle(), 3000000), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_SetBitMode(vb::deviceHandle(), 0xFF, 1), FT_INVALID_HANDLE);
    ASSERT_EQ(FT_Open(0, &h), FT_OK);
    EXPECT_EQ(h, vb::deviceHandle());
    if constexpr (sizeof(void*) > 4) {
        EXPECT_GT(reinterpret_cast<std::uintptr_t>(h), std::uintptr_t{0xFFFFFFFFu});
    }
    FT_HANDLE second = nullptr;
    EXPECT_EQ(FT_Open(0, &second), FT_DEVICE_NOT_OPENED);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(FT_Open(-1, &second), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(FT_SetBaudRate(h, 3000001), FT_INVALID_BAUD_RATE);
    EXPECT_EQ(FT_SetBaudRate(h, 3000000), FT_OK);
    EXPECT_EQ(FT_SetBitMode(h, 0xFF, 1), FT_OK);
    EXPECT_TRUE(vb::counters().bitBang);
    EXPECT_EQ(FT_Close(h), FT_OK);
    EXPECT_EQ(FT_Close(h), FT_INVALID_HANDLE);
    // A new session starts outside bit-bang mode.
    ASSERT_EQ(FT_Open(0, &h), FT_OK);
    EXPECT_FALSE(vb::counters().bitBang);
    EXPECT_EQ(send(h, idle), FT_OK);
    EXPECT_EQ(vb::counters().violations, 1);
    EXPECT_EQ(vb::counters().calls, 13);
}

struct Details {
    FT_STATUS status = 0;
    std::uint32_t flags = 0xAA, type = 0xAA, id = 0xAA, locId = 0xAA;
    char serial[16] = "untouched";
    char description[64] = "untouched";
    FT_HANDLE handle = reinterpret_cast<FT_HANDLE>(std::uintptr_t{1});
};

Details details(std::uint32_t index) {
    Details d;
    d.status =
        FT_GetDeviceInfoDetail(index, &d.flags, &d.type, &d.id, &d.locId, d.serial, d.description, &d.handle);
    return d;
}

std::uint32_t deviceCount(FT_STATUS expected = FT_OK) {
    std::uint32_t count = 99;
    EXPECT_EQ(FT_CreateDeviceInfoList(&count), expected);
    return count;
}

TEST(VirtualBoardDevices, OneBoardDescribesItselfAsAnRSeriesChip) {
    vb::reset(recording());
    EXPECT_EQ(deviceCount(), 1u);
    Details closed = details(0);
    EXPECT_EQ(closed.status, FT_OK);
    EXPECT_EQ(closed.flags, 0u);
    EXPECT_EQ(closed.type, 5u);
    EXPECT_EQ(closed.id, 0x04036001u);
    EXPECT_NE(closed.locId, 0u);
    EXPECT_STREQ(closed.serial, "VTB00001");
    EXPECT_STREQ(closed.description, "Pitchime Virtual Tone Board");
    EXPECT_EQ(closed.handle, nullptr);

    FT_HANDLE h = nullptr;
    ASSERT_EQ(FT_Open(0, &h), FT_OK);
    Details open = details(0);
    EXPECT_EQ(open.flags, 1u);
    EXPECT_EQ(open.handle, h);
    EXPECT_EQ(open.locId, closed.locId);
    EXPECT_EQ(details(1).status, FT_DEVICE_NOT_FOUND);
    EXPECT_STREQ(details(1).description, "untouched");
}

TEST(VirtualBoardDevices, NoneOrTwoAttached) {
    vb::Options options;
    options.devices = 0;
    vb::reset(options);
    FT_HANDLE h = nullptr;
    EXPECT_EQ(deviceCount(), 0u);
    EXPECT_EQ(details(0).status, FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(FT_Open(0, &h), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(h, nullptr);

    // Of two boards only the first can be opened; the other is in use.
    options.devices = 2;
    vb::reset(options);
    EXPECT_EQ(deviceCount(), 2u);
    const Details second = details(1);
    EXPECT_EQ(second.status, FT_OK);
    EXPECT_STREQ(second.serial, "VTB00002");
    EXPECT_NE(second.locId, details(0).locId);
    EXPECT_EQ(details(2).status, FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(FT_Open(2, &h), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(FT_Open(1, &h), FT_DEVICE_NOT_OPENED);
    EXPECT_EQ(FT_Open(0, &h), FT_OK);
    EXPECT_EQ(details(0).handle, h);
}

TEST(VirtualBoardOptions, WritesFailForGoodAfterTheAllowedCount) {
    vb::Options options = recording();
    options.failAfter = 2;
    FT_HANDLE h = openReady(options);  // the idle pattern is write 1
    EXPECT_EQ(send(h, a5To1), FT_OK);
    std::uint32_t written = 7;
    EXPECT_EQ(send(h, control36To3, &written), FT_IO_ERROR);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(send(h, idle), FT_IO_ERROR);
    const vb::Counters c = vb::counters();
    EXPECT_EQ(c.writes, 2);
    EXPECT_EQ(c.registerWrites, 1);
    EXPECT_EQ(c.violations, 0);
    EXPECT_EQ(c.lines, 0x2C);
    EXPECT_EQ(FT_Close(h), FT_OK);

    options.failAfter = 0;
    vb::reset(options);
    ASSERT_EQ(FT_Open(0, &h), FT_OK);
    ASSERT_EQ(FT_SetBitMode(h, 0xFF, 1), FT_OK);
    EXPECT_EQ(send(h, idle), FT_IO_ERROR);
    EXPECT_EQ(vb::counters().writes, 0);
    EXPECT_EQ(vb::counters().lines, 0xFF);
}

void setVariable(const char* name, const char* value) {
#if defined(_WIN32)
    _putenv_s(name, value != nullptr ? value : "");
#else
    if (value != nullptr) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
#endif
}

TEST(VirtualBoardOptions, EnvironmentIsReadAtTheFirstCall) {
    const std::string trace = scratchPath("environment");
    std::filesystem::remove(trace);
    setVariable("PITCHIME_VBOARD_TRACE", trace.c_str());
    setVariable("PITCHIME_VBOARD_DEVICES", "3");
    setVariable("PITCHIME_VBOARD_FAIL_AFTER", "5");
    setVariable("PITCHIME_VBOARD_OPEN_DELAY_MS", "20");
    setVariable("PITCHIME_VBOARD_WAV", "board.wav");
    vb::Options o = vb::optionsFromEnvironment();
    EXPECT_EQ(o.tracePath, trace);
    EXPECT_EQ(o.wavPath, "board.wav");
    EXPECT_EQ(o.wavRate, 48000);
    EXPECT_EQ(o.devices, 3);
    EXPECT_EQ(o.failAfter, 5);
    EXPECT_EQ(o.openDelayMs, 20);

    vb::resetFromEnvironment();
    setVariable("PITCHIME_VBOARD_OPEN_DELAY_MS", nullptr);
    EXPECT_EQ(deviceCount(), 3u);  // the first call reads the environment
    setVariable("PITCHIME_VBOARD_DEVICES", "1");
    EXPECT_EQ(deviceCount(), 3u);  // and only the first
    EXPECT_TRUE(std::filesystem::exists(trace));

    for (const char* bad : {"", "x", "-1", "2x", "99999999999999999999"}) {
        SCOPED_TRACE(bad);
        setVariable("PITCHIME_VBOARD_DEVICES", bad);
        setVariable("PITCHIME_VBOARD_FAIL_AFTER", bad);
        setVariable("PITCHIME_VBOARD_OPEN_DELAY_MS", bad);
        o = vb::optionsFromEnvironment();
        EXPECT_EQ(o.devices, 1);
        EXPECT_EQ(o.failAfter, -1);
        EXPECT_EQ(o.openDelayMs, 0);
    }
    for (const char* name : {"PITCHIME_VBOARD_TRACE", "PITCHIME_VBOARD_DEVICES", "PITCHIME_VBOARD_FAIL_AFTER",
                             "PITCHIME_VBOARD_OPEN_DELAY_MS", "PITCHIME_VBOARD_WAV"}) {
        setVariable(name, nullptr);
    }
    vb::reset(recording());
    std::filesystem::remove(trace);
}

TEST(VirtualBoardOptions, OpenWaitsRealTimeNotPlatformTime) {
    vb::Options options;
    options.openDelayMs = 30;
    vb::reset(options);
    const std::int64_t virtualBefore = pitchime::platform::nowUs();
    const auto before = std::chrono::steady_clock::now();
    FT_HANDLE h = nullptr;
    EXPECT_EQ(FT_Open(0, &h), FT_OK);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(30));
    EXPECT_EQ(pitchime::platform::nowUs(), virtualBefore);
}

// Splits one line of the trace into its members, keeping their order;
// nullopt when it is not a flat JSON object of integers and strings.
std::optional<std::vector<std::pair<std::string, std::string>>> parseObject(const std::string& line) {
    std::vector<std::pair<std::string, std::string>> members;
    std::size_t at = 0;
    auto take = [&](char c) { return at < line.size() && line[at] == c ? (++at, true) : false; };
    auto quoted = [&](std::string& out) {
        if (!take('"')) return false;
        const std::size_t end = line.find('"', at);
        if (end == std::string::npos) return false;
        out = line.substr(at, end - at);
        at = end + 1;
        return out.find('\\') == std::string::npos;
    };
    if (!take('{')) return std::nullopt;
    do {
        std::string key, value;
        if (!quoted(key) || !take(':')) return std::nullopt;
        if (at < line.size() && line[at] == '"') {
            if (!quoted(value)) return std::nullopt;
        } else {
            const std::size_t start = at;
            take('-');
            while (at < line.size() && std::isdigit(static_cast<unsigned char>(line[at]))) ++at;
            if (at == start) return std::nullopt;
            value = line.substr(start, at - start);
        }
        members.emplace_back(key, value);
    } while (take(','));
    if (!take('}') || at != line.size()) return std::nullopt;
    return members;
}

std::vector<std::string> readLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string hex(const Bytes& bytes) {
    std::string out;
    char two[3];
    for (std::uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02x", b);
        out += two;
    }
    return out;
}

TEST(VirtualBoardTrace, OneLinePerCallThenWhatTheBoardSaw) {
    const std::string path = scratchPath("trace");
    {
        std::ofstream earlier(path, std::ios::trunc);
        earlier << "{\"earlier\":1}\n";
    }
    vb::Options options;
    options.tracePath = path;
    vb::reset(options);
    pitchime::platform::sleepMs(3);  // time before the first call does not count

    Bytes truncated = control36To3;
    truncated.erase(truncated.begin() + 2, truncated.begin() + 4);
    std::uint32_t count = 0;
    Details d;
    FT_HANDLE h = nullptr;
    FT_CreateDeviceInfoList(&count);
    pitchime::platform::sleepMs(5);
    FT_GetDeviceInfoDetail(0, &d.flags, &d.type, &d.id, &d.locId, d.serial, d.description, &d.handle);
    FT_Open(0, &h);
    FT_SetBaudRate(h, 3000000);
    FT_SetBitMode(h, 0xFF, 1);
    send(h, idle);
    pitchime::platform::sleepMs(2);
    send(h, joined({control36To3, low98To0}));
    send(h, truncated);
    pitchime::platform::sleepMs(1);
    FT_Close(h);
    send(h, idle);
    FT_GetDeviceInfoDetail(4, &d.flags, &d.type, &d.id, &d.locId, d.serial, d.description, &d.handle);

    const std::vector<std::string> expected{
        R"({"earlier":1})",
        R"({"t_us":0,"call":"FT_CreateDeviceInfoList","status":0,"count":1})",
        R"({"t_us":5000,"call":"FT_GetDeviceInfoDetail","index":0,"status":0})",
        R"({"t_us":5000,"call":"FT_Open","index":0,"status":0})",
        R"({"t_us":5000,"call":"FT_SetBaudRate","baud":3000000,"status":0})",
        R"({"t_us":5000,"call":"FT_SetBitMode","mask":255,"mode":1,"status":0})",
        R"({"t_us":5000,"call":"FT_Write","bytes":"ff2404","status":0,"written":3})",
        R"({"t_us":7000,"call":"FT_Write","bytes":")" + hex(joined({control36To3, low98To0})) +
            R"(","status":0,"written":42})",
        R"({"t_us":7000,"reg":3,"value":54})",
        R"({"t_us":7000,"reg":0,"value":152})",
        R"({"t_us":7000,"call":"FT_Write","bytes":")" + hex(truncated) + R"(","status":0,"written":19})",
        R"({"t_us":7000,"violation":"write strobe after 7 shift clock edges, 8 needed"})",
        R"({"t_us":8000,"call":"FT_Close","status":0})",
        R"({"t_us":8000,"call":"FT_Write","bytes":"ff2404","status":1,"written":0})",
        R"({"t_us":8000,"violation":"FT_Write after FT_Close"})",
        R"({"t_us":8000,"call":"FT_GetDeviceInfoDetail","index":4,"status":2})",
    };
    // Each line is on disk as soon as its call returns.
    const std::vector<std::string> lines = readLines(path);
    EXPECT_EQ(lines, expected);

    long long lastUs = 0;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i]);
        const auto members = parseObject(lines[i]);
        ASSERT_TRUE(members.has_value());
        ASSERT_GE(members->size(), 2u);
        EXPECT_EQ(members->front().first, "t_us");
        const long long us = std::stoll(members->front().second);
        EXPECT_GE(us, lastUs);
        lastUs = us;
    }
    vb::reset(vb::Options{});
    std::filesystem::remove(path);
}

TEST(VirtualBoardTrace, LongWritesAreTracedWhole) {
    const std::string path = scratchPath("long");
    std::filesystem::remove(path);
    vb::Options options;
    options.tracePath = path;
    const FT_HANDLE h = openReady(options);
    Bytes many;
    for (int i = 0; i < 3000; ++i) many.insert(many.end(), idle.begin(), idle.end());
    std::uint32_t written = 0;
    EXPECT_EQ(send(h, many, &written), FT_OK);
    EXPECT_EQ(written, 9000u);
    const std::vector<std::string> lines = readLines(path);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[4],
              R"({"t_us":0,"call":"FT_Write","bytes":")" + hex(many) + R"(","status":0,"written":9000})");
    EXPECT_EQ(vb::counters().violations, 0) << vb::lastViolation();
    vb::reset(vb::Options{});
    std::filesystem::remove(path);
}

TEST(VirtualBoardRecord, KeepsAtMostItsCapacityWithTimes) {
    const FT_HANDLE h = openReady(recording(2));
    const std::int64_t start = pitchime::platform::nowUs();
    EXPECT_EQ(send(h, control36To3), FT_OK);
    pitchime::platform::sleepMs(31);
    EXPECT_EQ(send(h, low98To0), FT_OK);
    EXPECT_EQ(send(h, high0ATo0), FT_OK);
    const std::vector<vb::RegisterWrite> record = vb::registerWrites();
    ASSERT_EQ(record.size(), 2u);
    EXPECT_EQ(record[1].tUs - record[0].tUs, 31000);
    EXPECT_LE(record[0].tUs, start + 31000);
    EXPECT_EQ(vb::counters().registerWrites, 3);
    EXPECT_EQ(vb::counters().unrecorded, 1);
}

TEST(VirtualBoardRecord, KeepsTheSizeAndAnswerOfEveryWriteCall) {
    // Every call is kept, also those that fail or reach no line.
    vb::Options options = recording();
    options.writeCallCapacity = 4;
    options.failAfter = 3;
    const FT_HANDLE h = openReady(options);
    EXPECT_EQ(send(h, a5To1), FT_OK);
    EXPECT_EQ(send(h, joined({a5To1, idle})), FT_OK);
    EXPECT_EQ(send(h, a5To1), FT_IO_ERROR);
    EXPECT_EQ(send(h, Bytes{}), FT_IO_ERROR);
    EXPECT_EQ(vb::writeCalls(),
              (std::vector<vb::WriteCall>{{3, FT_OK}, {21, FT_OK}, {24, FT_OK}, {21, FT_IO_ERROR}}));
    EXPECT_EQ(vb::counters().unrecordedWriteCalls, 1);

    vb::reset(options);
    EXPECT_TRUE(vb::writeCalls().empty());
    EXPECT_EQ(vb::counters().unrecordedWriteCalls, 0);
}

TEST(VirtualBoardThreads, CallsFromTwoThreadsKeepEveryWriteWhole) {
    vb::Options options = recording(2000);
    options.wavPath = scratchPath("threads") + ".wav";
    const FT_HANDLE h = openReady(options);
    auto writer = [h](const Bytes& f) {
        for (int i = 0; i < 500; ++i) EXPECT_EQ(send(h, f), FT_OK);
    };
    std::thread a(writer, a5To1);
    std::thread b(writer, control36To3);
    a.join();
    b.join();
    int toCounter1 = 0;
    for (auto [address, value] : decoded()) toCounter1 += address == 1 && value == 0xA5;
    EXPECT_EQ(toCounter1, 500);
    EXPECT_EQ(vb::counters().registerWrites, 1000);
    EXPECT_EQ(vb::counters().violations, 0) << vb::lastViolation();

    // A release thread closes while the main thread keeps writing.
    std::atomic<bool> started{false};
    std::thread release([&] {
        while (!started) std::this_thread::yield();
        EXPECT_EQ(send(h, idle), FT_OK);
        EXPECT_EQ(FT_Close(h), FT_OK);
    });
    int ok = 0, refused = 0;
    for (int i = 0; i < 2000; ++i) {
        const FT_STATUS status = send(h, a5To1);
        if (i == 10) started = true;
        if (status == FT_OK) {
            EXPECT_EQ(refused, 0);  // nothing gets through once the device is closed
            ++ok;
        } else {
            EXPECT_EQ(status, FT_INVALID_HANDLE);
            ++refused;
        }
    }
    release.join();
    EXPECT_EQ(ok + refused, 2000);
    EXPECT_EQ(vb::counters().registerWrites, 1000 + ok);
    EXPECT_EQ(vb::counters().violations, refused);
    // The release's close completed the sound file.
    EXPECT_FALSE(vb::counters().recording);
    pitchime::test::Sound sound;
    EXPECT_EQ(pitchime::test::readWav(options.wavPath, sound), "");
    std::filesystem::remove(options.wavPath);
}

// The sound of a session: what the model of the 8254 made of the register
// writes, at the times of the calls that carried them.

TEST(VirtualBoardSound, ASessionIsRecordedFromOpenToClose) {
    namespace t = pitchime::test;
    vb::Options options;
    options.wavPath = scratchPath("session") + ".wav";
    options.wavRate = 44100;
    vb::reset(options);
    pitchime::platform::sleepMs(7);  // before the first call: not part of the recording
    FT_HANDLE h = nullptr;
    ASSERT_EQ(FT_Open(0, &h), FT_OK);
    EXPECT_TRUE(vb::counters().recording);
    ASSERT_EQ(FT_SetBitMode(h, 0xFF, 1), FT_OK);
    ASSERT_EQ(send(h, idle), FT_OK);
    pitchime::platform::sleepMs(200);
    // Note 69 on counter 0, all in one call at 0.2 s.
    ASSERT_EQ(send(h, joined({control36To3, low98To0, high0ATo0})), FT_OK);
    pitchime::platform::sleepMs(300);
    ASSERT_EQ(FT_Close(h), FT_OK);

    const vb::Counters c = vb::counters();
    EXPECT_FALSE(c.recording);
    EXPECT_FALSE(c.recordingFailed);
    t::Sound sound;
    ASSERT_EQ(t::readWav(options.wavPath, sound), "");
    EXPECT_EQ(sound.rate, 44100);
    EXPECT_EQ(static_cast<std::int64_t>(sound.samples.size()), c.recordedSamples);
    // Up to the close and a little more: the last samples need the 16 after them.
    EXPECT_GE(sound.seconds(), 0.5);
    EXPECT_LT(sound.seconds(), 0.501);
    EXPECT_EQ(t::rms(sound, 0.0, 0.199), 0.0);
    // The counter starts with OUT high: its first edge comes half a period
    // (1356 clocks, 1.14 ms) after the write.
    EXPECT_NEAR(t::onsetAfter(sound, 0.0, 0.5, 0.1), 0.2 + 1357.0 / 1193182.0, 0.0002);
    EXPECT_NEAR(t::zeroCrossingHz(sound, 0.25, 0.5), 1193182.0 / 2712.0, 0.05);

    // A second session starts a new recording; a reset ends it with a whole file.
    ASSERT_EQ(FT_Open(0, &h), FT_OK);
    pitchime::platform::sleepMs(100);
    vb::reset(vb::Options{});
    ASSERT_EQ(t::readWav(options.wavPath, sound), "");
    EXPECT_NEAR(sound.seconds(), 0.1, 0.001);
    std::filesystem::remove(options.wavPath);
}

TEST(VirtualBoardSound, AFileThatCannotBeCreatedLeavesTheBoardWorking) {
    vb::Options options = recording();
    options.wavPath = scratchPath("missing") + "/board.wav";
    const FT_HANDLE h = openReady(options);
    EXPECT_TRUE(vb::counters().recordingFailed);
    EXPECT_FALSE(vb::counters().recording);
    EXPECT_EQ(send(h, control36To3), FT_OK);
    EXPECT_EQ(FT_Close(h), FT_OK);
    EXPECT_EQ(decoded(), (std::vector<std::pair<int, int>>{{3, 0x36}}));
    EXPECT_FALSE(std::filesystem::exists(options.wavPath));
}

}  // namespace
