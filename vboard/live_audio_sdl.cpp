// The live audio through SDL2. The board hands every register write, with
// its time, to the audio thread through a single-producer, single-consumer
// queue. SDL's callback runs its own 8254 model and speaker, the same code
// and output level as the WAV recording, and renders the board as it was a
// fixed delay ago, so every write has reached the queue before its place in
// the stream is rendered. The callback takes no lock, allocates nothing and
// never waits: all its state is plain data made before the output starts.
//
// Timing. The output asks for blocks of 480 samples (10 ms at 48 kHz). A
// callback at time `now` starting at stream sample S renders the board's
// time from now - renderDelayUs on: stream sample s shows board time
// origin + s / 48000 s, with origin = now - renderDelayUs - S / 48000 s.
// The render delay, 12 ms, covers one block, the speaker's look-ahead
// (0.35 ms) and 1.65 ms for a write to reach the queue after its
// timestamp. The low-latency setting, for playing from a keyboard, asks
// for blocks of 96 samples (2 ms; a whole number of milliseconds, the
// pace of SDL's dummy and disk drivers) and renders 3 ms behind: a write
// is heard sooner, at the cost of more callbacks and of writes that a
// callback's jitter leaves behind the stream (below) more often. A sample enters the stream at the callback
// time plus its place in the block, so a write enters the stream renderDelayUs after it was made, or a little
// more while the origin catches up (below); the device then adds its own buffer (with PulseAudio about one
// more block).
//
// Clock drift. The device's sample clock and the wall clock never run at
// quite the same rate, and callbacks come with some jitter. Every callback
// therefore measures the origin again. When the measure is earlier than the
// origin in use (the device runs fast, or the callback came early), the
// origin moves back at once: writes then land later in the stream, never
// too early to be in the queue. When it is later (the device runs slow, or
// the callback came late), the origin moves a quarter of the way, which
// follows a slow device while smoothing the jitter; writes that this (or a
// stall longer than the delay) leaves behind the rendered stream are placed
// at the start of the block, and counted as late. Only where writes land
// moves, by a few milliseconds at most; pitches come from the model and
// stay exact.
//
// Stopping. liveStop marks the close time; the callback plays up to it,
// fades out over 5 ms, then plays silence; after two silent blocks (what
// the device may still hold is silent too) the output is closed.
#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <limits>

#include "platform/platform.h"
#include "queue/event_queue.h"
#include "vboard/live_audio.h"
#include "vboard/pit8254.h"
#include "vboard/speaker.h"

namespace pitchime::vboard {

namespace {

constexpr int sampleRate = 48000;
// The block the output asks for, and how far behind the board's time the
// callback renders.
struct Timing {
    int blockSamples = 0;
    std::int64_t renderDelayUs = 0;
};
constexpr Timing usualTiming{480, 12000};
constexpr Timing lowLatencyTiming{96, 3000};
constexpr std::int64_t fadeSamples = sampleRate / 200;
constexpr int silentBlocksBeforeClose = 2;
constexpr Uint64 stopWaitMs = 150;
constexpr std::size_t queueCapacity = 4096;  // some 400 rows' writes: the callback drains it every 10 ms
constexpr std::int64_t noStop = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t usPerSecond = 1000000;

struct Event {
    std::int64_t us = 0;
    int address = 0;
    std::uint8_t value = 0;
};

struct Live {
    // The board's side, under the board's lock.
    bool running = false;
    bool warned = false;
    SDL_AudioDeviceID device = 0;
    EventQueue<Event, queueCapacity> queue;
    std::atomic<std::int64_t> stopUs{noStop};  // the close time, once liveStop has come
    std::atomic<bool> faded{false};            // faded out and followed by silence

    Timing timing;  // set before the output starts

    // The audio thread's, from the output's start to its close.
    pit8254::Chip chip;
    audio::Speaker speaker;
    bool timed = false;
    std::int64_t originUs = 0;       // the board time of stream sample 0
    std::int64_t samples = 0;        // samples handed to the output
    std::int64_t takenTick = 0;      // OUT changes taken up to this tick of the stream
    std::int64_t fadeFrom = noStop;  // the stream sample where the fade begins
    int silentBlocks = 0;
    LiveStats stats;
};

// Never destroyed: the audio thread may still run while the process exits.
Live& live() {
    static Live* const instance = new Live;
    return *instance;
}

std::int64_t sampleTick(std::int64_t sample) { return sample * pit8254::clockHz / sampleRate; }

void takeEdges(Live& l, std::int64_t tick) {
    for (pit8254::Counter& counter : l.chip.counters) {
        pit8254::Edge edge;
        while (pit8254::takeEdge(counter, tick, edge)) audio::speakerEdge(l.speaker, edge.tick, edge.high);
    }
    l.takenTick = tick;
}

void countLatency(LiveStats& stats, std::int64_t us) {
    const std::int64_t bin = std::clamp<std::int64_t>(us / latencyBinUs, 0, latencyBins - 1);
    ++stats.latency[static_cast<std::size_t>(bin)];
    stats.latencyMaxUs = std::max(stats.latencyMaxUs, us);
}

// Once the close time is known: from its place in the stream the sound
// fades to silence, and after the silent blocks the output may close.
void fadeOut(Live& l, std::int16_t* out, std::int64_t first, std::int64_t count) {
    if (l.fadeFrom == noStop) {
        const std::int64_t stop = l.stopUs.load(std::memory_order_acquire);
        if (stop == noStop) return;
        l.fadeFrom = std::max((stop - l.originUs) * sampleRate / usPerSecond, first);
    }
    for (std::int64_t i = std::max<std::int64_t>(l.fadeFrom - first, 0); i < count; ++i) {
        const std::int64_t left = std::max<std::int64_t>(fadeSamples - (first + i - l.fadeFrom), 0);
        out[i] = static_cast<std::int16_t>(out[i] * left / fadeSamples);
    }
    if (first + count >= l.fadeFrom + fadeSamples && ++l.silentBlocks > silentBlocksBeforeClose) {
        l.faded.store(true, std::memory_order_release);
    }
}

void SDLCALL fill(void*, Uint8* bytes, int length) {
    Live& l = live();
    auto* out = reinterpret_cast<std::int16_t*>(bytes);
    const std::int64_t count = length / static_cast<int>(sizeof(std::int16_t));
    const std::int64_t now = platform::nowUs();
    const std::int64_t first = l.samples;

    const std::int64_t origin = now - l.timing.renderDelayUs - first * usPerSecond / sampleRate;
    if (!l.timed || origin < l.originUs) {
        l.originUs = origin;
    } else {
        l.originUs += (origin - l.originUs) / 4;
    }
    l.timed = true;

    // The block is complete once every edge up to the speaker's look-ahead
    // past its end is in.
    const std::int64_t endTick = sampleTick(first + count) + audio::speakerLatencyTicks(l.speaker);
    const std::int64_t firstTick = sampleTick(first);
    while (const Event* event = queueFront(l.queue)) {
        const std::int64_t due = pit8254::ticksAt(event->us - l.originUs);
        if (due > endTick) break;
        if (due < l.takenTick && first > 0) ++l.stats.late;
        const std::int64_t tick = std::max(due, l.takenTick);
        takeEdges(l, tick);
        pit8254::writeRegister(l.chip, event->address, event->value, tick);
        ++l.stats.events;
        if (due >= 0)
            countLatency(l.stats, now + (tick - firstTick) * usPerSecond / pit8254::clockHz - event->us);
        queuePop(l.queue);
    }
    takeEdges(l, endTick);
    const auto rendered = static_cast<std::int64_t>(
        audio::speakerRender(l.speaker, endTick, out, static_cast<std::size_t>(count)));
    std::fill(out + rendered, out + count, std::int16_t{0});
    l.samples = first + count;
    ++l.stats.callbacks;
    fadeOut(l, out, first, count);
}

// ALSA's library prints its own lines on standard error while SDL looks
// for an output, a dozen of them when there is no sound card; one line of
// ours says what matters. Where the library is not there, nothing happens.
void ignoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

void quietAlsa() {
    using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
    static void* const alsa = SDL_LoadObject("libasound.so.2");  // kept: the handler lives in it
    if (alsa == nullptr) return;
    if (void* set = SDL_LoadFunction(alsa, "snd_lib_error_set_handler")) {
        reinterpret_cast<int (*)(Handler)>(set)(ignoreAlsaError);
    }
}

void sayNoOutput(Live& l) {
    if (!l.warned) {
        std::fprintf(stderr, "virtual tone board: no audio output (%s); playing silently\n", SDL_GetError());
    }
    l.warned = true;
}

}  // namespace

void liveStart(double outputLevel, bool lowLatency) {
    Live& l = live();
    if (l.running) return;
    // Ctrl+C belongs to the program; SDL must not take it.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    quietAlsa();
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        sayNoOutput(l);
        return;
    }
    l.chip = pit8254::Chip{};
    audio::SpeakerOptions speaker;
    speaker.sampleRate = sampleRate;
    speaker.outputLevel = outputLevel;
    audio::speakerStart(l.speaker, speaker);
    queueClear(l.queue);
    l.stopUs.store(noStop);
    l.faded.store(false);
    l.timed = false;
    l.samples = 0;
    l.takenTick = 0;
    l.fadeFrom = noStop;
    l.silentBlocks = 0;
    l.stats = LiveStats{};
    l.timing = lowLatency ? lowLatencyTiming : usualTiming;

    // Asked to give no obtained format back, SDL converts this format to
    // whatever the device takes.
    SDL_AudioSpec wanted{};
    wanted.freq = sampleRate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = 1;
    wanted.samples = static_cast<Uint16>(l.timing.blockSamples);
    wanted.callback = fill;
    l.device = SDL_OpenAudioDevice(nullptr, 0, &wanted, nullptr, 0);
    if (l.device == 0) {
        sayNoOutput(l);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return;
    }
    l.running = true;
    l.stats.played = true;
    SDL_PauseAudioDevice(l.device, 0);
}

void liveWrite(std::int64_t us, int address, std::uint8_t value) {
    Live& l = live();
    if (l.running) queuePush(l.queue, Event{us, address, value});
}

void liveStop(std::int64_t us) {
    Live& l = live();
    if (!l.running) return;
    l.stopUs.store(us, std::memory_order_release);
    const Uint64 deadline = SDL_GetTicks64() + stopWaitMs;
    while (!l.faded.load(std::memory_order_acquire) && SDL_GetTicks64() < deadline) SDL_Delay(1);
    // Waits for the callback to return, and for the audio thread to end.
    SDL_CloseAudioDevice(l.device);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    l.stats.dropped = l.queue.dropped.load();
    l.running = false;
}

LiveStats liveStats() { return live().stats; }

}  // namespace pitchime::vboard
