// The virtual tone board: an FT245R in asynchronous bit-bang mode with the
// board behind it, answering the seven D2XX calls. It decodes the line
// states the way the board's logic would (a shift register clocked by the
// shift clock line, the address lines, the write strobe) and records what
// the board saw, never what the sender meant.
//
// A program configures it only through the environment, read at its first
// call:
//   PITCHIME_VBOARD_TRACE=path          JSON lines of every call, register
//                                       write and protocol violation; a
//                                       call's lines are on the file when
//                                       it returns
//   PITCHIME_VBOARD_DEVICES=n           boards attached (default 1)
//   PITCHIME_VBOARD_FAIL_AFTER=n        the first n FT_Write calls succeed,
//                                       later ones fail with FT_IO_ERROR
//   PITCHIME_VBOARD_OPEN_DELAY_MS=n     FT_Open waits n ms of real time
//   PITCHIME_VBOARD_WAV=path            the board's sound as a 16-bit mono
//                                       WAV file at 48 kHz, from FT_Open
//                                       (sample 0) to FT_Close
//   PITCHIME_VBOARD_AUDIO=off           no live sound (vboard/live_audio.h);
//                       =lowlatency     the live sound with small audio
//                                       blocks: heard some 3 ms after a
//                                       write rather than 12 ms, for playing
//                                       from a keyboard;
//                                       any other value, or none, plays it
//                                       with the usual blocks
// Tests and the renderer may instead call reset() with options of their own.
//
// The sound: every decoded register write goes to a model of the 8254 at
// the time of the FT_Write call that carried it, and the three outputs are
// mixed and rendered as the board's speaker would play them. All bytes of a
// call are taken at the call's time rather than spread over the chip's byte
// clock, whose rate in bit-bang mode is not documented; one frame lasts
// about a tenth of a millisecond on the lines, so an edge is never off by
// more than that. The file is completed at FT_Close, also when the close
// comes from the interrupt release; problems with it are reported on
// standard error and in status().
//
// Only device 0 can be opened by this process; the others of a larger
// list report themselves open elsewhere, and FT_Open of them answers
// FT_DEVICE_NOT_OPENED.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pitchime::vboard {

struct Options {
    std::string tracePath;  // empty: no trace file
    int devices = 1;
    std::int64_t failAfter = -1;        // -1: writes never fail
    int openDelayMs = 0;                // real time FT_Open waits before answering
    std::size_t recordCapacity = 0;     // register writes kept for registerWrites()
    std::size_t writeCallCapacity = 0;  // FT_Write calls kept for writeCalls()
    std::string wavPath;                // empty: no sound recorded
    std::int32_t wavRate = 48000;       // samples a second of the WAV file, 8000 to 192000
    bool liveAudio = false;             // play the sound live, where the build links live audio
    bool lowLatency = false;            // ... in small blocks, heard sooner after each write
};

// Options from the PITCHIME_VBOARD_* variables; a variable that is unset or
// not a number leaves its default.
Options optionsFromEnvironment();

// Puts the board back to power-up state (closed, lines pulled high, no
// counts, the clock of the trace restarted at the next call) with `options`;
// the environment is then not read. The record of register writes is
// allocated here, so recording never allocates.
void reset(const Options& options);

// What the board saw since the last reset.
struct Counts {
    std::int64_t calls = 0;
    std::int64_t writes = 0;          // FT_Write calls that reached the lines
    std::int64_t registerWrites = 0;  // decoded 8254 register writes
    std::int64_t violations = 0;
    std::int64_t unrecorded = 0;            // register writes past recordCapacity
    std::int64_t unrecordedWriteCalls = 0;  // FT_Write calls past writeCallCapacity
    std::int64_t recordedSamples = 0;       // samples in the WAV file so far
};

// The board as it stands: what it saw, and its state now.
struct Status {
    Counts counts;
    bool open = false;
    bool bitBang = false;          // mask 0xFF, mode 1 set since the open
    std::uint8_t lines = 0xFF;     // current level of D0-D7
    bool recording = false;        // the WAV file is open: FT_Open made it, FT_Close completes it
    bool recordingFailed = false;  // the WAV file could not be created or written
};
Status status();

// One decoded 8254 register write.
struct RegisterWrite {
    std::int64_t tUs = 0;  // microseconds since the first call
    int address = 0;       // 0-2 counters, 3 control word
    std::uint8_t value = 0;

    bool operator==(const RegisterWrite&) const = default;
};

// The register writes recorded since the last reset, oldest first, at most
// Options::recordCapacity of them.
std::vector<RegisterWrite> registerWrites();

// One FT_Write call as the chip was handed it: how many bytes, and what
// it answered.
struct WriteCall {
    std::uint32_t size = 0;
    std::uint32_t status = 0;

    bool operator==(const WriteCall&) const = default;
};

// The FT_Write calls made since the last reset, oldest first, at most
// Options::writeCallCapacity of them; calls past that are only counted
// (Counts::unrecordedWriteCalls).
std::vector<WriteCall> writeCalls();

// Text of the most recent violation, empty when there was none.
std::string lastViolation();

}  // namespace pitchime::vboard
