// What differs by operating system, behind one narrow seam chosen when
// linking: posix.cpp, windows.cpp, or virtual_time.cpp for offline
// rendering and tests (where sleeping advances a virtual clock at once).
#pragma once

#include <cstdint>

namespace pitchime::platform {

// Waits `ms` whole milliseconds on a monotonic clock; 0 or less returns at once.
void sleepMs(std::int32_t ms);

// Wall-clock milliseconds since the process started, advancing during waits.
std::int32_t clockMs();

// Microseconds on the same clock as sleepMs, for the virtual board's timestamps.
std::int64_t nowUs();

// While a score plays: holds the system timer at its finest resolution
// (1 ms or better) and, where the system allows it, has the calling thread
// woken ahead of ordinary processes. Called on the playing thread; each
// begin is paired with one end, which puts everything back.
void beginTimerResolution();
void endTimerResolution();

// Clears the console where that makes sense (a terminal); otherwise nothing.
void clearConsole();

// Waits for one key from the console, unbuffered and not echoed. Returns at
// once when there is no console to read from.
void waitKey();

// Puts the console back the way it was found, if waitKey changed it.
// Safe to call from the interrupt release while waitKey is blocked.
void restoreConsole();

// Arranges for `release` to run once when the user presses Ctrl+C, on a
// thread of its own, while the main thread goes on. Returns false if the
// platform refused.
bool installInterrupt(void (*release)());

// Ends the process at once with `status`, without running destructors of
// process-wide state that another thread may still be using. Standard
// output must have been flushed by the caller.
[[noreturn]] void exitNow(int status);

}  // namespace pitchime::platform
