#include "support/run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace pitchime::test {

long long nowMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

std::vector<char*> execArray(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (auto& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

bool readAvailable(int fd, std::string& into) {
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got > 0) {
            into.append(buffer, static_cast<std::size_t>(got));
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) return true;
        return false;
    }
}

void writeAll(int fd, const std::string& bytes) {
    for (std::size_t at = 0; at < bytes.size();) {
        const ssize_t put = write(fd, bytes.data() + at, bytes.size() - at);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return;
        at += static_cast<std::size_t>(put);
    }
}

namespace {

const std::filesystem::path& tempDir() {
    static const std::filesystem::path dir = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "pitchime-test-XXXXXX").string();
        const char* made = mkdtemp(pattern.data());
        std::filesystem::path path = made ? made : pattern;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(tempDir(), ignored);
        });
        return path;
    }();
    return dir;
}

// Windows text mode writes every "\n" as "\r\n"; the expectations are
// written with "\n".
std::string withUnixLineEnds(const std::string& text) {
    std::string converted;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) converted += text[i];
    return converted;
}

std::string withWindowsLineEnds(const std::string& text) {
    std::string converted;
    for (char c : text) converted += c == '\n' ? "\r\n" : std::string(1, c);
    return converted;
}

void setWineEnvironment() {
    setenv("WINEPREFIX", PITCHIME_WINE_PREFIX, 1);
    // No diagnostics of wine's own on standard error, and no Mono or Gecko
    // installers for a prefix that only runs console programs.
    setenv("WINEDEBUG", "-all", 1);
    setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
}

}  // namespace

std::string programPath(const std::string& name) {
    if (underWine()) return std::string(PITCHIME_WINE_PROGRAMS) + "/" + name + ".exe";
    return std::string(PITCHIME_BIN_DIR) + "/" + name;
}

bool underWine() { return PITCHIME_WINE[0] != '\0'; }

std::string tempPath(const std::string& name) { return (tempDir() / name).string(); }

std::string writeTempFile(const std::string& name, const std::string& content) {
    std::string path = tempPath(name);
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

RunResult run(const std::string& program, const RunOptions& options) {
    int inPipe[2], outPipe[2], errPipe[2];
    if (pipe(inPipe) != 0 || pipe(outPipe) != 0 || pipe(errPipe) != 0) return {};

    // A Windows program is started by wine's loader.
    const bool viaWine = underWine() && program.ends_with(".exe");
    std::vector<std::string> argStrings;
    if (viaWine) argStrings.push_back(PITCHIME_WINE);
    argStrings.push_back(program);
    argStrings.insert(argStrings.end(), options.args.begin(), options.args.end());
    const std::vector<char*> argv = execArray(argStrings);

    pid_t pid = fork();
    if (pid == 0) {
        setsid();  // no controlling terminal
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) close(fd);
        // A test run from a background shell inherits SIGINT ignored.
        signal(SIGINT, SIG_DFL);
        if (viaWine) setWineEnvironment();
        for (const auto& [name, value] : options.env) setenv(name.c_str(), value.c_str(), 1);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);

    // Standard input is written in full up front (small) and closed.
    signal(SIGPIPE, SIG_IGN);
    writeAll(inPipe[1], options.input);
    if (!options.holdInput) close(inPipe[1]);

    RunResult result;
    // Under wine the output's line ends are Windows ones.
    const std::string interruptAfter =
        viaWine ? withWindowsLineEnds(options.interruptAfter) : options.interruptAfter;
    const long long deadline = nowMs() + options.timeoutMs;
    for (int fd : {outPipe[0], errPipe[0]}) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    bool outOpen = true, errOpen = true, interrupted = false;
    while (outOpen || errOpen) {
        if (nowMs() > deadline) {
            result.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        pollfd fds[2] = {{outOpen ? outPipe[0] : -1, POLLIN, 0}, {errOpen ? errPipe[0] : -1, POLLIN, 0}};
        poll(fds, 2, 100);
        if (outOpen) outOpen = readAvailable(outPipe[0], result.out);
        if (errOpen) errOpen = readAvailable(errPipe[0], result.err);
        if (!interrupted && !interruptAfter.empty() && result.out.find(interruptAfter) != std::string::npos) {
            kill(pid, SIGINT);
            interrupted = true;
        }
    }
    close(outPipe[0]);
    close(errPipe[0]);
    if (options.holdInput) close(inPipe[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.rawOut = result.out;
    if (viaWine) {
        result.out = withUnixLineEnds(result.out);
        result.err = withUnixLineEnds(result.err);
    }
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

}  // namespace pitchime::test
