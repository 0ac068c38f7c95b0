// The virtual tone board. Every D2XX call takes one lock, so a release
// thread's FT_Write or FT_Close and the main thread's writes come through
// whole and in some order, as they would through the vendor's driver; the
// sound recording is only touched under it too. FT_Write allocates nothing:
// trace lines are formatted into fixed buffers, the record of register
// writes is reserved when the board is reset, and the recording lives in
// the board from the start.
#include "vboard/vboard.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "d2xx/d2xx.h"
#include "platform/platform.h"
#include "vboard/live_audio.h"  // live audio
#include "vboard/recording.h"

namespace pitchime::vboard {

namespace {

using d2xx::FT_DEVICE_NOT_FOUND;
using d2xx::FT_DEVICE_NOT_OPENED;
using d2xx::FT_INVALID_BAUD_RATE;
using d2xx::FT_INVALID_HANDLE;
using d2xx::FT_INVALID_PARAMETER;
using d2xx::FT_IO_ERROR;
using d2xx::FT_OK;

// The board's lines, bit of every byte the chip puts out.
constexpr std::uint8_t dataLine = 0x01;
constexpr std::uint8_t clockLine = 0x02;
constexpr std::uint8_t strobeLine = 0x04;  // active low
constexpr std::uint8_t addressLines = 0x18;
constexpr int addressShift = 3;
constexpr std::uint8_t enableLine = 0x20;
constexpr std::uint8_t spareLines = 0xC0;
// Every line high: the level of the pulled-up pins before bit-bang mode
// drives them, and the first byte of the idle pattern.
constexpr std::uint8_t allHigh = 0xFF;
constexpr int bitsPerRegister = 8;

// The chip as FT_GetDeviceInfoDetail describes it.
constexpr std::uint32_t deviceId = 0x04036001;  // 0403:6001
constexpr std::uint32_t firstLocId = 0x1121;
constexpr const char* description = "Pitchime Virtual Tone Board";
constexpr int maxDevices = 127;

// The R series' range of baud rates.
constexpr std::uint32_t minBaudRate = 183;
constexpr std::uint32_t maxBaudRate = 3000000;

// Bit-bang mode with every line an output.
constexpr unsigned char allOutputs = 0xFF;
constexpr unsigned char asyncBitBang = 0x01;

#if UINTPTR_MAX > 0xFFFFFFFFu
constexpr std::uintptr_t handleValue = 0x1b0a4d0e0;
#else
constexpr std::uintptr_t handleValue = 0xb0a4d0e0;
#endif

FT_HANDLE theHandle() { return reinterpret_cast<FT_HANDLE>(handleValue); }

// Everything a reset puts back to power-up state.
struct State {
    bool configured = false;  // options known (reset or environment)
    Options options;
    bool started = false;  // first call made: clock origin taken, trace opened
    std::int64_t epochUs = 0;
    std::FILE* trace = nullptr;

    // The chip.
    bool open = false;
    bool everOpened = false;
    bool bitBang = false;
    std::int64_t writeCalls = 0;  // FT_Write calls on the open handle

    // The board behind it.
    std::uint8_t lines = allHigh;
    std::uint8_t shiftRegister = 0;
    int clockEdges = 0;          // shift clock rising edges since the last strobe
    bool strobeSpoiled = false;  // the current strobe pulse can write nothing
    // Bits of the shift register taken while the data line was changing,
    // so their level is anyone's guess; those of the all-high byte have
    // not been reported yet.
    std::uint8_t racedBits = 0;
    std::uint8_t unreportedRacedBits = 0;

    Counters counts;
    std::vector<RegisterWrite> record;
    std::vector<WriteCall> writeRecord;
    char lastViolation[160] = {};
};

struct Board {
    std::mutex mutex;
    State state;
    char traceBuffer[8192];  // the trace file's stdio buffer, so writes never allocate
    // The board's sound, while counts.recording says so. Large, and kept
    // here rather than in State so that a reset does not copy it.
    audio::Recording recording;
};

// Never destroyed: a release thread may still be writing while the main
// thread runs the process-wide destructors at exit.
Board& board() {
    static Board* const instance = new Board;
    return *instance;
}

void closeTrace(Board& b) {
    if (b.state.trace != nullptr) std::fclose(b.state.trace);
    b.state.trace = nullptr;
}

// How far each output swings the mix, in full scale. Through the coupling
// capacitor one output can reach twice its swing away from where the mix
// settled (a counter that sat high through a rest and then starts swinging
// low), so three of them need 6 x 0.15 = 0.9 of full scale, and the ringing
// of band-limited edges fits in the rest: a three-voice board never clips.
constexpr double outputSwing = 0.15;

// Opens the WAV file of a session that has just begun at `tUs`; sample 0 is then.
void startRecording(Board& b, std::int64_t tUs) {
    State& s = b.state;
    if (s.options.wavPath.empty()) return;
    audio::SpeakerOptions speaker;
    speaker.sampleRate = s.options.wavRate;
    speaker.outputLevel = outputSwing;
    if (audio::recordingStart(b.recording, s.options.wavPath.c_str(), tUs, speaker)) {
        s.counts.recording = true;
        s.counts.recordedSamples = 0;
        return;
    }
    s.counts.recordingFailed = true;
    std::fprintf(stderr, "virtual tone board: cannot create WAV file %s: %s\n", s.options.wavPath.c_str(),
                 std::strerror(errno));
}

// Renders the sound up to `tUs`, the end of the session, and completes the file.
void finishRecording(Board& b, std::int64_t tUs) {
    State& s = b.state;
    if (!s.counts.recording) return;
    s.counts.recording = false;
    const bool ok = audio::recordingFinish(b.recording, tUs);
    s.counts.recordedSamples = b.recording.wav.dataBytes / sizeof(std::int16_t);
    if (ok) return;
    s.counts.recordingFailed = true;
    std::fprintf(stderr, "virtual tone board: writing WAV file %s failed\n", s.options.wavPath.c_str());
}

void powerUp(Board& b, const Options& options) {
    // A recording still open ends now, as if the board were unplugged.
    finishRecording(b, platform::nowUs() - b.state.epochUs);
    liveStop(platform::nowUs());  // live audio
    closeTrace(b);
    b.state = State{};
    b.state.configured = true;
    b.state.options = options;
    b.state.record.reserve(options.recordCapacity);
    b.state.writeRecord.reserve(options.writeCallCapacity);
}

void ensureStarted(Board& b) {
    if (!b.state.configured) powerUp(b, optionsFromEnvironment());
    State& s = b.state;
    if (s.started) return;
    s.started = true;
    s.epochUs = platform::nowUs();
    if (!s.options.tracePath.empty()) {
        s.trace = std::fopen(s.options.tracePath.c_str(), "a");
        if (s.trace != nullptr) {
            std::setvbuf(s.trace, b.traceBuffer, _IOFBF, sizeof b.traceBuffer);
        } else {
            std::fprintf(stderr, "virtual tone board: cannot open trace file %s\n",
                         s.options.tracePath.c_str());
        }
    }
}

// Starts a call: its time since the first call.
std::int64_t beginCall(Board& b) {
    ensureStarted(b);
    ++b.state.counts.calls;
    return platform::nowUs() - b.state.epochUs;
}

long long asLL(std::int64_t v) { return static_cast<long long>(v); }
unsigned asU(std::uint32_t v) { return static_cast<unsigned>(v); }

void traceBytes(State& s, const char* text, std::size_t size) {
    if (s.trace != nullptr) std::fwrite(text, 1, size, s.trace);
}

void traceFlush(State& s) {
    if (s.trace != nullptr) std::fflush(s.trace);
}

// Appends one formatted piece of a trace line.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void tracePart(State& s, const char* format, ...) {
    if (s.trace == nullptr) return;
    char text[256];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n > 0) traceBytes(s, text, std::min(static_cast<std::size_t>(n), sizeof text - 1));
}

// Something the board could not make sense of. Only FT_Write meets one,
// and it flushes the trace before it returns.
#if defined(__GNUC__)
__attribute__((format(printf, 3, 4)))
#endif
void violation(State& s, std::int64_t tUs, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(s.lastViolation, sizeof s.lastViolation, format, args);
    va_end(args);
    ++s.counts.violations;
    tracePart(s, "{\"t_us\":%lld,\"violation\":\"%s\"}\n", asLL(tUs), s.lastViolation);
}

// The one place a decoded 8254 register write arrives: counted, recorded,
// traced, and heard.
void handleRegisterWrite(Board& b, std::int64_t tUs, int address, std::uint8_t value) {
    State& s = b.state;
    if (s.counts.recording) audio::recordingWrite(b.recording, tUs, address, value);
    liveWrite(s.epochUs + tUs, address, value);  // live audio
    ++s.counts.registerWrites;
    if (s.record.size() < s.options.recordCapacity) {
        s.record.push_back(RegisterWrite{tUs, address, value});
    } else {
        ++s.counts.unrecorded;
    }
    tracePart(s, "{\"t_us\":%lld,\"reg\":%d,\"value\":%d}\n", asLL(tUs), address, static_cast<int>(value));
}

// Marks the current strobe pulse as unable to write, reporting why once.
void spoilStrobe(State& s, std::int64_t tUs, const char* why) {
    if (s.strobeSpoiled) return;
    s.strobeSpoiled = true;
    violation(s, tUs, "%s", why);
}

// One byte reaches the lines: the board reacts to the change from the
// previous level, as its logic would.
void driveLines(Board& b, std::int64_t tUs, std::uint8_t next) {
    State& s = b.state;
    const std::uint8_t prev = s.lines;
    s.lines = next;
    const auto rising = static_cast<std::uint8_t>(~prev & next);
    const auto changed = static_cast<std::uint8_t>(prev ^ next);
    const bool strobeWasLow = (prev & strobeLine) == 0;
    const bool strobeIsLow = (next & strobeLine) == 0;
    // From the byte that pulls the strobe low to the byte that raises it,
    // the address, the enable line and the shift register must hold still.
    const bool inPulse = strobeWasLow || strobeIsLow;
    const bool enabledThroughout = (prev & next & enableLine) != 0;

    if (strobeIsLow && !strobeWasLow) s.strobeSpoiled = false;

    // The all-high byte is the pins' released level; it may only stand
    // outside a strobe pulse, as it does at the start of the idle pattern.
    const bool releaseByte = next == allHigh && !strobeWasLow;
    if ((next & spareLines) != 0 && (next & enableLine) != 0 && !releaseByte) {
        violation(s, tUs, "spare line driven high while the enable line is high (lines 0x%02x)",
                  static_cast<unsigned>(next));
    }

    if ((rising & clockLine) != 0) {
        const bool raced = (changed & dataLine) != 0;
        s.shiftRegister = static_cast<std::uint8_t>((s.shiftRegister << 1) | (next & dataLine));
        s.racedBits = static_cast<std::uint8_t>((s.racedBits << 1) | (raced ? 1 : 0));
        s.unreportedRacedBits =
            static_cast<std::uint8_t>((s.unreportedRacedBits << 1) | (raced && releaseByte ? 1 : 0));
        // The release byte's edge shifts the register like any other, but
        // it carries no bit of a register write.
        if (!releaseByte) {
            if (enabledThroughout) ++s.clockEdges;
            if (raced) violation(s, tUs, "data line changed on the rising edge of the shift clock");
        }
        if (inPulse) spoilStrobe(s, tUs, "shift clock pulsed while the write strobe was low");
    }
    if (inPulse && (changed & addressLines) != 0) {
        spoilStrobe(s, tUs, "address lines changed while the write strobe was low");
    }
    if (inPulse && !enabledThroughout) spoilStrobe(s, tUs, "write strobe low while the enable line was low");

    if (strobeWasLow && !strobeIsLow) {
        // The 8254 takes the shift register's contents at this rising edge.
        if (!s.strobeSpoiled) {
            if (s.clockEdges < bitsPerRegister) {
                violation(s, tUs, "write strobe after %d shift clock edges, %d needed", s.clockEdges,
                          bitsPerRegister);
            } else if (s.unreportedRacedBits != 0) {
                violation(s, tUs, "all-high byte among the shift clock pulses of a register write");
            } else if (s.racedBits == 0) {
                handleRegisterWrite(b, tUs, (next & addressLines) >> addressShift, s.shiftRegister);
            }
        }
        s.clockEdges = 0;
        s.strobeSpoiled = false;
    }
    // With the enable line low the board is at rest; a write starts afresh.
    if ((prev & enableLine) != 0 && (next & enableLine) == 0) s.clockEdges = 0;
}

bool isOpenHandle(const State& s, FT_HANDLE handle) { return s.open && handle == theHandle(); }

// A non-negative integer from the environment within [0, limit], or
// `fallback` when the variable is unset or not such a number.
std::int64_t environmentNumber(const char* name, std::int64_t fallback, std::int64_t limit) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return fallback;
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < 0 || value > limit) return fallback;
    return value;
}

}  // namespace

Options optionsFromEnvironment() {
    Options options;
    if (const char* path = std::getenv("PITCHIME_VBOARD_TRACE")) options.tracePath = path;
    if (const char* path = std::getenv("PITCHIME_VBOARD_WAV")) options.wavPath = path;
    const char* audio = std::getenv("PITCHIME_VBOARD_AUDIO");  // live audio
    options.liveAudio = audio == nullptr || std::strcmp(audio, "off") != 0;
    options.devices =
        static_cast<int>(environmentNumber("PITCHIME_VBOARD_DEVICES", options.devices, maxDevices));
    options.failAfter = environmentNumber("PITCHIME_VBOARD_FAIL_AFTER", options.failAfter, INT64_MAX);
    options.openDelayMs =
        static_cast<int>(environmentNumber("PITCHIME_VBOARD_OPEN_DELAY_MS", options.openDelayMs, INT_MAX));
    return options;
}

void reset(const Options& options) {
    Board& b = board();
    std::lock_guard lock(b.mutex);
    powerUp(b, options);
}

void resetFromEnvironment() {
    Board& b = board();
    std::lock_guard lock(b.mutex);
    powerUp(b, Options{});
    b.state.configured = false;
}

Counters counters() {
    Board& b = board();
    std::lock_guard lock(b.mutex);
    Counters c = b.state.counts;
    if (c.recording) c.recordedSamples = b.recording.wav.dataBytes / sizeof(std::int16_t);
    c.open = b.state.open;
    c.bitBang = b.state.bitBang;
    c.lines = b.state.lines;
    return c;
}

std::vector<RegisterWrite> registerWrites() {
    Board& b = board();
    std::lock_guard lock(b.mutex);
    return b.state.record;
}

std::vector<WriteCall> writeCalls() {
    Board& b = board();
    std::lock_guard lock(b.mutex);
    return b.state.writeRecord;
}

std::string lastViolation() {
    Board& b = board();
    std::lock_guard lock(b.mutex);
    return b.state.lastViolation;
}

void* deviceHandle() { return theHandle(); }

}  // namespace pitchime::vboard

using pitchime::vboard::Board;
using pitchime::vboard::State;
namespace vb = pitchime::vboard;

extern "C" {

FT_STATUS PITCHIME_D2XX_CALL FT_CreateDeviceInfoList(std::uint32_t* lpdwNumDevs) {
    Board& b = vb::board();
    std::lock_guard lock(b.mutex);
    const std::int64_t t = vb::beginCall(b);
    State& s = b.state;
    FT_STATUS status = vb::FT_OK;
    std::uint32_t count = 0;
    if (lpdwNumDevs == nullptr) {
        status = vb::FT_INVALID_PARAMETER;
    } else {
        count = static_cast<std::uint32_t>(s.options.devices);
        *lpdwNumDevs = count;
    }
    vb::tracePart(s, "{\"t_us\":%lld,\"call\":\"FT_CreateDeviceInfoList\",\"status\":%u,\"count\":%u}\n",
                  vb::asLL(t), vb::asU(status), vb::asU(count));
    vb::traceFlush(s);
    return status;
}

FT_STATUS PITCHIME_D2XX_CALL FT_GetDeviceInfoDetail(std::uint32_t dwIndex, std::uint32_t* lpdwFlags,
                                                    std::uint32_t* lpdwType, std::uint32_t* lpdwID,
                                                    std::uint32_t* lpdwLocId, void* lpSerialNumber,
                                                    void* lpDescription, FT_HANDLE* pftHandle) {
    Board& b = vb::board();
    std::lock_guard lock(b.mutex);
    const std::int64_t t = vb::beginCall(b);
    State& s = b.state;
    FT_STATUS status = vb::FT_OK;
    if (dwIndex >= static_cast<std::uint32_t>(s.options.devices)) {
        status = vb::FT_DEVICE_NOT_FOUND;
    } else if (lpdwFlags == nullptr || lpdwType == nullptr || lpdwID == nullptr || lpdwLocId == nullptr ||
               lpSerialNumber == nullptr || lpDescription == nullptr || pftHandle == nullptr) {
        status = vb::FT_INVALID_PARAMETER;
    } else {
        // Device 0 is this process's board; the others are open elsewhere.
        const bool ours = dwIndex == 0;
        const bool open = ours ? s.open : true;
        *lpdwFlags = open ? pitchime::d2xx::FT_FLAGS_OPENED : 0;
        *lpdwType = pitchime::d2xx::FT_DEVICE_232R;
        *lpdwID = vb::deviceId;
        *lpdwLocId = vb::firstLocId + dwIndex;
        std::snprintf(static_cast<char*>(lpSerialNumber), pitchime::d2xx::serialNumberSize, "VTB%05u",
                      vb::asU(dwIndex + 1));
        std::snprintf(static_cast<char*>(lpDescription), pitchime::d2xx::descriptionSize, "%s",
                      vb::description);
        *pftHandle = ours && s.open ? vb::theHandle() : nullptr;
    }
    vb::tracePart(s, "{\"t_us\":%lld,\"call\":\"FT_GetDeviceInfoDetail\",\"index\":%u,\"status\":%u}\n",
                  vb::asLL(t), vb::asU(dwIndex), vb::asU(status));
    vb::traceFlush(s);
    return status;
}

FT_STATUS PITCHIME_D2XX_CALL FT_Open(int deviceNumber, FT_HANDLE* pHandle) {
    Board& b = vb::board();
    int delayMs = 0;
    {
        std::lock_guard lock(b.mutex);
        vb::ensureStarted(b);
        delayMs = b.state.options.openDelayMs;
    }
    // Real time, not the platform's clock: it gives a test the moment to
    // interrupt the program before the device is open.
    if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));

    std::lock_guard lock(b.mutex);
    const std::int64_t t = vb::beginCall(b);
    State& s = b.state;
    FT_STATUS status = vb::FT_OK;
    if (pHandle == nullptr) {
        status = vb::FT_INVALID_PARAMETER;
    } else if (deviceNumber < 0 || deviceNumber >= s.options.devices) {
        status = vb::FT_DEVICE_NOT_FOUND;
    } else if (deviceNumber != 0 || s.open) {
        status = vb::FT_DEVICE_NOT_OPENED;
    } else {
        // A fresh session: the chip is back in its FIFO mode until bit-bang
        // mode is set again.
        s.open = true;
        s.everOpened = true;
        s.bitBang = false;
        *pHandle = vb::theHandle();
        vb::startRecording(b, t);
        if (s.options.liveAudio) vb::liveStart(vb::outputSwing);  // live audio
    }
    vb::tracePart(s, "{\"t_us\":%lld,\"call\":\"FT_Open\",\"index\":%d,\"status\":%u}\n", vb::asLL(t),
                  deviceNumber, vb::asU(status));
    vb::traceFlush(s);
    return status;
}

FT_STATUS PITCHIME_D2XX_CALL FT_SetBaudRate(FT_HANDLE ftHandle, std::uint32_t dwBaudRate) {
    Board& b = vb::board();
    std::lock_guard lock(b.mutex);
    const std::int64_t t = vb::beginCall(b);
    State& s = b.state;
    FT_STATUS status = vb::FT_OK;
    if (!vb::isOpenHandle(s, ftHandle)) {
        status = vb::FT_INVALID_HANDLE;
    } else if (dwBaudRate < vb::minBaudRate || dwBaudRate > vb::maxBaudRate) {
        status = vb::FT_INVALID_BAUD_RATE;
    }
    vb::tracePart(s, "{\"t_us\":%lld,\"call\":\"FT_SetBaudRate\",\"baud\":%u,\"status\":%u}\n", vb::asLL(t),
                  vb::asU(dwBaudRate), vb::asU(status));
    vb::traceFlush(s);
    return status;
}

FT_STATUS PITCHIME_D2XX_CALL FT_SetBitMode(FT_HANDLE ftHandle, unsigned char ucMask, unsigned char ucEnable) {
    Board& b = vb::board();
    std::lock_guard lock(b.mutex);
    const std::int64_t t = vb::beginCall(b);
    State& s = b.state;
    FT_STATUS status = vb::FT_OK;
    if (!vb::isOpenHandle(s, ftHandle)) {
        status = vb::FT_INVALID_HANDLE;
    } else {
        // Only asynchronous bit-bang with all eight lines outputs puts the
        // bytes on the board's lines; mode 0 and every other mode leave
        // them where the board cannot use them.
        s.bitBang = ucMask == vb::allOutputs && ucEnable == vb::asyncBitBang;
    }
    vb::tracePart(s, "{\"t_us\":%lld,\"call\":\"FT_SetBitMode\",\"mask\":%u,\"mode\":%u,\"status\":%u}\n",
                  vb::asLL(t), static_cast<unsigned>(ucMask), static_cast<unsigned>(ucEnable),
                  vb::asU(status));
    vb::traceFlush(s);
    return status;
}

FT_STATUS PITCHIME_D2XX_CALL FT_Write(FT_HANDLE ftHandle, void* lpBuffer, std::uint32_t dwBytesToWrite,
                                      std::uint32_t* lpdwBytesWritten) {
    Board& b = vb::board();
    std::lock_guard lock(b.mutex);
    const std::int64_t t = vb::beginCall(b);
    State& s = b.state;
    const auto* bytes = static_cast<const std::uint8_t*>(lpBuffer);
    const std::uint32_t size = bytes != nullptr ? dwBytesToWrite : 0;

    FT_STATUS status = vb::FT_OK;
    std::uint32_t written = 0;
    bool reachesLines = false;
    const char* problem = nullptr;
    if (!vb::isOpenHandle(s, ftHandle)) {
        status = vb::FT_INVALID_HANDLE;
        problem = s.everOpened && ftHandle == vb::theHandle() ? "FT_Write after FT_Close"
                                                              : "FT_Write with a handle that is not open";
    } else if ((bytes == nullptr && dwBytesToWrite > 0) || lpdwBytesWritten == nullptr) {
        status = vb::FT_INVALID_PARAMETER;
    } else if (++s.writeCalls > s.options.failAfter && s.options.failAfter >= 0) {
        // The board is gone: nothing reaches the lines.
        status = vb::FT_IO_ERROR;
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

    if (s.trace != nullptr) {
        vb::tracePart(s, "{\"t_us\":%lld,\"call\":\"FT_Write\",\"bytes\":\"", vb::asLL(t));
        static constexpr char hexDigits[] = "0123456789abcdef";
        constexpr std::uint32_t chunk = 128;
        char hex[2 * chunk];
        for (std::uint32_t at = 0; at < size; at += chunk) {
            const std::uint32_t n = std::min(chunk, size - at);
            for (std::uint32_t i = 0; i < n; ++i) {
                hex[2 * i] = hexDigits[bytes[at + i] >> 4];
                hex[2 * i + 1] = hexDigits[bytes[at + i] & 0x0F];
            }
            vb::traceBytes(s, hex, 2 * std::size_t{n});
        }
        vb::tracePart(s, "\",\"status\":%u,\"written\":%u}\n", vb::asU(status), vb::asU(written));
    }

    if (problem != nullptr) vb::violation(s, t, "%s", problem);
    if (reachesLines) {
        ++s.counts.writes;
        for (std::uint32_t i = 0; i < size; ++i) vb::driveLines(b, t, bytes[i]);
    }
    // The call's line and what the board saw go out together: one write to
    // the file per call rather than one per line, which would add to the
    // time of every register write the board is timing.
    vb::traceFlush(s);
    return status;
}

FT_STATUS PITCHIME_D2XX_CALL FT_Close(FT_HANDLE ftHandle) {
    Board& b = vb::board();
    std::lock_guard lock(b.mutex);
    const std::int64_t t = vb::beginCall(b);
    State& s = b.state;
    FT_STATUS status = vb::FT_OK;
    if (!vb::isOpenHandle(s, ftHandle)) {
        status = vb::FT_INVALID_HANDLE;
    } else {
        // The lines keep their last level; the next session must set
        // bit-bang mode again. The counters go on sounding, but the
        // recording of this session ends here.
        s.open = false;
        s.bitBang = false;
        vb::finishRecording(b, t);
        vb::liveStop(s.epochUs + t);  // live audio
    }
    vb::tracePart(s, "{\"t_us\":%lld,\"call\":\"FT_Close\",\"status\":%u}\n", vb::asLL(t), vb::asU(status));
    vb::traceFlush(s);
    return status;
}

}  // extern "C"
