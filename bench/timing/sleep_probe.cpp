// The platform's own lateness: sleeps the waits read from standard input
// (whole milliseconds, one after the other) with the players' sleep and
// prints, one per line, how many microseconds each took beyond its wait.
// Nothing else happens between two sleeps, so this is the floor under what
// a player can reach on the same machine with the same waits.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/platform.h"

int main() {
    std::vector<std::int32_t> waits;
    for (int ms; std::scanf("%d", &ms) == 1;) waits.push_back(ms);
    std::vector<std::int64_t> late(waits.size());

    pitchime::platform::beginTimerResolution();
    for (std::size_t i = 0; i < waits.size(); ++i) {
        const std::int64_t start = pitchime::platform::nowUs();
        pitchime::platform::sleepMs(waits[i]);
        late[i] = pitchime::platform::nowUs() - start - std::int64_t{waits[i]} * 1000;
    }
    pitchime::platform::endTimerResolution();

    for (std::int64_t us : late) std::printf("%" PRId64 "\n", us);
    return 0;
}
