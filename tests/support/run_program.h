// Runs a built program the way a user would: arguments, text on standard
// input, environment variables; captures what it prints and its status.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace pitchime::test {

struct RunResult {
    std::string out;     // under wine with Windows line ends made "\n"
    std::string rawOut;  // as the program wrote it
    std::string err;
    int status = -1;  // exit status, or -1 if it did not exit normally
    int signal = 0;   // the signal that ended it, if any
    bool timedOut = false;
};

struct RunOptions {
    std::vector<std::string> args;
    std::string input;
    std::vector<std::pair<std::string, std::string>> env;
    int timeoutMs = 30000;
    // Sends SIGINT once standard output contains this text (if not empty).
    std::string interruptAfter;
    // Keeps standard input open, with nothing more to read, until the
    // program ends, so that it waits at a prompt instead of reading its end.
    bool holdInput = false;
};

// Runs `program` (a path) in a session of its own, without a controlling
// terminal, so a key wait never blocks a test.
RunResult run(const std::string& program, const RunOptions& options);

// Path of a built program by name.
std::string programPath(const std::string& name);

// Whether the tests run the Windows programs: the cross-built .exe files
// beside the stand-in FTD2XX.dll, started through wine in a prefix of the
// test build. programPath then names the .exe files.
bool underWine();

// A file in a fresh temporary directory, removed with the directory at exit.
std::string tempPath(const std::string& name);
std::string writeTempFile(const std::string& name, const std::string& content);

// Milliseconds on a monotonic clock.
long long nowMs();

// Appends what `fd` has now; false once it has nothing more to give (end
// of file, or EIO from a terminal whose other side has closed).
bool readAvailable(int fd, std::string& into);
void writeAll(int fd, const std::string& bytes);

// The strings as a null-terminated array for exec; valid while they are.
std::vector<char*> execArray(std::vector<std::string>& strings);

}  // namespace pitchime::test
