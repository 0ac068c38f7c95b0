// The console: the system's only log. Every module prints through here so
// that stream lines and formatted trace lines share one buffer and reach
// the console in program order. Nothing here allocates but bufferFully.
//
// Output is serialised: each call below, and each Hold, is one piece that no
// other thread's output can split. The interrupt release seizes the console
// for good, so its messages come out whole after the main thread's line in
// progress, and the main thread prints nothing more.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>

namespace pitchime::console {

// Where output goes; standard output unless a test or the renderer
// redirects it. nullptr silences it.
void setStream(std::FILE* stream);
std::FILE* stream();

// Gives `stream` full buffering, whatever it is connected to, so that it
// is written out at the flushes below and at no other line end: a terminal
// would otherwise be written once per formatted line as well. Call before
// anything is written to `stream`; its buffer is allocated here.
void bufferFully(std::FILE* stream);

// Text as it stands, then a flush.
void text(std::string_view s);
// Text, an end of line, then a flush. line() alone is an empty line.
void line(std::string_view s = {});
// Label followed by a number, an end of line, then a flush.
void lineInt(std::string_view label, std::int64_t value);
void lineUnsigned(std::string_view label, std::uint64_t value);

// printf-style output, not flushed: the format carries its own "\n".
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void format(const char* fmt, ...);

// One line for the user beside the program's output (a warning, the
// reason for a failure), printf-style without the line end, on standard
// error unless setNoteStream says otherwise. Standard output is flushed
// first, so that the two come out in program order on a terminal.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void note(const char* fmt, ...);
// Where note() writes; nullptr silences it (tests, the fuzzer).
void setNoteStream(std::FILE* stream);

// Clears the console where that makes sense (platform::clearConsole), in
// order with the output around it.
void clear();

// Keeps the console for the calling thread while it lives, so that a line
// written with several calls comes out whole. Holds nest.
struct Hold {
    Hold();
    ~Hold();
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
};

// Takes the console for the calling thread until the process ends: waits
// for another thread's piece in progress, after which every other thread
// that prints stops there for good.
void seize();

}  // namespace pitchime::console
