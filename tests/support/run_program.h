// Runs a built program the way a user would: arguments, text on standard
// input, environment variables; captures what it prints and its status.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace pitchime::test {

struct RunResult {
    std::string out;
    std::string err;
    int status = -1;     // exit status, or -1 if it did not exit normally
    int signal = 0;      // the signal that ended it, if any
    bool timedOut = false;
};

struct RunOptions {
    std::vector<std::string> args;
    std::string input;
    std::vector<std::pair<std::string, std::string>> env;
    int timeoutMs = 30000;
    // Sends SIGINT once standard output contains this text (if not empty).
    std::string interruptAfter;
};

// Runs `program` (a path) in a session of its own, without a controlling
// terminal, so a key wait never blocks a test.
RunResult run(const std::string& program, const RunOptions& options);

// Path of a built program by name.
std::string programPath(const std::string& name);

// A file in a fresh temporary directory, removed with the directory at exit.
std::string tempPath(const std::string& name);
std::string writeTempFile(const std::string& name, const std::string& content);
std::string readFile(const std::string& path);

}  // namespace pitchime::test
