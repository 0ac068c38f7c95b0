// A single-producer, single-consumer queue of fixed capacity, for handing
// events from one thread to another without a lock, an allocation or a
// wait. The producer's calls must not overlap one another (one thread, or
// threads taking turns under a lock of their own), nor must the consumer's.
// A full queue refuses the event and counts it; it never makes the
// producer wait.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace pitchime {

template <typename T, std::size_t Capacity>
struct EventQueue {
    static_assert(Capacity > 0 && (Capacity & (Capacity - 1)) == 0, "the capacity must be a power of two");
    std::array<T, Capacity> slots{};
    std::atomic<std::size_t> pushed{0};    // events ever pushed; stored by the producer only
    std::atomic<std::size_t> popped{0};    // events ever popped; stored by the consumer only
    std::atomic<std::int64_t> dropped{0};  // events refused because the queue was full
};

// Producer: appends `event`, or counts it as dropped when the queue is full.
template <typename T, std::size_t Capacity>
bool queuePush(EventQueue<T, Capacity>& queue, const T& event) {
    const std::size_t at = queue.pushed.load(std::memory_order_relaxed);
    if (at - queue.popped.load(std::memory_order_acquire) == Capacity) {
        queue.dropped.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    queue.slots[at & (Capacity - 1)] = event;
    queue.pushed.store(at + 1, std::memory_order_release);
    return true;
}

// Consumer: the oldest event, which stays in the queue until queuePop, or
// nullptr when the queue is empty.
template <typename T, std::size_t Capacity>
const T* queueFront(const EventQueue<T, Capacity>& queue) {
    const std::size_t at = queue.popped.load(std::memory_order_relaxed);
    if (at == queue.pushed.load(std::memory_order_acquire)) return nullptr;
    return &queue.slots[at & (Capacity - 1)];
}

// Consumer: removes the event queueFront gave.
template <typename T, std::size_t Capacity>
void queuePop(EventQueue<T, Capacity>& queue) {
    queue.popped.store(queue.popped.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

// Empties the queue and its count of drops; only while neither side runs.
template <typename T, std::size_t Capacity>
void queueClear(EventQueue<T, Capacity>& queue) {
    queue.pushed.store(0, std::memory_order_relaxed);
    queue.popped.store(0, std::memory_order_relaxed);
    queue.dropped.store(0, std::memory_order_relaxed);
}

}  // namespace pitchime
