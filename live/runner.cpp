#include "live/runner.h"

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

void sleepUntil(Runner& r, std::int64_t us) {
    if (us == never) {
        r.wake.acquire();
        return;
    }
    const auto wait = std::chrono::microseconds(us - platform::nowUs());
    if (wait.count() > 0) (void)r.wake.try_acquire_for(wait);
}

void play(Runner& r) {
    platform::beginTimerResolution();
    Instant instant;
    Writes writes;
    for (bool last = false; !last;) {
        sleepUntil(r, nextChangeUs(r.engine));
        last = r.stopping.load(std::memory_order_acquire);
        while (const midiin::Message* queued = queueFront(r.inbox)) {
            const midiin::Message message = *queued;
            queuePop(r.inbox);
            receive(r.engine, message.us, std::span(message.bytes.data(), message.size), writes);
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
    Runner& runner = *static_cast<Runner*>(context);
    if (queuePush(runner.inbox, message)) runner.wake.release();
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
