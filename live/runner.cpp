#include "live/runner.h"

#include <algorithm>
#include <chrono>

#include "platform/platform.h"

namespace pitchime::live {

namespace {

// What one wake-up played, sent together.
struct Instant {
    std::array<Played, 16> played;
    std::size_t count = 0;
};

void send(Runner& r, Instant& instant) {
    board::sendBatch(*r.port);
    const std::int64_t now = platform::nowUs();
    for (std::size_t i = 0; i < instant.count; ++i) {
        Played& p = instant.played[i];
        if (p.writes.count > 0) p.writtenUs = now;
        if (queuePush(r.played, p)) r.playedReady.release();
    }
    instant.count = 0;
}

void add(Runner& r, Instant& instant, const midiin::Message& message, const Writes& writes) {
    if (message.size == 0 && writes.count == 0) return;  // a timed change that changed nothing
    for (int i = 0; i < writes.count; ++i)
        queueRegister(*r.port, writes.items[i].value, writes.items[i].address);
    instant.played[instant.count++] = Played{message, 0, writes};
    if (instant.count == instant.played.size()) send(r, instant);
}

// Sleeps until `us`, or until a message is posted or the runner stops.
void sleepUntil(Runner& r, std::int64_t us) {
    if (us == never) {
        r.wake.acquire();
    } else if (const auto wait = std::chrono::microseconds(us - platform::nowUs()); wait.count() > 0) {
        (void)r.wake.try_acquire_for(wait);
    }
    // One look at the queue serves every message posted until now: a file's
    // messages, posted ahead of their time, must not wake it once each.
    while (r.wake.try_acquire()) {
    }
}

// When the first queued message is due; never when none is queued.
std::int64_t nextMessageUs(Runner& r) {
    const Incoming* front = queueFront(r.inbox);
    return front == nullptr ? never : front->message.us;
}

void play(Runner& r) {
    platform::beginTimerResolution();
    Instant instant;
    Writes writes;
    for (bool last = false; !last;) {
        sleepUntil(r, std::min(nextChangeUs(r.engine), nextMessageUs(r)));
        last = r.stopping.load(std::memory_order_acquire);
        const std::int64_t due = platform::nowUs();
        for (const Incoming* queued;
             (queued = queueFront(r.inbox)) != nullptr && queued->message.us <= due;) {
            const Incoming incoming = *queued;
            queuePop(r.inbox);
            const midiin::Message& message = incoming.message;
            receive(r.engine, message.us, std::span(message.bytes.data(), message.size), writes,
                    incoming.melody);
            add(r, instant, message, writes);
        }
        if (const std::int64_t now = platform::nowUs(); nextChangeUs(r.engine) <= now) {
            advance(r.engine, now, writes);
            add(r, instant, midiin::Message{now, {}, 0}, writes);
        }
        if (last) {
            silence(r.engine, writes);
            add(r, instant, midiin::Message{platform::nowUs(), {}, 0}, writes);
        }
        send(r, instant);
    }
    platform::endTimerResolution();
}

}  // namespace

void start(Runner& runner, BoardPort& port, const Settings& settings) {
    live::start(runner.engine, settings);
    runner.port = &port;
    runner.stopping.store(false);
    runner.thread = std::thread(play, std::ref(runner));
}

void receive(void* context, const midiin::Message& message) {
    (void)post(*static_cast<Runner*>(context), Incoming{message, false});
}

bool post(Runner& runner, const Incoming& incoming) {
    if (!queuePush(runner.inbox, incoming)) return false;
    runner.wake.release();
    return true;
}

void stop(Runner& runner) {
    runner.stopping.store(true, std::memory_order_release);
    runner.wake.release();
    runner.thread.join();
    runner.playedReady.release();
}

bool nextPlayed(Runner& runner, Played& played) {
    runner.playedReady.acquire();
    const Played* front = queueFront(runner.played);
    if (front == nullptr) return false;
    played = *front;
    queuePop(runner.played);
    return true;
}

}  // namespace pitchime::live
