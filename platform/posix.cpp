// The platform layer for Linux and macOS.
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/platform.h"

namespace pitchime::platform {

namespace {

std::int64_t monotonicUs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1000000 + now.tv_nsec / 1000;
}

// The clock's origin: taken before main runs.
const std::int64_t startUs = monotonicUs();

#if defined(__linux__)
// What beginTimerResolution changed on the playing thread, to put back.
unsigned long savedTimerSlack = 0;
int savedPolicy = SCHED_OTHER;
sched_param savedPriority{};
bool raisedPriority = false;
// A low real-time priority: above every ordinary process, below the
// kernel's own real-time threads.
constexpr int playPriority = 10;
#endif

// The terminal that waitKey has in single-key mode, and how it was before,
// kept so that the interrupt release can put it back from its own thread.
std::mutex terminalLock;
int keyTerminal = -1;
termios savedTerminal{};
// Set by restoreConsole: the process is ending and the terminal stays as
// the user had it.
bool terminalReleased = false;

// Puts the terminal back if waitKey changed it; under terminalLock.
void putTerminalBack() {
    if (keyTerminal < 0) return;
    tcsetattr(keyTerminal, TCSANOW, &savedTerminal);
    keyTerminal = -1;
}

}  // namespace

void sleepMs(std::int32_t ms) {
    if (ms <= 0) return;
#if defined(__APPLE__)
    // macOS has no clock_nanosleep: a relative sleep, resumed for the
    // remaining time when a signal interrupts it.
    timespec rest{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&rest, &rest) == -1 && errno == EINTR) {
    }
#else
    // Sleep to an absolute deadline so that an interrupted sleep resumes
    // for the remaining time only.
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += ms / 1000;
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
#endif
}

void sleepUntilUs(std::int64_t us) {
#if defined(__APPLE__)
    for (std::int64_t left; (left = us - nowUs()) > 0;) {
        timespec rest{static_cast<time_t>(left / 1000000), static_cast<long>(left % 1000000) * 1000L};
        nanosleep(&rest, nullptr);
    }
#else
    const std::int64_t at = startUs + us;
    if (at <= monotonicUs()) return;
    const timespec deadline{static_cast<time_t>(at / 1000000), static_cast<long>(at % 1000000) * 1000L};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
#endif
}

std::int32_t clockMs() { return static_cast<std::int32_t>((monotonicUs() - startUs) / 1000); }

std::int64_t nowUs() { return monotonicUs() - startUs; }

void beginTimerResolution() {
#if defined(__linux__)
    // The kernel may defer a sleeping thread's wake-up by its timer slack
    // (50 us by default) to batch wake-ups; 1 ns asks for none.
    savedTimerSlack = static_cast<unsigned long>(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0));
    prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    // An ordinary thread that wakes while other processes run may wait a
    // scheduler time slice (milliseconds) for a core; a real-time thread
    // takes one at once. The thread sleeps nearly all the time, so it
    // holds no core from anyone. Allowed to root and to users whose
    // RLIMIT_RTPRIO reaches playPriority; otherwise the thread keeps its
    // ordinary priority.
    raisedPriority = false;
    if (pthread_getschedparam(pthread_self(), &savedPolicy, &savedPriority) == 0) {
        sched_param realTime{};
        realTime.sched_priority = playPriority;
        raisedPriority = pthread_setschedparam(pthread_self(), SCHED_FIFO, &realTime) == 0;
    }
#endif
}

void endTimerResolution() {
#if defined(__linux__)
    if (raisedPriority) pthread_setschedparam(pthread_self(), savedPolicy, &savedPriority);
    raisedPriority = false;
    prctl(PR_SET_TIMERSLACK, savedTimerSlack, 0, 0, 0);
#endif
}

void clearConsole() {
    if (!isatty(STDOUT_FILENO)) return;
    // Cursor home, then erase the screen; the scrollback stays, with
    // whatever the user ran before (ESC[3J would erase it too).
    std::fputs("\033[H\033[2J", stdout);
    std::fflush(stdout);
}

void waitKey() {
    // One key from the controlling terminal, whatever standard input is.
    const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return;  // no terminal: nobody to press a key
    {
        std::lock_guard guard(terminalLock);
        termios raw{};
        if (!terminalReleased && tcgetattr(fd, &raw) == 0) {
            savedTerminal = raw;
            // Unbuffered and not echoed; ISIG stays, so Ctrl+C still raises
            // SIGINT rather than being read as the key.
            raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
            raw.c_cc[VMIN] = 1;
            raw.c_cc[VTIME] = 0;
            if (tcsetattr(fd, TCSANOW, &raw) == 0) keyTerminal = fd;
        }
    }
    unsigned char key = 0;
    while (::read(fd, &key, 1) == -1 && errno == EINTR) {
    }
    {
        std::lock_guard guard(terminalLock);
        putTerminalBack();
    }
    ::close(fd);
}

void restoreConsole() {
    // The descriptor stays open: waitKey may still be reading from it, and
    // closing it under its feet could hand the number to another file.
    std::lock_guard guard(terminalLock);
    terminalReleased = true;
    putTerminalBack();
}

bool installInterrupt(void (*release)(void* context), void* context) {
    // SIGINT is blocked in every thread and taken by one thread that waits
    // for it, so the release runs as ordinary code, not inside a signal
    // handler. Threads started later, by us or by a library, inherit the
    // mask; a second SIGINT while the release runs stays pending, unseen.
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    if (pthread_sigmask(SIG_BLOCK, &interrupt, nullptr) != 0) return false;
    // A shell starts background jobs with SIGINT ignored; an ignored signal
    // never becomes pending, so take the default disposition, which a
    // blocked signal never acts on.
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    if (sigaction(SIGINT, &byDefault, nullptr) != 0) return false;
    // A pipe whose reader has gone (the output, or a recording of the
    // virtual board) must not end the run with the board sounding: its
    // writes fail with EPIPE instead, and the run goes on to its end.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    if (sigaction(SIGPIPE, &ignore, nullptr) != 0) return false;
    std::thread([interrupt, release, context] {
        int signal = 0;
        while (sigwait(&interrupt, &signal) != 0) {
        }
        release(context);
    }).detach();
    return true;
}

void waitForExit() {
    for (;;) pause();
}

// _Exit rather than exit or _exit: exit runs the destructors of process-wide
// state that the main thread may still be using, and ThreadSanitizer's
// wrapper of _exit flushes every stream, standard input included, which the
// main thread may be reading at the prompt.
void exitNow(int status) { std::_Exit(status); }

}  // namespace pitchime::platform
