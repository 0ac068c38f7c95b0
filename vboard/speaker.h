// The board's analog side: the three 8254 outputs summed as a summing
// amplifier does, each swinging a fixed level around its midpoint, then
// through the coupling capacitor (a one-pole high-pass that takes the DC
// away), sampled to 16-bit PCM.
//
// The outputs are square waves whose edges fall anywhere between samples,
// and their harmonics reach far above half the sample rate. Each edge is
// therefore drawn as a band-limited step: the change is spread over 32
// samples by a windowed-sinc kernel placed at the edge's time to 1/256 of a
// sample, so high notes do not fold back as audible aliases. The speaker
// only needs the changes: it is linear, and which output changed does not
// matter.
//
// Time is counted in 8254 clock ticks since sample 0, and sample n is the
// sound at n / sampleRate seconds. A step is drawn half before and half after
// its edge, so a sample is final only when no later edge can reach it: the
// output trails the last tick rendered by speakerLatencyTicks.
//
// Nothing allocates after speakerStart; all state lives in the struct.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace pitchime::audio {

struct SpeakerOptions {
    std::int32_t sampleRate = 48000;  // 8000 to 192000; others are brought into that range
    double outputLevel = 0.3;         // each output swings this fraction of full scale up and down
    double couplingHz = 10.0;         // corner of the coupling capacitor's high-pass
};

inline constexpr int stepTaps = 32;
inline constexpr int stepPhases = 256;
inline constexpr std::size_t speakerRingSamples = 8192;  // a power of two

struct Speaker {
    const float* stepKernel = nullptr;  // stepPhases + 1 rows of stepTaps, shared by all speakers
    std::int64_t sampleRate = 48000;
    double step = 0.6;          // change of the mix when one output flips, in full scale
    double couplingPole = 1.0;  // the high-pass: y = x - x1 + pole * y1
    std::int64_t emitted = 0;   // index of the next sample to render
    double couplingOut = 0.0;   // the high-pass output at the last rendered sample
    // Change of the summed outputs at each sample not yet rendered, indexed
    // by sample number modulo the ring's size.
    std::array<double, speakerRingSamples> ring{};
};

void speakerStart(Speaker& speaker, const SpeakerOptions& options);

// One output changes at `tick` to `high`. Edges may come in any order, but
// none before the tick last rendered, nor more than speakerLeadTicks after it.
void speakerEdge(Speaker& speaker, std::int64_t tick, bool high);

// Renders the samples that no edge at or after `tick` can change any more,
// at most `capacity` of them, into `out`; returns how many. Call again while
// it fills `out`.
std::size_t speakerRender(Speaker& speaker, std::int64_t tick, std::int16_t* out, std::size_t capacity);

// How far past the tick last rendered an edge may lie.
std::int64_t speakerLeadTicks(const Speaker& speaker);

// Rendering up to tick T completes the samples before T - speakerLatencyTicks.
std::int64_t speakerLatencyTicks(const Speaker& speaker);

}  // namespace pitchime::audio
