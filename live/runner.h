// The live player's playing thread: the one owner of the engine and of the
// board's writes while it runs. The MIDI system's thread hands each message
// over through a lock-free queue and wakes the playing thread (receive);
// the playing thread sleeps until a message comes or the engine's next
// timed change is due, never spinning, plays what has come, and sends the
// register writes of that instant in one device write. What it played goes
// out through a second queue, for a trace or a measurement (nextPlayed), so
// that nothing on the playing path prints, allocates or waits for a reader.
#pragma once

#include <atomic>
#include <cstdint>
#include <semaphore>
#include <thread>

#include "board/board_port.h"
#include "live/engine.h"
#include "midiin/midi_input.h"
#include "queue/event_queue.h"

namespace pitchime::live {

// A message for the playing thread, played once its time (message.us) has
// come: at once for what a MIDI input stamped on arrival, at its time in the
// file for a file's. `melody`: a melodic note of the melody track.
struct Incoming {
    midiin::Message message;
    bool melody = false;
};

// One message played, or one timed change (message.size 0, at message.us).
struct Played {
    midiin::Message message;
    std::int64_t writtenUs = 0;  // when its writes were sent; 0 when it made none
    Writes writes;
};

struct Runner {
    Engine engine;
    BoardPort* port = nullptr;
    EventQueue<Incoming, 1024> inbox;  // from the MIDI system's thread, or a file's reader
    std::counting_semaphore<1 << 30> wake{0};
    EventQueue<Played, 1024> played;  // to the reader of nextPlayed
    std::counting_semaphore<1 << 30> playedReady{0};
    std::atomic<bool> stopping{false};
    std::thread thread;
};

// Starts the playing thread on `port`, which is open and configured.
void start(Runner& runner, BoardPort& port, const Settings& settings);

// The midiin::Receiver of a runner (`runner` is the Runner): queues the
// message and wakes the playing thread. A full queue drops it (counted in
// inbox.dropped).
void receive(void* runner, const midiin::Message& message);

// Queues `incoming` and wakes the playing thread, which sleeps until its
// time. Returns false, queueing nothing, when the queue is full. Messages
// are played in the order they are posted.
bool post(Runner& runner, const Incoming& incoming);

// Plays what has come and is due, silences every counter, and ends the
// thread; messages not yet due are dropped.
void stop(Runner& runner);

// Waits for the next record of what was played; false once the runner has
// stopped and every record has been taken.
bool nextPlayed(Runner& runner, Played& played);

}  // namespace pitchime::live
