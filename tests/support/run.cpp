#include "support/run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

extern char** environ;

namespace pitchime::test {
namespace {

// Appends what `fd` holds now; false at its end: end of file, or EIO from a
// terminal once every copy of its other side is closed and all it carried
// has been read.
bool drain(int fd, std::string& into) {
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got > 0) {
            into.append(buffer, static_cast<std::size_t>(got));
        } else {
            return got < 0 && (errno == EAGAIN || errno == EINTR);
        }
    }
}

void put(int fd, const std::string& bytes) {
    for (std::size_t at = 0; at < bytes.size();) {
        const ssize_t n = write(fd, bytes.data() + at, bytes.size() - at);
        if (n > 0) at += static_cast<std::size_t>(n);
        if (n < 0 && errno != EINTR) return;
    }
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++n;
    return n;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> p;
    for (auto& s : strings) p.push_back(s.data());
    p.push_back(nullptr);
    return p;
}

// The system call thread `tid` of `pid` sleeps in, -1 if none.
long sleepingIn([[maybe_unused]] pid_t pid, [[maybe_unused]] pid_t tid) {
#if defined(__linux__)
    std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(tid) + "/syscall");
    long call = -1;
    return in >> call ? call : -1;
#else
    return -1;
#endif
}

#if defined(__linux__)
constexpr long writeCall = SYS_write, signalWaitCall = SYS_rt_sigtimedwait;
#else
constexpr long writeCall = -2, signalWaitCall = -2;
#endif

}  // namespace

const std::string& tempDir() {
    // Never destroyed: the exit handler that removes the directory runs
    // after the destructors of statics made later than it was registered.
    static const std::string& dir = *new std::string([] {
        std::string pattern = (std::filesystem::temp_directory_path() / "pitchime-test-XXXXXX").string();
        if (!mkdtemp(pattern.data())) abort();
        std::atexit([] { std::filesystem::remove_all(tempDir()); });
        return pattern;
    }());
    return dir;
}

Result run(const Command& r) {
    Result res;
    int master = -1, slave = -1, in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
    if (pipe2(err, O_CLOEXEC) != 0) return res;
    if (r.terminal) {
        // A terminal as a user's, except that Ctrl+C does not throw away
        // output not read yet (NOFLSH) and line ends stay "\n".
        char name[128];
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
            ptsname_r(master, name, sizeof name))
            return res;
        slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios modes{};
        tcgetattr(slave, &modes);
        modes.c_lflag |= ICANON | ECHO | ECHOCTL | ISIG | NOFLSH;
        modes.c_oflag &= ~static_cast<tcflag_t>(ONLCR);
        tcsetattr(slave, TCSANOW, &modes);
    } else if (pipe2(in, O_CLOEXEC) != 0) {
        return res;
    }
    std::size_t capacity = 0;
    if ((!r.terminal || r.stall > 0) && pipe2(out, O_CLOEXEC) != 0) return res;
#if defined(F_SETPIPE_SZ)
    // The kernel rounds up to a page; a write that does not fit in what is
    // left of it waits for a reader.
    if (r.stall > 0 && fcntl(out[1], F_SETPIPE_SZ, 1) > 0) capacity = fcntl(out[1], F_GETPIPE_SZ);
#endif
    if (r.stall > capacity) return res;

    // All the child needs is made before fork: other threads may run
    // programs too, and the child may only make async-signal-safe calls.
    std::vector<std::string> args = r.argv, env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    env.insert(env.end(), r.env.begin(), r.env.end());
    const std::vector<char*> argv = pointers(args), envp = pointers(env);
    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        if (r.terminal) ioctl(slave, TIOCSCTTY, 0);
        dup2(r.terminal ? slave : in[0], 0);
        dup2(out[1] >= 0 ? out[1] : slave, 1);
        dup2(err[1], 2);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGINT, SIG_DFL);  // a test run from a background shell has it ignored
        signal(SIGPIPE, SIG_DFL);
        if (!r.dir.empty() && chdir(r.dir.c_str()) != 0) _exit(126);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    // Only the child keeps the far ends, so that reading ends when it does:
    // the terminal gives EIO once every copy of its slave side is closed
    // (a copy forked into another thread's child goes at that child's exec).
    for (int fd : {slave, in[0], err[1]})
        if (fd >= 0) close(fd);
    if (r.stall == 0 && out[1] >= 0) close(out[1]), out[1] = -1;
    signal(SIGPIPE, SIG_IGN);
    if (!r.terminal) put(in[1], r.input);
    if (!r.terminal && !r.holdInput) close(in[1]), in[1] = -1;

    const int outFd = out[0] >= 0 ? out[0] : master;
    for (int fd : {master, out[0], err[0]})
        if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    enum { off, armed, filled, interrupted, flowing } stall = r.stall > 0 ? armed : off;
    std::size_t step = 0, fillerAt = 0;
    pid_t releaseThread = 0;
    bool outOpen = true, errOpen = true;
    std::string echo;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (outOpen || errOpen) {
        if (std::chrono::steady_clock::now() > deadline) {
            res.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        const bool readOut = outOpen && stall != filled && stall != interrupted;
        pollfd fds[3] = {{readOut ? outFd : -1, POLLIN, 0},
                         {errOpen ? err[0] : -1, POLLIN, 0},
                         {outFd != master ? master : -1, POLLIN, 0}};
        // Short waits: the key wait and the stall show on no descriptor.
        poll(fds, 3, step < r.keys.size() || stall != off ? 1 : 100);
        if (readOut) outOpen = drain(outFd, res.out);
        if (errOpen) errOpen = drain(err[0], res.err);
        if (outFd != master && master >= 0) drain(master, echo);

        for (; step < r.keys.size(); ++step) {
            const Keys& k = r.keys[step];
            termios modes{};
            if (count(res.out, k.after) < static_cast<std::size_t>(k.occurrence) ||
                (k.atKeyWait && (tcgetattr(master, &modes) != 0 || (modes.c_lflag & ICANON) != 0)))
                break;
            if (k.atKeyWait && stall == armed) {
                // The program waits and writes nothing: the pipe is filled
                // so that it takes `stall` bytes more, and no longer read.
                drain(outFd, res.out);
                fillerAt = res.out.size();
                put(out[1], std::string(capacity - r.stall, '#'));
                close(out[1]), out[1] = -1;
                stall = filled;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(k.delayUs));
            if (r.terminal) {
                put(master, k.bytes);
            } else {
                kill(pid, SIGINT);
            }
        }
        int queued = 0;
        if (stall == filled && ioctl(outFd, FIONREAD, &queued) == 0 &&
            static_cast<std::size_t>(queued) == capacity && sleepingIn(pid, pid) == writeCall) {
            // The main thread is held in the middle of a line: Ctrl+C now.
            for (const auto& task :
                 std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
                const auto tid = static_cast<pid_t>(std::stol(task.path().filename().string()));
                if (sleepingIn(pid, tid) == signalWaitCall) releaseThread = tid;
            }
            put(master, "\x03");
            stall = interrupted;
        } else if (stall == interrupted) {
            const long call = sleepingIn(pid, releaseThread);
            if (call >= 0 && call != signalWaitCall) {
                res.stalled = releaseThread != 0;
                stall = flowing;
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) res.status = WEXITSTATUS(status);
    termios modes{};
    if (master >= 0 && tcgetattr(master, &modes) == 0) {
        res.lineMode = (modes.c_lflag & ICANON) != 0;
        res.echo = (modes.c_lflag & ECHO) != 0;
    }
    if (stall != off && res.out.size() >= fillerAt + capacity - r.stall)
        res.out.erase(fillerAt, capacity - r.stall);
    // The terminal echoes Ctrl+C as "^C" among the output.
    for (std::size_t at; (at = res.out.find("^C")) != std::string::npos;) res.out.erase(at, 2);
    for (int fd : {master, in[1], out[0], out[1], err[0]})
        if (fd >= 0) close(fd);
    return res;
}

}  // namespace pitchime::test
