// Runs a built program as a user runs it: arguments, environment, input
// through a pipe or typed at a pseudo-terminal, Ctrl+C; captures what it
// prints and how it ended.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace pitchime::test {

// Bytes typed once the output holds `after` `occurrence` times (and, with
// atKeyWait, the terminal reads single keys), `delayUs` later. Without a
// terminal, "\x03" is sent as SIGINT.
struct Keys {
    std::string after;
    std::string bytes;
    bool atKeyWait = false;
    int occurrence = 1;
    int delayUs = 0;
};

struct Command {
    std::vector<std::string> argv;  // the program's path first
    std::vector<std::string> env;   // NAME=VALUE, added to ours
    std::string dir;                // working directory, if not empty
    std::string input;              // written to standard input, then closed unless holdInput
    bool holdInput = false;
    // Standard input and output on a pseudo-terminal that is the program's
    // controlling terminal: the key wait really waits, Ctrl+C is typed.
    bool terminal = false;
    std::vector<Keys> keys;  // in order
    // Terminal only: standard output goes to a pipe that holds exactly this
    // many bytes more once the key wait begins, so that the program blocks
    // writing the next line; Ctrl+C is typed then, and the pipe drains
    // again once the release has taken the signal.
    std::size_t stall = 0;
};

struct Result {
    std::string out, err;
    int status = -1;  // exit status, -1 if the program did not exit
    bool timedOut = false;
    bool stalled = false;                 // `stall` held the program as asked
    bool lineMode = false, echo = false;  // the terminal's ICANON and ECHO at the end
};

Result run(const Command& r);

// A fresh directory for the files of a test run, removed at exit.
const std::string& tempDir();

}  // namespace pitchime::test
