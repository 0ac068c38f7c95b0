// Drives the libftdi1 adapter's D2XX calls against an emulated FT245R.
// Each scenario runs in its own umockdev testbed (see CMakeLists.txt): the
// replayed ioctl file fails any control or bulk transfer whose bytes differ
// from the recorded ones, so a call that succeeds here put exactly those
// bytes on the wire. Run as: ftdi_adapter_check <scenario>.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "d2xx/d2xx.h"

namespace {

using namespace pitchime::d2xx;

int failures = 0;

void expect(bool ok, const char* what, long long got, long long want) {
    if (!ok) {
        std::printf("FAIL %s: got %lld (0x%llx), want %lld (0x%llx)\n", what, got, got, want, want);
        ++failures;
    }
}

void expectEq(long long got, long long want, const char* what) { expect(got == want, what, got, want); }

void expectText(const char* got, const char* want, const char* what) {
    if (std::strcmp(got, want) != 0) {
        std::printf("FAIL %s: got \"%s\", want \"%s\"\n", what, got, want);
        ++failures;
    }
}

// Where the emulated board sits: bus 2, port 3 of the root hub.
constexpr std::uint32_t ft245rId = 0x04036001;
constexpr std::uint32_t ft245rLocId = 0x2300000;

unsigned char idlePattern[3] = {0xFF, 0x24, 0x04};
// 0x36 written to 8254 address 3: counter 0 to mode 3.
unsigned char controlWordFrame[21] = {0x24, 0x24, 0x3C, 0x3E, 0x3C, 0x3E, 0x3D, 0x3F, 0x3D, 0x3F, 0x3C,
                                      0x3E, 0x3D, 0x3F, 0x3D, 0x3F, 0x3C, 0x3E, 0x3C, 0x38, 0x3C};

struct Details {
    FT_STATUS status = 0;
    std::uint32_t flags = 0xEEEE, type = 0xEEEE, id = 0xEEEE, locId = 0xEEEE;
    char serial[serialNumberSize] = "untouched";
    char description[descriptionSize] = "untouched";
    FT_HANDLE handle = &failures;
};

Details details(std::uint32_t index) {
    Details d;
    d.status =
        FT_GetDeviceInfoDetail(index, &d.flags, &d.type, &d.id, &d.locId, d.serial, d.description, &d.handle);
    return d;
}

FT_HANDLE openFirst() {
    FT_HANDLE handle = nullptr;
    expectEq(FT_Open(0, &handle), FT_OK, "FT_Open(0)");
    expect(handle != nullptr, "FT_Open handle set", 0, 1);
    return handle;
}

void writeExpecting(FT_HANDLE handle, unsigned char* bytes, std::uint32_t size, FT_STATUS status,
                    std::uint32_t written, const char* what) {
    std::uint32_t count = 0xEEEE;
    expectEq(FT_Write(handle, bytes, size, &count), status, what);
    expectEq(count, written, "bytes written");
}

// A normal session in the order BoardPort uses: open, list, details, baud
// rate, bit mode, writes, close. Strings cannot be answered by ioctl replay,
// so the description is the adapter's fallback here.
void session() {
    FT_HANDLE handle = openFirst();
    std::uint32_t count = 0;
    expectEq(FT_CreateDeviceInfoList(&count), FT_OK, "FT_CreateDeviceInfoList");
    expectEq(count, 1, "deviceCount");
    const Details d = details(0);
    expectEq(d.status, FT_OK, "FT_GetDeviceInfoDetail(0)");
    expectEq(d.flags, FT_FLAGS_OPENED, "Flags of the open device");
    expectEq(d.type, FT_DEVICE_232R, "Type");
    expectEq(d.id, ft245rId, "ID");
    expectEq(d.locId, ft245rLocId, "LocId");
    expectText(d.description, "FTDI device 0403:6001", "Description fallback");
    expectText(d.serial, "", "serial number without a readable string");
    expect(d.handle == handle, "ftHandle is the open handle", 0, 1);

    expectEq(FT_SetBaudRate(handle, 3000000), FT_OK, "FT_SetBaudRate(3000000) before bit mode");
    expectEq(FT_SetBitMode(handle, 0xFF, 1), FT_OK, "FT_SetBitMode(0xFF, 1)");
    writeExpecting(handle, idlePattern, 3, FT_OK, 3, "FT_Write idle pattern");
    writeExpecting(handle, controlWordFrame, 21, FT_OK, 21, "FT_Write frame");
    expectEq(FT_Close(handle), FT_OK, "FT_Close");

    // The session is closed: nothing may reach the device any more.
    expectEq(FT_Close(handle), FT_INVALID_HANDLE, "second FT_Close");
    writeExpecting(handle, idlePattern, 3, FT_INVALID_HANDLE, 0, "FT_Write after close");
    expectEq(FT_SetBaudRate(handle, 3000000), FT_INVALID_HANDLE, "FT_SetBaudRate after close");
    expectEq(FT_SetBitMode(handle, 0xFF, 1), FT_INVALID_HANDLE, "FT_SetBitMode after close");
    count = 0;
    expectEq(FT_CreateDeviceInfoList(&count), FT_OK, "listing after close");
    expectEq(details(0).flags, 0, "Flags after close");
    expect(details(0).handle == nullptr, "ftHandle after close is null", 0, 1);
}

// Bit mode first, then the rates: the wire must carry the same divisors as
// with the rates set in serial mode (3000000: 0x0000, 9600: 0x4138).
void bitModeFirst() {
    FT_HANDLE handle = openFirst();
    expectEq(FT_SetBitMode(handle, 0xFF, 1), FT_OK, "FT_SetBitMode(0xFF, 1)");
    expectEq(FT_SetBaudRate(handle, 3000000), FT_OK, "FT_SetBaudRate(3000000) in bit-bang mode");
    expectEq(FT_SetBaudRate(handle, 9600), FT_OK, "FT_SetBaudRate(9600) in bit-bang mode");
    expectEq(FT_SetBaudRate(handle, 0), FT_INVALID_BAUD_RATE, "FT_SetBaudRate(0)");
    expectEq(FT_Close(handle), FT_OK, "FT_Close");
}

// The chip stalls the second bulk transfer.
void writeFails() {
    FT_HANDLE handle = openFirst();
    writeExpecting(handle, idlePattern, 3, FT_OK, 3, "first FT_Write");
    writeExpecting(handle, controlWordFrame, 21, FT_IO_ERROR, 0, "stalled FT_Write");
    expectEq(FT_Close(handle), FT_OK, "FT_Close after a failed write");
}

void twoDevices() {
    FT_HANDLE handle = openFirst();
    std::uint32_t count = 0;
    expectEq(FT_CreateDeviceInfoList(&count), FT_OK, "FT_CreateDeviceInfoList");
    expectEq(count, 2, "deviceCount");
    const Details first = details(0);
    const Details second = details(1);
    expectEq(first.flags, FT_FLAGS_OPENED, "device 0 is the one FT_Open(0) opened");
    expect(first.handle == handle, "device 0 reports the open handle", 0, 1);
    expectEq(second.flags, 0, "device 1 is not open");
    expect(second.handle == nullptr, "device 1 has no handle", 0, 1);
    expect(first.locId != second.locId, "the two devices have different LocIds", first.locId, second.locId);
    expectEq(details(2).status, FT_DEVICE_NOT_FOUND, "FT_GetDeviceInfoDetail(2)");
    expectEq(FT_Close(handle), FT_OK, "FT_Close");
}

void noDevice() {
    FT_HANDLE handle = &failures;
    expectEq(FT_Open(0, &handle), FT_DEVICE_NOT_FOUND, "FT_Open(0) without a device");
    expect(handle == &failures, "handle left as it was", 0, 1);
    std::uint32_t count = 99;
    expectEq(FT_CreateDeviceInfoList(&count), FT_OK, "FT_CreateDeviceInfoList");
    expectEq(count, 0, "deviceCount");
    const Details d = details(0);
    expectEq(d.status, FT_DEVICE_NOT_FOUND, "FT_GetDeviceInfoDetail(0)");
    expectEq(d.flags, 0xEEEE, "Flags left as they were");
    expectText(d.description, "untouched", "Description left as it was");
    // A session that never opened reaches no device.
    expectEq(FT_Close(nullptr), FT_INVALID_HANDLE, "FT_Close(null)");
    writeExpecting(nullptr, idlePattern, 3, FT_INVALID_HANDLE, 0, "FT_Write(null)");
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view scenario = argc > 1 ? argv[1] : "";
    if (scenario == "session") {
        session();
    } else if (scenario == "bit-mode-first") {
        bitModeFirst();
    } else if (scenario == "write-fails") {
        writeFails();
    } else if (scenario == "two-devices") {
        twoDevices();
    } else if (scenario == "no-device") {
        noDevice();
    } else {
        std::printf("unknown scenario \"%.*s\"\n", static_cast<int>(scenario.size()), scenario.data());
        return 2;
    }
    std::printf("%s: %d failure(s)\n", std::string(scenario).c_str(), failures);
    return failures == 0 ? 0 : 1;
}
