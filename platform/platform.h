// What differs by operating system, behind one narrow seam chosen when
// linking: posix.cpp, windows.cpp, or virtual_time.cpp for offline
// rendering and tests (where sleeping advances a virtual clock at once).
#pragma once

#include <cstdint>

namespace pitchime::platform {

// Waits `ms` whole milliseconds on a monotonic clock; 0 or less returns at once.
void sleepMs(std::int32_t ms);

// Waits until nowUs() reaches `us`; a time already past returns at once.
void sleepUntilUs(std::int64_t us);

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
// Writes to standard output: called through console::clear.
void clearConsole();

// Waits for one key from the console, unbuffered and not echoed. Returns at
// once when there is no console to read from. Ctrl+C while it waits is not a
// key: it still runs the release installed by installInterrupt.
void waitKey();

// Puts the console back the way it was found, for good: if waitKey has it
// in single-key mode, that ends now, and a later waitKey leaves it as it
// is. Called by the interrupt release while waitKey may be blocked.
void restoreConsole();

// Arranges for `release(context)` to run when the user presses Ctrl+C, on a
// thread other than the main thread, while the main thread goes on;
// `release` never returns. A further Ctrl+C while it runs must change
// nothing: neither end the process nor start `release` again. Returns false
// if the platform refused. Where the system would end a process that writes
// to a pipe whose reader has gone, such writes are made to fail instead.
bool installInterrupt(void (*release)(void* context), void* context);

// Blocks the calling thread until another thread ends the process.
[[noreturn]] void waitForExit();

// Ends the process at once with `status`, without running destructors or
// exit handlers, and without touching any stdio stream: another thread may
// still be using process-wide state or hold a stream's lock (standard input
// at the "Open File:" prompt). The caller flushes standard output first.
[[noreturn]] void exitNow(int status);

}  // namespace pitchime::platform
