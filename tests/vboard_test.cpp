// The virtual tone board, driven through the D2XX calls with the byte
// sequences the board link sends, and with broken ones it must refuse.
#include "vboard/vboard.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "board/write_frame.h"
#include "d2xx/d2xx.h"
#include "platform/platform.h"

namespace {

namespace vb = pitchime::vboard;
using namespace pitchime::d2xx;
using pitchime::platform::sleepMs;
using Bytes = std::vector<std::uint8_t>;
using Writes = std::vector<std::pair<int, int>>;

const Bytes idle(pitchime::idlePattern.begin(), pitchime::idlePattern.end());

// The board link's frame writing `value` to register `address` (its bytes
// are pinned by the WriteFrame tests).
Bytes frame(int value, int address) {
    pitchime::WriteFrame writeFrame;
    pitchime::encodeWriteFrame(writeFrame, value, address);
    return Bytes(writeFrame.begin(), writeFrame.end());
}

Bytes joined(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes with(Bytes f, std::size_t index, std::uint8_t value) {
    f[index] = value;
    return f;
}

FT_STATUS send(FT_HANDLE handle, Bytes bytes, std::uint32_t* written = nullptr) {
    std::uint32_t count = 0xDEADBEEF;
    const FT_STATUS status = FT_Write(handle, bytes.data(), static_cast<std::uint32_t>(bytes.size()), &count);
    if (written != nullptr) *written = count;
    return status;
}

// Resets the board with `options`, opens it and configures it as the board
// link does, ending with the idle pattern.
FT_HANDLE openReady(vb::Options options = {}) {
    if (options.recordCapacity == 0) options.recordCapacity = 64;
    vb::reset(options);
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(FT_Open(0, &handle), FT_OK);
    EXPECT_EQ(FT_SetBaudRate(handle, 3000000), FT_OK);
    EXPECT_EQ(FT_SetBitMode(handle, 0xFF, 1), FT_OK);
    EXPECT_EQ(send(handle, idle), FT_OK);
    return handle;
}

Writes decoded() {
    Writes out;
    for (const vb::RegisterWrite& w : vb::registerWrites()) out.emplace_back(w.address, w.value);
    return out;
}

TEST(VirtualBoardDecoding, FramesWriteTheirRegisterWhereverTheyFall) {
    const FT_HANDLE h = openReady();
    EXPECT_EQ(vb::status().lines, 0x04);
    // Frames and idle patterns in one call, a frame split byte by byte, one
    // straight after the all-high byte.
    ASSERT_EQ(send(h, joined({frame(0x36, 3), frame(0x98, 0), idle, idle, frame(0x0A, 0), idle})), FT_OK);
    for (std::uint8_t b : frame(0xA5, 1)) ASSERT_EQ(send(h, {b}), FT_OK);
    ASSERT_EQ(send(h, joined({{0xFF}, frame(0xFF, 2)})), FT_OK);
    EXPECT_EQ(decoded(), (Writes{{3, 0x36}, {0, 0x98}, {0, 0x0A}, {1, 0xA5}, {2, 0xFF}}));
    EXPECT_EQ(vb::status().counts.violations, 0) << vb::lastViolation();
    EXPECT_EQ(vb::status().lines, 0x34);
}

TEST(VirtualBoardViolations, MalformedFramesWriteNoRegister) {
    const Bytes control = frame(0x36, 3);
    Bytes shortOne = control;  // one clock pulse short
    shortOne.erase(shortOne.begin() + 4, shortOne.begin() + 6);
    Bytes lateData = frame(0xFF, 2);  // data raised together with the clock, not before it
    for (std::size_t i = 2; i < 18; i += 2) lateData[i] = 0x34;
    Bytes allHighInside = control;  // an extra clock pulse in the all-high byte
    allHighInside.insert(allHighInside.begin() + 11, {0xFF, 0x3C});
    Bytes seven = control;  // seven pulses after the all-high byte, whose edge must not count
    seven.erase(seven.begin() + 2, seven.begin() + 4);
    const struct {
        Bytes bytes;
        const char* violation;
    } cases[] = {
        {shortOne, "write strobe after 7 shift clock edges, 8 needed"},
        {{0x24, 0x24, 0x3C, 0x38, 0x3C}, "write strobe after 0 shift clock edges, 8 needed"},
        {joined({{0xFF}, seven}), "write strobe after 7 shift clock edges, 8 needed"},
        {lateData, "data line changed on the rising edge of the shift clock"},
        {with(control, 19, 0x30), "address lines changed while the write strobe was low"},
        {with(with(with(control, 18, 0x1C), 19, 0x18), 20, 0x1C),
         "write strobe low while the enable line was low"},
        {with(control, 19, 0x3A), "shift clock pulsed while the write strobe was low"},
        {allHighInside, "all-high byte among the shift clock pulses of a register write"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.violation);
        const FT_HANDLE h = openReady();
        EXPECT_EQ(send(h, c.bytes), FT_OK);
        EXPECT_EQ(vb::status().counts.registerWrites, 0);
        EXPECT_EQ(vb::lastViolation(), c.violation);
        // The board recovers with the next well-formed frame.
        const std::int64_t before = vb::status().counts.violations;
        EXPECT_EQ(send(h, joined({idle, frame(0xA5, 1)})), FT_OK);
        EXPECT_EQ(decoded(), (Writes{{1, 0xA5}}));
        EXPECT_EQ(vb::status().counts.violations, before) << vb::lastViolation();
    }

    // A spare line may rise only in the all-high byte, or with the enable line low.
    const FT_HANDLE h = openReady();
    EXPECT_EQ(send(h, joined({{0x24, 0x04, 0x84, 0x04}, with(control, 10, 0x7C)})), FT_OK);
    EXPECT_EQ(vb::lastViolation(), "spare line driven high while the enable line is high (lines 0x7c)");
    EXPECT_EQ(vb::status().counts.violations, 1);
}

TEST(VirtualBoardSession, OnlyAnOpenHandleInBitBangModeReachesTheLines) {
    vb::reset({});
    std::uint32_t written = 7;
    EXPECT_EQ(send(vb::deviceHandle(), idle, &written), FT_INVALID_HANDLE);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(vb::lastViolation(), "FT_Write with a handle that is not open");
    EXPECT_EQ(FT_SetBitMode(vb::deviceHandle(), 0xFF, 1), FT_INVALID_HANDLE);
    FT_HANDLE h = nullptr;
    ASSERT_EQ(FT_Open(0, &h), FT_OK);
    EXPECT_EQ(h, vb::deviceHandle());
    EXPECT_EQ(FT_SetBaudRate(h, 3000001), FT_INVALID_BAUD_RATE);

    // Before bit-bang mode, or in another mode, the chip takes the bytes but no line moves.
    EXPECT_EQ(send(h, frame(0x36, 3), &written), FT_OK);
    EXPECT_EQ(written, 21u);
    EXPECT_EQ(vb::lastViolation(), "FT_Write before bit-bang mode (mask 0xff, mode 1) was set");
    for (auto [mask, mode] : {std::pair{0xFF, 0}, std::pair{0x3F, 1}, std::pair{0xFF, 4}}) {
        ASSERT_EQ(FT_SetBitMode(h, mask, mode), FT_OK);
        EXPECT_EQ(send(h, frame(0x36, 3)), FT_OK);
    }
    EXPECT_EQ(vb::status().counts.writes, 0);
    EXPECT_EQ(vb::status().lines, 0xFF);
    ASSERT_EQ(FT_SetBitMode(h, 0xFF, 1), FT_OK);
    EXPECT_EQ(send(h, frame(0xA5, 1)), FT_OK);

    // After the close nothing reaches the lines, which keep their last level.
    ASSERT_EQ(FT_Close(h), FT_OK);
    EXPECT_EQ(FT_Close(h), FT_INVALID_HANDLE);
    EXPECT_EQ(send(h, joined({idle, frame(0x36, 3)}), &written), FT_INVALID_HANDLE);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(vb::lastViolation(), "FT_Write after FT_Close");
    const vb::Status c = vb::status();
    EXPECT_EQ(c.counts.violations, 6);
    EXPECT_EQ(c.counts.registerWrites, 1);
    EXPECT_EQ(c.lines, 0x2C);
    // A new session starts outside bit-bang mode.
    ASSERT_EQ(FT_Open(0, &h), FT_OK);
    EXPECT_FALSE(vb::status().bitBang);
}

struct Details {
    FT_STATUS status = 0;
    std::uint32_t flags = 0xAA, type = 0xAA, id = 0xAA, locId = 0xAA;
    char serial[16] = "untouched";
    char description[64] = "untouched";
    FT_HANDLE handle = nullptr;
};

Details details(std::uint32_t index) {
    Details d;
    d.status =
        FT_GetDeviceInfoDetail(index, &d.flags, &d.type, &d.id, &d.locId, d.serial, d.description, &d.handle);
    return d;
}

std::uint32_t deviceCount() {
    std::uint32_t count = 99;
    EXPECT_EQ(FT_CreateDeviceInfoList(&count), FT_OK);
    return count;
}

TEST(VirtualBoardDevices, OneNoneOrTwoBoards) {
    // What an open board reports of itself is in the end-to-end transcripts.
    vb::reset({});
    EXPECT_EQ(deviceCount(), 1u);
    const Details closed = details(0);
    EXPECT_EQ(closed.status, FT_OK);
    EXPECT_EQ(closed.flags, 0u);
    EXPECT_EQ(closed.handle, nullptr);
    EXPECT_STREQ(closed.serial, "VTB00001");
    FT_HANDLE h = nullptr, second = nullptr;
    ASSERT_EQ(FT_Open(0, &h), FT_OK);
    EXPECT_EQ(FT_Open(0, &second), FT_DEVICE_NOT_OPENED);
    EXPECT_EQ(details(1).status, FT_DEVICE_NOT_FOUND);
    EXPECT_STREQ(details(1).description, "untouched");

    vb::reset({.devices = 0});
    EXPECT_EQ(deviceCount(), 0u);
    EXPECT_EQ(details(0).status, FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(FT_Open(0, &second), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(second, nullptr);

    // Of two boards only the first can be opened; the other is in use.
    vb::reset({.devices = 2});
    EXPECT_EQ(deviceCount(), 2u);
    EXPECT_STREQ(details(1).serial, "VTB00002");
    EXPECT_NE(details(1).locId, details(0).locId);
    EXPECT_EQ(FT_Open(2, &h), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(FT_Open(1, &h), FT_DEVICE_NOT_OPENED);
    EXPECT_EQ(FT_Open(0, &h), FT_OK);
}

TEST(VirtualBoardOptions, WritesFailForGoodAfterTheAllowedCount) {
    const FT_HANDLE h = openReady({.failAfter = 2});  // the idle pattern is write 1
    EXPECT_EQ(send(h, frame(0xA5, 1)), FT_OK);
    std::uint32_t written = 7;
    EXPECT_EQ(send(h, frame(0x36, 3), &written), FT_IO_ERROR);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(send(h, idle), FT_IO_ERROR);
    const vb::Status c = vb::status();
    EXPECT_EQ(c.counts.writes, 2);
    EXPECT_EQ(c.counts.registerWrites, 1);
    EXPECT_EQ(c.counts.violations, 0);
    EXPECT_EQ(c.lines, 0x2C);
}

std::string hex(const Bytes& bytes) {
    std::string out;
    for (std::uint8_t b : bytes) out += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 0x0F]};
    return out;
}

TEST(VirtualBoardTrace, OneLinePerCallThenWhatTheBoardSaw) {
    // A file of its own for each run, so test runs side by side never share one.
    const std::string path = ::testing::TempDir() + "vboard_trace_" +
                             std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    std::ofstream(path) << "{\"earlier\":1}\n";
    vb::reset({.tracePath = path});
    sleepMs(3);  // time before the first call does not count

    const Bytes two = joined({frame(0x36, 3), frame(0x98, 0)});
    Bytes truncated = frame(0x36, 3);
    truncated.erase(truncated.begin() + 2, truncated.begin() + 4);
    Bytes many;  // longer than any buffer of the trace
    for (int i = 0; i < 3000; ++i) many.insert(many.end(), idle.begin(), idle.end());
    std::uint32_t count = 0;
    FT_HANDLE h = nullptr;
    FT_CreateDeviceInfoList(&count);
    sleepMs(5);
    details(0);
    FT_Open(0, &h);
    FT_SetBaudRate(h, 3000000);
    FT_SetBitMode(h, 0xFF, 1);
    send(h, many);
    sleepMs(2);
    send(h, two);
    send(h, truncated);
    sleepMs(1);
    FT_Close(h);
    send(h, idle);
    details(4);

    const std::vector<std::string> expected{
        R"({"earlier":1})",
        R"({"t_us":0,"call":"FT_CreateDeviceInfoList","status":0,"count":1})",
        R"({"t_us":5000,"call":"FT_GetDeviceInfoDetail","index":0,"status":0})",
        R"({"t_us":5000,"call":"FT_Open","index":0,"status":0})",
        R"({"t_us":5000,"call":"FT_SetBaudRate","baud":3000000,"status":0})",
        R"({"t_us":5000,"call":"FT_SetBitMode","mask":255,"mode":1,"status":0})",
        R"({"t_us":5000,"call":"FT_Write","bytes":")" + hex(many) + R"(","status":0,"written":9000})",
        R"({"t_us":7000,"call":"FT_Write","bytes":")" + hex(two) + R"(","status":0,"written":42})",
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
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    EXPECT_EQ(lines, expected);
    vb::reset({});
    std::filesystem::remove(path);
}

}  // namespace
