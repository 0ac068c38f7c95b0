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
#include <sstream>

namespace pitchime::test {

namespace {

long long nowMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

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

}  // namespace

std::string programPath(const std::string& name) { return std::string(PITCHIME_BIN_DIR) + "/" + name; }

std::string tempPath(const std::string& name) { return (tempDir() / name).string(); }

std::string writeTempFile(const std::string& name, const std::string& content) {
    std::string path = tempPath(name);
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

RunResult run(const std::string& program, const RunOptions& options) {
    int inPipe[2], outPipe[2], errPipe[2];
    if (pipe(inPipe) != 0 || pipe(outPipe) != 0 || pipe(errPipe) != 0) return {};

    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), options.args.begin(), options.args.end());
    std::vector<char*> argv;
    for (auto& a : argStrings) argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = fork();
    if (pid == 0) {
        setsid();  // no controlling terminal
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) close(fd);
        // A test run from a background shell inherits SIGINT ignored.
        signal(SIGINT, SIG_DFL);
        for (const auto& [name, value] : options.env) setenv(name.c_str(), value.c_str(), 1);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);

    // Standard input is written in full up front (small) and closed.
    signal(SIGPIPE, SIG_IGN);
    if (!options.input.empty()) {
        [[maybe_unused]] auto written = write(inPipe[1], options.input.data(), options.input.size());
    }
    close(inPipe[1]);

    RunResult result;
    bool interrupted = false;
    const long long deadline = nowMs() + options.timeoutMs;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        long long left = deadline - nowMs();
        if (left <= 0) {
            result.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        if (poll(fds, 2, static_cast<int>(left)) < 0 && errno != EINTR) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buffer[4096];
            ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
                continue;
            }
            (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(got));
        }
        if (!interrupted && !options.interruptAfter.empty() &&
            result.out.find(options.interruptAfter) != std::string::npos) {
            kill(pid, SIGINT);
            interrupted = true;
        }
    }
    for (auto& fd : fds)
        if (fd.fd >= 0) close(fd.fd);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

}  // namespace pitchime::test
