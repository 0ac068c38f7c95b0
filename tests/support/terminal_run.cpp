#include "support/terminal_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/process_watch.h"
#include "support/run_program.h"

extern char** environ;

namespace pitchime::test {

namespace {

void sleepUs(long us) {
    timespec t{us / 1000000, (us % 1000000) * 1000};
    while (nanosleep(&t, &t) == -1 && errno == EINTR) {
    }
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++n;
    return n;
}

void eraseAll(std::string& text, const std::string& what) {
    for (std::size_t at; (at = text.find(what)) != std::string::npos;) text.erase(at, what.size());
}

bool inKeyWait(int terminal) {
    termios modes{};
    return tcgetattr(terminal, &modes) == 0 && (modes.c_lflag & ICANON) == 0;
}

// A terminal as a user's is, except that typing Ctrl+C does not throw away
// output the test has not read yet (NOFLSH) and line ends stay "\n".
bool openTerminal(int& master, int& slave) {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return false;
    char name[128];
    if (ptsname_r(master, name, sizeof name) != 0) return false;
    slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios modes{};
    if (slave < 0 || tcgetattr(slave, &modes) != 0) return false;
    modes.c_lflag |= ICANON | ECHO | ECHOCTL | ISIG | NOFLSH;
    modes.c_iflag |= IXON;
    modes.c_oflag &= ~static_cast<tcflag_t>(ONLCR);
    return tcsetattr(slave, TCSANOW, &modes) == 0;
}

// Holding the program at one line of its output (stallAfterKeyWait).
struct Stall {
    enum class Phase { off, armed, filled, interrupted, flowing } phase = Phase::off;
    std::size_t capacity = 0;
    std::size_t fillerAt = 0;
    std::size_t fillerSize = 0;
    pid_t releaseThread = 0;
};

}  // namespace

bool canStallOutput() { return watch::supported(); }

TerminalResult runOnTerminal(const std::string& program, const TerminalOptions& options) {
    TerminalResult result;
    int master = -1, slave = -1;
    int errPipe[2] = {-1, -1}, outPipe[2] = {-1, -1};
    Stall stall;
    if (!openTerminal(master, slave) || pipe2(errPipe, O_CLOEXEC) != 0) return result;
    if (options.stallAfterKeyWait > 0) {
        if (!canStallOutput() || pipe2(outPipe, O_CLOEXEC) != 0) return result;
        stall.capacity = watch::shrinkPipe(outPipe[1]);
        if (stall.capacity < options.stallAfterKeyWait) return result;
        stall.phase = Stall::Phase::armed;
    }

    // Everything the child needs is made before fork: a test may run
    // programs from several threads, and between fork and exec only
    // async-signal-safe calls are allowed.
    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), options.args.begin(), options.args.end());
    const std::vector<char*> argv = execArray(argStrings);
    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) envStrings.emplace_back(*e);
    for (const auto& [name, value] : options.env) envStrings.push_back(name + "=" + value);
    const std::vector<char*> envp = execArray(envStrings);

    const pid_t pid = fork();
    if (pid == 0) {
        // A session of its own with the terminal as its controlling
        // terminal: Ctrl+C typed there signals this process.
        setsid();
        ioctl(slave, TIOCSCTTY, 0);
        dup2(slave, 0);
        dup2(outPipe[1] >= 0 ? outPipe[1] : slave, 1);
        dup2(errPipe[1], 2);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        struct sigaction byDefault {};
        byDefault.sa_handler = SIG_DFL;
        sigaction(SIGINT, &byDefault, nullptr);
        sigaction(SIGPIPE, &byDefault, nullptr);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(slave);
    close(errPipe[1]);
    const int outFd = outPipe[0] >= 0 ? outPipe[0] : master;
    for (int fd : {master, errPipe[0], outPipe[0]})
        if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);

    std::string out, echo;
    std::size_t step = 0;
    bool outOpen = true, errOpen = true, echoOpen = outFd != master;
    bool exited = false;
    int waitStatus = 0;
    const long long deadline = nowMs() + options.timeoutMs;
    while (!exited) {
        if (nowMs() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &waitStatus, 0);
            result.timedOut = true;
            break;
        }
        // Short polls: some of the conditions below show on no descriptor.
        const bool readOut =
            outOpen && stall.phase != Stall::Phase::filled && stall.phase != Stall::Phase::interrupted;
        pollfd fds[3] = {{readOut ? outFd : -1, POLLIN, 0},
                         {errOpen ? errPipe[0] : -1, POLLIN, 0},
                         {echoOpen ? master : -1, POLLIN, 0}};
        poll(fds, 3, 1);
        if (readOut) outOpen = readAvailable(outFd, out);
        if (errOpen) errOpen = readAvailable(errPipe[0], result.err);
        if (echoOpen) echoOpen = readAvailable(master, echo);

        while (step < options.keystrokes.size()) {
            const Keystroke& k = options.keystrokes[step];
            if (count(out, k.after) < static_cast<std::size_t>(k.occurrence)) break;
            if (k.atKeyWait && !inKeyWait(master)) break;
            if (k.atKeyWait && stall.phase == Stall::Phase::armed) {
                // The program waits for the key and writes nothing: all it
                // wrote is read. The pipe is filled so that it takes the
                // asked number of bytes more, and is no longer read.
                readAvailable(outFd, out);
                stall.fillerAt = out.size();
                stall.fillerSize = stall.capacity - options.stallAfterKeyWait;
                writeAll(outPipe[1], std::string(stall.fillerSize, '#'));
                close(outPipe[1]);
                outPipe[1] = -1;
                stall.phase = Stall::Phase::filled;
            }
            if (k.delayUs > 0) sleepUs(k.delayUs);
            writeAll(master, k.keys);
            ++step;
        }

        if (stall.phase == Stall::Phase::filled) {
            // Full, and the main thread waits in write: Ctrl+C now.
            int queued = 0;
            ioctl(outFd, FIONREAD, &queued);
            if (static_cast<std::size_t>(queued) == stall.capacity &&
                watch::blockedIn(pid, pid) == watch::writeCall()) {
                for (pid_t tid : watch::threads(pid))
                    if (watch::blockedIn(pid, tid) == watch::signalWaitCall()) stall.releaseThread = tid;
                writeAll(master, "\x03");
                stall.phase = Stall::Phase::interrupted;
            }
        } else if (stall.phase == Stall::Phase::interrupted) {
            // The release has taken the signal once its thread sleeps in
            // something else than the wait for it (the console's lock).
            const long call = watch::blockedIn(pid, stall.releaseThread);
            if (call >= 0 && call != watch::signalWaitCall()) {
                result.stalled = stall.releaseThread != 0;
                stall.phase = Stall::Phase::flowing;
            }
        }

        if (waitpid(pid, &waitStatus, WNOHANG) == pid) exited = true;
    }
    // What was written before the end.
    if (outOpen) readAvailable(outFd, out);
    if (errOpen) readAvailable(errPipe[0], result.err);

    if (WIFEXITED(waitStatus)) result.status = WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) result.signal = WTERMSIG(waitStatus);
    termios modes{};
    if (tcgetattr(master, &modes) == 0) {
        result.lineMode = (modes.c_lflag & ICANON) != 0;
        result.echo = (modes.c_lflag & ECHO) != 0;
    }
    if (stall.phase != Stall::Phase::off && stall.fillerSize > 0 &&
        out.size() >= stall.fillerAt + stall.fillerSize)
        out.erase(stall.fillerAt, stall.fillerSize);
    // The terminal echoes Ctrl+C as "^C" among the output.
    eraseAll(out, "^C");
    result.out = std::move(out);
    for (int fd : {master, errPipe[0], outPipe[0], outPipe[1]})
        if (fd >= 0) close(fd);
    return result;
}

}  // namespace pitchime::test
