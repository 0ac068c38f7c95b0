// What the pieces of the virtual tone board share: the board's lines, the
// chip as it describes itself, and the one Board with everything a reset
// puts back to power-up state. Only vboard/ includes this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <vector>

#include "d2xx/d2xx.h"
#include "vboard/recording.h"
#include "vboard/vboard.h"

namespace pitchime::vboard {

// The board's lines, bit of every byte the chip puts out.
inline constexpr std::uint8_t dataLine = 0x01;
inline constexpr std::uint8_t clockLine = 0x02;
inline constexpr std::uint8_t strobeLine = 0x04;  // active low
inline constexpr std::uint8_t addressLines = 0x18;
inline constexpr int addressShift = 3;
inline constexpr std::uint8_t enableLine = 0x20;
inline constexpr std::uint8_t spareLines = 0xC0;
// Every line high: the level of the pulled-up pins before bit-bang mode
// drives them, and the first byte of the idle pattern.
inline constexpr std::uint8_t allHigh = 0xFF;
inline constexpr int bitsPerRegister = 8;

// Most boards PITCHIME_VBOARD_DEVICES may attach.
inline constexpr int maxDevices = 127;

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

    Counts counts;
    bool recording = false;        // the WAV file is open: FT_Open made it, FT_Close completes it
    bool recordingFailed = false;  // the WAV file could not be created or written
    std::vector<RegisterWrite> record;
    std::vector<WriteCall> writeRecord;
    char lastViolation[160] = {};
};

struct Board {
    std::mutex mutex;
    State state;
    char traceBuffer[8192];  // the trace file's stdio buffer, so writes never allocate
    // The board's sound, while state.recording says so. Large, and kept
    // here rather than in State so that a reset does not copy it.
    audio::Recording recording;
};

// The one board of the process. Never destroyed: a release thread may still
// be writing while the main thread runs the process-wide destructors at exit.
Board& board();

// The handle FT_Open gives out.
FT_HANDLE theHandle();

// Takes the options from the environment unless a reset gave them, and at
// the first call takes the clock's origin and opens the trace file.
void ensureStarted(Board& b);

// Puts the board back to power-up state with `options`.
void powerUp(Board& b, const Options& options);

// --- trace.cpp: the JSON lines trace ---

inline long long asLL(std::int64_t v) { return static_cast<long long>(v); }
inline unsigned asU(std::uint32_t v) { return static_cast<unsigned>(v); }

// Opens the trace file of the options, if any, with the board's buffer.
void openTrace(Board& b);
void closeTrace(Board& b);
void traceBytes(State& s, const char* text, std::size_t size);
void traceFlush(State& s);
// Appends one formatted piece of a trace line.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void tracePart(State& s, const char* format, ...);
// The trace line of an FT_Write call: its bytes in hex and its answer.
void traceWrite(State& s, std::int64_t tUs, const std::uint8_t* bytes, std::uint32_t size, FT_STATUS status,
                std::uint32_t written);

// --- sound.cpp: the board's sound, recorded and live ---

// Starts the live sound, where it plays, and opens the WAV file of a
// session that has just begun at `tUs`; sample 0 is then.
void startSound(Board& b, std::int64_t tUs);
// One decoded register write, heard; a file that stops taking writes ends
// the recording, not the run.
void soundRegisterWrite(Board& b, std::int64_t tUs, int address, std::uint8_t value);
// Plays and renders the sound up to `tUs`, the end of the session, then
// ends the live sound and completes the file.
void finishSound(Board& b, std::int64_t tUs);

// --- decoder.cpp: what the board's logic makes of the lines ---

// Something the board could not make sense of: counted, kept as the last
// violation and traced. Only FT_Write meets one, and it flushes the trace
// before it returns.
#if defined(__GNUC__)
__attribute__((format(printf, 3, 4)))
#endif
void violation(State& s, std::int64_t tUs, const char* format, ...);

// One byte reaches the lines: the board reacts to the change from the
// previous level, as its logic would.
void driveLines(Board& b, std::int64_t tUs, std::uint8_t next);

}  // namespace pitchime::vboard
