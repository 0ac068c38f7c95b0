// The platform layer of the Windows console programs: waits with Sleep
// under a 1 ms multimedia timer period, the C runtime's clock, the command
// interpreter's "cls", _getch for the key press, and the C runtime's
// signal for Ctrl+C.
#include <conio.h>
#include <windows.h>
// timeapi.h needs the types of windows.h before it.
#include <timeapi.h>

#include <csignal>
#include <cstdlib>
#include <ctime>

#include "platform/platform.h"

namespace pitchime::platform {

// The Windows C runtime counts clock() in milliseconds of wall-clock time
// since the process started, advancing while the process sleeps.
static_assert(CLOCKS_PER_SEC == 1000, "clockMs relies on clock() counting milliseconds");

namespace {

// The one release of the run and what it releases, set before the handler
// is installed: the signal handler has no other way to reach them.
void (*interruptRelease)(void*) = nullptr;
void* interruptContext = nullptr;

// Whether a handle is one of the console's (a redirected stream is not).
bool isConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

// The C runtime calls this on the thread that the console starts for the
// Ctrl+C event, while the main thread runs on. The runtime has already put
// SIGINT back to its default, under which a second Ctrl+C would kill the
// process in the middle of the release; ignoring it lets the release finish.
extern "C" void onSigint(int) {
    std::signal(SIGINT, SIG_IGN);
    interruptRelease(interruptContext);
}

}  // namespace

void sleepMs(std::int32_t ms) {
    if (ms > 0) Sleep(static_cast<DWORD>(ms));
}

void sleepUntilUs(std::int64_t us) {
    // Sleep takes whole milliseconds: the wait ends at the deadline or
    // within a timer tick after it, never before.
    for (std::int64_t left; (left = us - nowUs()) > 0;) Sleep(static_cast<DWORD>((left + 999) / 1000));
}

std::int32_t clockMs() { return static_cast<std::int32_t>(std::clock()); }

std::int64_t nowUs() {
    static const std::int64_t frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<std::int64_t>(f.QuadPart);
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    // Whole seconds and the remainder apart, so that the product cannot
    // overflow however long the machine has been up.
    const std::int64_t ticks = counter.QuadPart;
    return ticks / frequency * 1000000 + ticks % frequency * 1000000 / frequency;
}

void beginTimerResolution() { timeBeginPeriod(1); }

void endTimerResolution() { timeEndPeriod(1); }

void clearConsole() {
    // Redirected to a file or a pipe, "cls" would only add a form feed.
    if (isConsole(GetStdHandle(STD_OUTPUT_HANDLE))) static_cast<void>(std::system("cls"));
}

void waitKey() {
    // _getch reads the console's keyboard, whatever standard input is
    // redirected from. A process without a console (detached, started by a
    // service, or under wine without a terminal) has no key to wait for.
    HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    const bool console = isConsole(input);
    if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
    // _getch reads the console with its processing of Ctrl+C turned off, so
    // Ctrl+C at this point arrives as the key 3 instead of as the console's
    // event: it is taken for what the user meant and runs the release.
    constexpr int ctrlC = 3;
    if (console && _getch() == ctrlC) onSigint(SIGINT);
}

void restoreConsole() {}

bool installInterrupt(void (*release)(void*), void* context) {
    interruptRelease = release;
    interruptContext = context;
    return std::signal(SIGINT, onSigint) != SIG_ERR;
}

void waitForExit() {
    for (;;) Sleep(INFINITE);
}

void exitNow(int status) {
    // Ends the process without the exit-time destructors and without
    // touching the standard streams, which the main thread may hold locked.
    std::_Exit(status);
}

}  // namespace pitchime::platform
