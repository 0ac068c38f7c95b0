// The virtual tone board: an FT245R in asynchronous bit-bang mode with the
// board behind it, answering the seven D2XX calls. It decodes the line
// states the way the board's logic would (a shift register clocked by the
// shift clock line, the address lines, the write strobe) and records what
// the board saw, never what the sender meant.
//
// A program configures it only through the environment, read at its first
// call:
//   PITCHIME_VBOARD_TRACE=path       JSON lines of every call, register write
//                                    and protocol violation, flushed at once
//   PITCHIME_VBOARD_DEVICES=n        boards attached (default 1)
//   PITCHIME_VBOARD_FAIL_AFTER=n     FT_Write fails (FT_IO_ERROR) after n writes
// Tests may instead call reset() with options of their own.
#pragma once

#include <cstdint>
#include <string>

namespace pitchime::vboard {

struct Options {
    std::string tracePath;       // empty: no trace file
    int devices = 1;
    std::int64_t failAfter = -1;  // -1: writes never fail
};

// Options from the PITCHIME_VBOARD_* variables.
Options optionsFromEnvironment();

// Puts the board back to power-up state (closed, lines pulled high, no
// counters) with `options`; the environment is then not read.
void reset(const Options& options);

// What the board saw since the last reset.
struct Counters {
    std::int64_t calls = 0;
    std::int64_t writes = 0;          // FT_Write calls that reached the lines
    std::int64_t registerWrites = 0;  // decoded 8254 register writes
    std::int64_t violations = 0;
    bool open = false;
    std::uint8_t lines = 0xFF;        // current level of D0-D7
};
Counters counters();

}  // namespace pitchime::vboard
