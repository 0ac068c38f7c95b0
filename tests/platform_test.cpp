// The POSIX platform layer under the players: what play holds and gives
// back, and waits that are never cut short.
#include "platform/platform.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>

#if defined(__linux__)
#include <sys/prctl.h>
#endif

namespace pitchime::platform {
namespace {

#if defined(__linux__)
struct Scheduling {
    int policy = -1;
    int priority = -1;
    long timerSlack = -1;
    bool operator==(const Scheduling&) const = default;
};

Scheduling current() {
    Scheduling now;
    sched_param param{};
    pthread_getschedparam(pthread_self(), &now.policy, &param);
    now.priority = param.sched_priority;
    now.timerSlack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    return now;
}

// Whether this process may make a thread real-time at all (root, or an
// RLIMIT_RTPRIO that allows it); the layer must fall back quietly if not.
bool mayRaise() {
    const Scheduling before = current();
    sched_param realTime{};
    realTime.sched_priority = 10;
    const bool allowed = pthread_setschedparam(pthread_self(), SCHED_FIFO, &realTime) == 0;
    sched_param back{};
    back.sched_priority = before.priority;
    pthread_setschedparam(pthread_self(), before.policy, &back);
    return allowed;
}

TEST(PlatformPlay, HoldsFineTimingWhilePlayingAndGivesEverythingBack) {
    const Scheduling before = current();
    const bool allowed = mayRaise();
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        beginTimerResolution();
        const Scheduling during = current();
        // A real-time thread has no timer slack at all on recent kernels.
        EXPECT_LE(during.timerSlack, 1);
        if (allowed) {
            EXPECT_EQ(during.policy, SCHED_FIFO);
            EXPECT_EQ(during.priority, 10);
        } else {
            EXPECT_EQ(during.policy, before.policy);
        }
        endTimerResolution();
        EXPECT_EQ(current(), before);
    }
}
#endif

TEST(PlatformPlay, WaitsAreNeverShortAndBothClocksSeeThem) {
    beginTimerResolution();
    const std::int64_t startUs = nowUs();
    const std::int32_t startMs = clockMs();
    sleepMs(20);
    const std::int64_t endUs = nowUs();
    const std::int32_t endMs = clockMs();
    sleepMs(0);
    sleepMs(-5);
    endTimerResolution();
    EXPECT_GE(endUs - startUs, 20000);
    EXPECT_GE(endMs - startMs, 20);
    EXPECT_LE(endMs - startMs, (endUs - startUs) / 1000 + 1);
}

}  // namespace
}  // namespace pitchime::platform
