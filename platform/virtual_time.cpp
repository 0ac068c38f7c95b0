// Virtual time, for offline rendering and tests: sleeping advances a clock
// at once instead of waiting, there is no console to clear or key to wait
// for, and nothing happens on Ctrl+C.
#include "platform/virtual_time.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/platform.h"

namespace pitchime::platform {

namespace {
std::atomic<std::int64_t> virtualUs{0};
}

void sleepMs(std::int32_t ms) {
    if (ms > 0) virtualUs += std::int64_t{ms} * 1000;
}

void sleepUntilUs(std::int64_t us) {
    std::int64_t now = virtualUs.load();
    while (now < us && !virtualUs.compare_exchange_weak(now, us)) {
    }
}

std::int32_t clockMs() { return static_cast<std::int32_t>(virtualUs.load() / 1000); }

std::int64_t nowUs() { return virtualUs.load(); }

void setVirtualUs(std::int64_t us) { virtualUs = us; }

void beginTimerResolution() {}
void endTimerResolution() {}
void clearConsole() {}
void waitKey() {}
void restoreConsole() {}

bool installInterrupt(void (*)(void*), void*) { return true; }

void waitForExit() {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
}

void exitNow(int status) { std::_Exit(status); }

}  // namespace pitchime::platform
