// The seven D2XX calls as the virtual board answers them. Each runs inside
// one CallScope: under the board's lock, stamped with its time since the
// first call, its trace lines flushed to the file as it returns.
//
// Only device 0 can be opened by this process; the others of a larger list
// report themselves open elsewhere.
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "d2xx/d2xx.h"
#include "platform/platform.h"
#include "vboard/state.h"

namespace pitchime::vboard {
namespace {

// The chip as FT_GetDeviceInfoDetail describes it.
constexpr std::uint32_t deviceId = 0x04036001;  // 0403:6001
constexpr std::uint32_t firstLocId = 0x1121;
constexpr const char* description = "Pitchime Virtual Tone Board";

// The R series' range of baud rates.
constexpr std::uint32_t minBaudRate = 183;
constexpr std::uint32_t maxBaudRate = 3000000;

// Bit-bang mode with every line an output.
constexpr unsigned char allOutputs = 0xFF;
constexpr unsigned char asyncBitBang = 0x01;

// What every call does first and last: takes the board's lock, counts the
// call and takes its time, and when the call returns puts its trace lines
// (and what the board saw meanwhile) on the file in one write, rather than
// one per line, which would add to the time of every register write the
// board is timing.
struct CallScope {
    Board& b;
    std::lock_guard<std::mutex> lock;
    State& s;
    std::int64_t t;  // microseconds since the first call

    CallScope() : b(board()), lock(b.mutex), s(b.state), t(begin(b)) {}
    ~CallScope() { traceFlush(s); }
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

    static std::int64_t begin(Board& b) {
        ensureStarted(b);
        ++b.state.counts.calls;
        return platform::nowUs() - b.state.epochUs;
    }
};

bool isOpenHandle(const State& s, FT_HANDLE handle) { return s.open && handle == theHandle(); }

}  // namespace
}  // namespace pitchime::vboard

using namespace pitchime::d2xx;
using pitchime::vboard::asLL;
using pitchime::vboard::asU;
using pitchime::vboard::CallScope;
namespace vb = pitchime::vboard;

extern "C" {

FT_STATUS PITCHIME_D2XX_CALL FT_CreateDeviceInfoList(std::uint32_t* lpdwNumDevs) {
    CallScope call;
    FT_STATUS status = FT_OK;
    std::uint32_t count = 0;
    if (lpdwNumDevs == nullptr) {
        status = FT_INVALID_PARAMETER;
    } else {
        count = static_cast<std::uint32_t>(call.s.options.devices);
        *lpdwNumDevs = count;
    }
    vb::tracePart(call.s, "{\"t_us\":%lld,\"call\":\"FT_CreateDeviceInfoList\",\"status\":%u,\"count\":%u}\n",
                  asLL(call.t), asU(status), asU(count));
    return status;
}

FT_STATUS PITCHIME_D2XX_CALL FT_GetDeviceInfoDetail(std::uint32_t dwIndex, std::uint32_t* lpdwFlags,
                                                    std::uint32_t* lpdwType, std::uint32_t* lpdwID,
                                                    std::uint32_t* lpdwLocId, void* lpSerialNumber,
                                                    void* lpDescription, FT_HANDLE* pftHandle) {
    CallScope call;
    const vb::State& s = call.s;
    FT_STATUS status = FT_OK;
    if (dwIndex >= static_cast<std::uint32_t>(s.options.devices)) {
        status = FT_DEVICE_NOT_FOUND;
    } else if (lpdwFlags == nullptr || lpdwType == nullptr || lpdwID == nullptr || lpdwLocId == nullptr ||
               lpSerialNumber == nullptr || lpDescription == nullptr || pftHandle == nullptr) {
        status = FT_INVALID_PARAMETER;
    } else {
        // Device 0 is this process's board; the others are open elsewhere.
        const bool ours = dwIndex == 0;
        const bool open = ours ? s.open : true;
        *lpdwFlags = open ? FT_FLAGS_OPENED : 0;
        *lpdwType = FT_DEVICE_232R;
        *lpdwID = vb::deviceId;
        *lpdwLocId = vb::firstLocId + dwIndex;
        std::snprintf(static_cast<char*>(lpSerialNumber), serialNumberSize, "VTB%05u", asU(dwIndex + 1));
        std::snprintf(static_cast<char*>(lpDescription), descriptionSize, "%s", vb::description);
        *pftHandle = ours && s.open ? vb::theHandle() : nullptr;
    }
    vb::tracePart(call.s, "{\"t_us\":%lld,\"call\":\"FT_GetDeviceInfoDetail\",\"index\":%u,\"status\":%u}\n",
                  asLL(call.t), asU(dwIndex), asU(status));
    return status;
}

FT_STATUS PITCHIME_D2XX_CALL FT_Open(int deviceNumber, FT_HANDLE* pHandle) {
    vb::Board& b = vb::board();
    int delayMs = 0;
    {
        std::lock_guard lock(b.mutex);
        vb::ensureStarted(b);
        delayMs = b.state.options.openDelayMs;
    }
    // Real time, not the platform's clock: it gives a test the moment to
    // interrupt the program before the device is open.
    if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));

    CallScope call;
    vb::State& s = call.s;
    FT_STATUS status = FT_OK;
    if (pHandle == nullptr) {
        status = FT_INVALID_PARAMETER;
    } else if (deviceNumber < 0 || deviceNumber >= s.options.devices) {
        status = FT_DEVICE_NOT_FOUND;
    } else if (deviceNumber != 0 || s.open) {
        status = FT_DEVICE_NOT_OPENED;
    } else {
        // A fresh session: the chip is back in its FIFO mode until bit-bang
        // mode is set again.
        s.open = true;
        s.everOpened = true;
        s.bitBang = false;
        *pHandle = vb::theHandle();
        vb::startSound(call.b, call.t);
    }
    vb::tracePart(s, "{\"t_us\":%lld,\"call\":\"FT_Open\",\"index\":%d,\"status\":%u}\n", asLL(call.t),
                  deviceNumber, asU(status));
    return status;
}

FT_STATUS PITCHIME_D2XX_CALL FT_SetBaudRate(FT_HANDLE ftHandle, std::uint32_t dwBaudRate) {
    CallScope call;
    FT_STATUS status = FT_OK;
    if (!vb::isOpenHandle(call.s, ftHandle)) {
        status = FT_INVALID_HANDLE;
    } else if (dwBaudRate < vb::minBaudRate || dwBaudRate > vb::maxBaudRate) {
        status = FT_INVALID_BAUD_RATE;
    }
    vb::tracePart(call.s, "{\"t_us\":%lld,\"call\":\"FT_SetBaudRate\",\"baud\":%u,\"status\":%u}\n",
                  asLL(call.t), asU(dwBaudRate), asU(status));
    return status;
}

FT_STATUS PITCHIME_D2XX_CALL FT_SetBitMode(FT_HANDLE ftHandle, unsigned char ucMask, unsigned char ucEnable) {
    CallScope call;
    FT_STATUS status = FT_OK;
    if (!vb::isOpenHandle(call.s, ftHandle)) {
        status = FT_INVALID_HANDLE;
    } else {
        // Only asynchronous bit-bang with all eight lines outputs puts the
        // bytes on the board's lines; mode 0 and every other mode leave
        // them where the board cannot use them.
        call.s.bitBang = ucMask == vb::allOutputs && ucEnable == vb::asyncBitBang;
    }
    vb::tracePart(call.s,
                  "{\"t_us\":%lld,\"call\":\"FT_SetBitMode\",\"mask\":%u,\"mode\":%u,\"status\":%u}\n",
                  asLL(call.t), static_cast<unsigned>(ucMask), static_cast<unsigned>(ucEnable), asU(status));
    return status;
}

FT_STATUS PITCHIME_D2XX_CALL FT_Write(FT_HANDLE ftHandle, void* lpBuffer, std::uint32_t dwBytesToWrite,
                                      std::uint32_t* lpdwBytesWritten) {
    CallScope call;
    vb::State& s = call.s;
    const auto* bytes = static_cast<const std::uint8_t*>(lpBuffer);
    const std::uint32_t size = bytes != nullptr ? dwBytesToWrite : 0;

    FT_STATUS status = FT_OK;
    std::uint32_t written = 0;
    bool reachesLines = false;
    const char* problem = nullptr;
    if (!vb::isOpenHandle(s, ftHandle)) {
        status = FT_INVALID_HANDLE;
        problem = s.everOpened && ftHandle == vb::theHandle() ? "FT_Write after FT_Close"
                                                              : "FT_Write with a handle that is not open";
    } else if ((bytes == nullptr && dwBytesToWrite > 0) || lpdwBytesWritten == nullptr) {
        status = FT_INVALID_PARAMETER;
    } else if (++s.writeCalls > s.options.failAfter && s.options.failAfter >= 0) {
        // The board is gone: nothing reaches the lines.
        status = FT_IO_ERROR;
    } else {
        written = size;
        if (s.bitBang) {
            reachesLines = true;
        } else {
            // The chip takes the bytes into its FIFO, but no line moves.
            problem = "FT_Write before bit-bang mode (mask 0xff, mode 1) was set";
        }
    }
    if (lpdwBytesWritten != nullptr) *lpdwBytesWritten = written;
    if (s.writeRecord.size() < s.options.writeCallCapacity) {
        s.writeRecord.push_back(vb::WriteCall{dwBytesToWrite, status});
    } else {
        ++s.counts.unrecordedWriteCalls;
    }

    vb::traceWrite(s, call.t, bytes, size, status, written);
    if (problem != nullptr) vb::violation(s, call.t, "%s", problem);
    if (reachesLines) {
        ++s.counts.writes;
        for (std::uint32_t i = 0; i < size; ++i) vb::driveLines(call.b, call.t, bytes[i]);
    }
    return status;
}

FT_STATUS PITCHIME_D2XX_CALL FT_Close(FT_HANDLE ftHandle) {
    CallScope call;
    FT_STATUS status = FT_OK;
    if (!vb::isOpenHandle(call.s, ftHandle)) {
        status = FT_INVALID_HANDLE;
    } else {
        // The lines keep their last level; the next session must set
        // bit-bang mode again. The counters go on sounding, but the
        // recording of this session ends here.
        call.s.open = false;
        call.s.bitBang = false;
        vb::finishSound(call.b, call.t);
    }
    vb::tracePart(call.s, "{\"t_us\":%lld,\"call\":\"FT_Close\",\"status\":%u}\n", asLL(call.t), asU(status));
    return status;
}

}  // extern "C"
