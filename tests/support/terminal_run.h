// Runs a built program on a pseudo-terminal, as a user at a terminal runs
// it: the terminal is its controlling terminal, standard input and
// (normally) standard output, so the key wait really waits on it, and keys
// are typed into it, Ctrl+C as the byte 0x03 that the terminal turns into
// SIGINT. Standard error is kept apart, for sanitizer reports.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace pitchime::test {

// Keys typed once the output shows something.
struct Keystroke {
    std::string after;       // the output contains this text...
    int occurrence = 1;      // ...this many times (counted from the start)
    bool atKeyWait = false;  // ...and the program waits for one key (single-key mode)
    int delayUs = 0;         // then this long is waited
    std::string keys;        // and these bytes are typed
};

struct TerminalOptions {
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::string>> env;
    std::vector<Keystroke> keystrokes;  // in order; each waits for the one before
    int timeoutMs = 60000;
    // When not 0: the output stalls after this many bytes written after
    // the key wait began, with the program blocked writing the next line;
    // Ctrl+C is typed then, and the output flows again once the release
    // has begun. Standard output is a pipe instead of the terminal. The
    // program must wait for a key, and `keystrokes` type it.
    std::size_t stallAfterKeyWait = 0;
};

struct TerminalResult {
    std::string out;  // what the program wrote, without the terminal's echo of Ctrl+C
    std::string err;
    int status = -1;  // exit status, or -1 if it did not exit normally
    int signal = 0;   // the signal that ended it, if any
    bool timedOut = false;
    bool stalled = false;  // stallAfterKeyWait: the program was held as asked
    // The terminal's modes after the program ended.
    bool lineMode = false;  // ICANON
    bool echo = false;      // ECHO
};

TerminalResult runOnTerminal(const std::string& program, const TerminalOptions& options);

// Whether stallAfterKeyWait works here (it needs Linux).
bool canStallOutput();

}  // namespace pitchime::test
