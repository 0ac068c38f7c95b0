// The live player's latency from a MIDI message's arrival to the board
// write that sounds it, over the whole path the live program takes: a JACK
// server of the benchmark's own on the dummy driver, the MIDI input seam
// (RtMidi on JACK) offering its port there, the playing thread with the
// engine, and the virtual board with its live sound (to SDL's dummy driver
// unless SDL_AUDIODRIVER says otherwise). A JACK client in this process
// plays the keyboard: note-ons, bends and note-offs at uneven gaps of 5 to
// 45 ms, each stamped when its process cycle hands it to JACK.
//
// For an idle machine and then with a core kept busy by a spinning thread,
// it prints, in ms, the median, 99th percentile and largest time from the
// arrival stamp the input gave a message to the board write of its
// register writes, and from the send to that write (which adds JACK's
// cycle); how many messages arrived; then the CPU time the playing thread
// took during two seconds without a message, and the allocations it made
// while it played.
//
// The JACK server runs without real-time priority, as in the tests, unless
// --realtime is given: then it and its clients' cycles run at real-time
// priority, as on a machine set up for playing live.
//
//   build/test/bench/live_midi_bench [SECONDS-PER-PASS] [--realtime]
#include <fcntl.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/live_stats.h"
#include "board/board_port.h"
#include "console/console.h"
#include "live/runner.h"
#include "midiin/midi_input.h"
#include "platform/platform.h"
#include "vboard/live_audio.h"
#include "vboard/vboard.h"

extern char** environ;

namespace {
std::atomic<long> playingAllocations{0};
std::atomic<bool> counting{false};
std::thread::id playingThread;
}  // namespace

// Counts the allocations of the playing thread while a pass runs. GCC
// cannot see that the replaced operator new below is malloc, and warns
// about the matching free.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
    if (counting.load(std::memory_order_relaxed) && std::this_thread::get_id() == playingThread)
        ++playingAllocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

using namespace pitchime;

namespace {

struct Send {
    std::int64_t us = 0;
    std::uint8_t bytes[3] = {};
};

// The keyboard: a JACK client sending the planned messages when due.
struct Keyboard {
    jack_client_t* client = nullptr;
    jack_port_t* port = nullptr;
    // Times relative to the start of the pass; every message's last byte
    // holds its number, so that a message JACK lost is known.
    std::vector<Send> plan;
    std::vector<Send> sent;  // reserved for the whole plan
    std::atomic<std::size_t> next{0};
    std::atomic<std::int64_t> startUs{-1};  // -1: not playing
};

int keyboardCycle(jack_nframes_t frames, void* context) {
    Keyboard& k = *static_cast<Keyboard*>(context);
    void* buffer = jack_port_get_buffer(k.port, frames);
    jack_midi_clear_buffer(buffer);
    const std::int64_t start = k.startUs.load(std::memory_order_acquire);
    if (start < 0) return 0;
    const std::int64_t now = platform::nowUs();
    std::size_t i = k.next.load(std::memory_order_relaxed);
    for (; i < k.plan.size() && start + k.plan[i].us <= now; ++i) {
        jack_midi_event_write(buffer, 0, k.plan[i].bytes, (k.plan[i].bytes[0] & 0xF0) == 0xC0 ? 2 : 3);
        k.sent[i] = k.plan[i];
        k.sent[i].us = now;
    }
    k.next.store(i, std::memory_order_release);
    return 0;
}

using bench::percentile;
using bench::threadCpuUs;

void pass(const char* name, int seconds, live::Runner& runner, Keyboard& keyboard) {
    std::mt19937 random(20);
    std::uniform_int_distribution<int> gapMs(5, 45), key(48, 84), bend(0, 16383);
    keyboard.plan.clear();
    std::vector<int> down;
    for (std::int64_t at = 0; at < std::int64_t{seconds} * 1000000; at += gapMs(random) * 1000) {
        Send s{at, {0, 0, static_cast<std::uint8_t>(1 + keyboard.plan.size() % 127)}};
        const int choice = static_cast<int>(keyboard.plan.size() % 4);
        if (choice == 1) {
            const int b = bend(random);
            s.bytes[0] = 0xE0, s.bytes[1] = static_cast<std::uint8_t>(b & 127);
        } else if (choice == 3 || down.size() >= 4) {
            s.bytes[0] = 0x80, s.bytes[1] = static_cast<std::uint8_t>(down.empty() ? 60 : down.front());
            if (!down.empty()) down.erase(down.begin());
        } else {
            down.push_back(key(random));
            s.bytes[0] = 0x90, s.bytes[1] = static_cast<std::uint8_t>(down.back());
        }
        keyboard.plan.push_back(s);
    }
    keyboard.sent.assign(keyboard.plan.size(), Send{});
    keyboard.next.store(0);

    std::atomic<bool> spinning{false};
    std::thread busy;
    if (std::string(name) == "busy") {
        spinning = true;
        busy = std::thread([&spinning] {
            while (spinning.load(std::memory_order_relaxed)) {
            }
        });
    }
    playingAllocations = 0;
    counting = true;
    keyboard.startUs.store(platform::nowUs() + 200000, std::memory_order_release);

    // A second after the last send, a system reset (which plays nothing)
    // marks the end of what can still arrive.
    std::thread end([&runner, &keyboard] {
        while (keyboard.next.load() < keyboard.plan.size()) platform::sleepMs(100);
        platform::sleepMs(1000);
        live::receive(&runner, midiin::Message{platform::nowUs(), {0xFF, 0, 0}, 1});
    });
    std::vector<double> arrival, send;
    std::size_t received = 0, matched = 0;
    live::Played played;
    while (live::nextPlayed(runner, played) && played.message.bytes[0] != 0xFF) {
        if (played.message.size == 0) continue;
        ++received;
        std::size_t i = matched;
        const auto same = [&](const Send& s) {
            return std::equal(s.bytes, s.bytes + 3, played.message.bytes.begin());
        };
        while (i < keyboard.sent.size() && !same(keyboard.sent[i])) ++i;
        if (i == keyboard.sent.size()) continue;
        matched = i + 1;
        if (played.writtenUs == 0) continue;  // nothing to write: a key let go that had no voice
        arrival.push_back((played.writtenUs - played.message.us) / 1000.0);
        send.push_back((played.writtenUs - keyboard.sent[i].us) / 1000.0);
    }
    end.join();
    counting = false;
    keyboard.startUs.store(-1);
    spinning = false;
    if (busy.joinable()) busy.join();

    const std::int64_t before = threadCpuUs(runner.thread);
    platform::sleepMs(2000);
    const std::int64_t idleCpu = threadCpuUs(runner.thread) - before;
    std::printf(
        "%s: %zu messages sent, %zu played, %zu of them with board writes, %lld dropped by the queue\n"
        "  arrival to board write: median %.3f ms, p99 %.3f ms, max %.3f ms\n"
        "  send to board write:    median %.3f ms, p99 %.3f ms, max %.3f ms\n"
        "  playing thread: %lld us of CPU in 2 s without a message; %ld allocations while playing\n",
        name, keyboard.plan.size(), received, arrival.size(),
        static_cast<long long>(runner.inbox.dropped.load()), percentile(arrival, 0.5),
        percentile(arrival, 0.99), percentile(arrival, 1.0), percentile(send, 0.5), percentile(send, 0.99),
        percentile(send, 1.0), static_cast<long long>(idleCpu), playingAllocations.load());
}

}  // namespace

void quiet(const char*) {}

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    const bool realtime = argc > 2 && std::string(argv[2]) == "--realtime";
    jack_set_error_function(quiet);
    jack_set_info_function(quiet);
    // The same name at every run: JACK frees a dead server's registry entry
    // (it holds 8) only for a new server of that name.
    setenv("JACK_DEFAULT_SERVER", "pitchime-bench-live-midi", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    pid_t jackd = 0;
    char* jackArgs[] = {const_cast<char*>("jackd"),
                        const_cast<char*>(realtime ? "--realtime" : "--no-realtime"),
                        const_cast<char*>("-d"),
                        const_cast<char*>("dummy"),
                        const_cast<char*>("-r"),
                        const_cast<char*>("48000"),
                        const_cast<char*>("-p"),
                        const_cast<char*>("256"),
                        nullptr};
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawnp(&jackd, "jackd", &quiet, nullptr, jackArgs, environ) != 0) {
        std::printf("cannot start jackd\n");
        return 1;
    }
    Keyboard keyboard;
    for (int tries = 0; keyboard.client == nullptr && tries < 500; ++tries) {
        keyboard.client = jack_client_open("pitchime-bench-keyboard", JackNoStartServer, nullptr);
        if (keyboard.client == nullptr) platform::sleepMs(20);
    }
    int status = 1;
    if (keyboard.client != nullptr) {
        console::setStream(nullptr);
        vboard::Options options;
        options.liveAudio = true;
        vboard::reset(options);
        BoardPort port;
        board::open(port);
        board::configure(port);
        auto runner = std::make_unique<live::Runner>();
        live::start(*runner, port, {});
        playingThread = runner->thread.get_id();
        std::string error;
        midiin::Input* input =
            midiin::open({midiin::Api::jack, "", "pitchime", live::receive, runner.get()}, error);
        keyboard.port =
            jack_port_register(keyboard.client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        jack_set_process_callback(keyboard.client, keyboardCycle, &keyboard);
        if (input != nullptr && jack_activate(keyboard.client) == 0 &&
            jack_connect(keyboard.client, jack_port_name(keyboard.port), "pitchime:pitchime") == 0) {
            platform::sleepMs(500);  // the connection in the graph, the live sound under way
            pass("idle", seconds, *runner, keyboard);
            pass("busy", seconds, *runner, keyboard);
            status = 0;
        } else {
            std::printf("cannot connect the keyboard to the MIDI input: %s\n", error.c_str());
        }
        jack_client_close(keyboard.client);
        midiin::close(input);
        live::stop(*runner);
        board::restAndClose(port);
        const vboard::LiveStats stats = vboard::liveStats();
        std::printf("live sound: %s, %lld writes heard, %lld dropped\n", stats.played ? "played" : "none",
                    static_cast<long long>(stats.events), static_cast<long long>(stats.dropped));
    }
    std::fflush(stdout);
    kill(jackd, SIGTERM);
    waitpid(jackd, nullptr, 0);
    return status;
}
