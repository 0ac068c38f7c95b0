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
// Tests may instead call reset() with options of their own.
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
    std::int64_t failAfter = -1;     // -1: writes never fail
    int openDelayMs = 0;             // real time FT_Open waits before answering
    std::size_t recordCapacity = 0;  // register writes kept for registerWrites()
};

// Options from the PITCHIME_VBOARD_* variables; a variable that is unset or
// not a number leaves its default.
Options optionsFromEnvironment();

// Puts the board back to power-up state (closed, lines pulled high, no
// counts, the clock of the trace restarted at the next call) with `options`;
// the environment is then not read. The record of register writes is
// allocated here, so recording never allocates.
void reset(const Options& options);

// Puts the board back to power-up state and has it read the environment
// again at its next call, as a freshly started program would.
void resetFromEnvironment();

// What the board saw since the last reset.
struct Counters {
    std::int64_t calls = 0;
    std::int64_t writes = 0;          // FT_Write calls that reached the lines
    std::int64_t registerWrites = 0;  // decoded 8254 register writes
    std::int64_t violations = 0;
    std::int64_t unrecorded = 0;  // register writes past recordCapacity
    bool open = false;
    bool bitBang = false;       // mask 0xFF, mode 1 set since the open
    std::uint8_t lines = 0xFF;  // current level of D0-D7
};
Counters counters();

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

// Text of the most recent violation, empty when there was none.
std::string lastViolation();

// The handle FT_Open gives out; fixed, so transcripts are repeatable.
void* deviceHandle();

}  // namespace pitchime::vboard
