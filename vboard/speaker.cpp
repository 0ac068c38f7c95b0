#include "vboard/speaker.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <numbers>

#include "vboard/pit8254.h"

namespace pitchime::audio {

namespace {

constexpr std::int64_t clockHz = pit8254::clockHz;
constexpr std::int64_t ringMask = static_cast<std::int64_t>(speakerRingSamples) - 1;
constexpr std::int64_t halfTaps = stepTaps / 2;
// Cutoff of the step's low-pass, in cycles per sample: 21.6 kHz at 48 kHz.
// With a Blackman window over 32 taps the stop band starts near 0.55, so
// what folds back lands above 20 kHz or is some 70 dB down.
constexpr double cutoff = 0.45;

// Row `phase`, tap k: the share of a unit step that lands on sample
// s - halfTaps + 1 + k when the edge falls at s + phase / stepPhases. Each
// row sums to 1, so the mix settles exactly on the new level. The last row
// is the first one a sample later, so that every edge can blend two rows.
using StepKernel = std::array<float, (stepPhases + 1) * stepTaps>;

StepKernel makeStepKernel() {
    StepKernel kernel{};
    for (int phase = 0; phase <= stepPhases; ++phase) {
        std::array<double, stepTaps> row{};
        double sum = 0.0;
        for (int k = 0; k < stepTaps; ++k) {
            const double t = (k - halfTaps + 1) - static_cast<double>(phase) / stepPhases;
            const double x = 2.0 * cutoff * t;
            const double sinc = x == 0.0 ? 1.0 : std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
            const double w = 2.0 * std::numbers::pi * t / stepTaps;
            const double window = 0.42 + 0.5 * std::cos(w) + 0.08 * std::cos(2.0 * w);
            row[k] = sinc * window;
            sum += row[k];
        }
        for (int k = 0; k < stepTaps; ++k) kernel[phase * stepTaps + k] = static_cast<float>(row[k] / sum);
    }
    return kernel;
}

const StepKernel& stepKernel() {
    static const StepKernel kernel = makeStepKernel();
    return kernel;
}

// Rounds half away from zero and saturates.
std::int16_t toPcm(double value) {
    const double scaled = std::clamp(value * 32767.0, -32768.0, 32767.0);
    return static_cast<std::int16_t>(scaled + (scaled < 0.0 ? -0.5 : 0.5));
}

}  // namespace

void speakerStart(Speaker& speaker, const SpeakerOptions& options) {
    speaker.stepKernel = stepKernel().data();
    speaker.sampleRate = std::clamp<std::int64_t>(options.sampleRate, 8000, 192000);
    speaker.step = 2.0 * options.outputLevel;
    speaker.couplingPole =
        std::exp(-2.0 * std::numbers::pi * options.couplingHz / static_cast<double>(speaker.sampleRate));
    speaker.emitted = 0;
    speaker.couplingOut = 0.0;
    speaker.ring.fill(0.0);
}

namespace {

// Where an edge at `tick` lands, in samples scaled by clockHz. The kernel's
// taps are summed into the output one whole sample at a time, which puts a
// step's midpoint half a sample before the kernel's centre; the edge is
// moved half a sample later to make up for it.
std::int64_t scaledPosition(const Speaker& speaker, std::int64_t tick) {
    return std::max<std::int64_t>(tick, 0) * speaker.sampleRate + clockHz / 2;
}

}  // namespace

void speakerEdge(Speaker& speaker, std::int64_t tick, bool high) {
    const std::int64_t scaled = scaledPosition(speaker, tick);
    const std::int64_t sample = scaled / clockHz;
    // The edge lies between two rows of the kernel; blending them linearly
    // places it far more finely than the rows alone (whose steps of 1/256
    // sample would leave spurs some 65 dB down for the highest notes).
    const std::int64_t between = (scaled % clockHz) * stepPhases;
    const std::int64_t phase = between / clockHz;
    const double blend = static_cast<double>(between % clockHz) * (1.0 / clockHz);
    const double delta = high ? speaker.step : -speaker.step;
    const double early = delta * (1.0 - blend);
    const double late = delta * blend;
    const float* earlyRow = speaker.stepKernel + phase * stepTaps;
    const float* lateRow = earlyRow + stepTaps;

    const std::int64_t first = sample - halfTaps + 1;
    assert(first + stepTaps <= speaker.emitted + static_cast<std::int64_t>(speakerRingSamples));
    const std::int64_t start = first & ringMask;
    if (first >= speaker.emitted && start + stepTaps <= ringMask + 1) {
        double* at = &speaker.ring[static_cast<std::size_t>(start)];
        for (int k = 0; k < stepTaps; ++k) at[k] += early * earlyRow[k] + late * lateRow[k];
        return;
    }
    for (int k = 0; k < stepTaps; ++k) {
        // The run wraps round the ring, or the edge is right at the start
        // and reaches before the first sample still to render, which then
        // takes what would fall before it.
        const std::int64_t at = std::max(first + k, speaker.emitted);
        speaker.ring[at & ringMask] += early * earlyRow[k] + late * lateRow[k];
    }
}

std::size_t speakerRender(Speaker& speaker, std::int64_t tick, std::int16_t* out, std::size_t capacity) {
    const std::int64_t end = scaledPosition(speaker, tick) / clockHz - halfTaps + 1;
    if (end <= speaker.emitted) return 0;
    const std::size_t count = std::min(static_cast<std::size_t>(end - speaker.emitted), capacity);
    // The high-pass y = x - x1 + pole * y1 needs only the change of the mix
    // at each sample, x - x1, which is what the ring holds.
    const double pole = speaker.couplingPole;
    double y = speaker.couplingOut;
    std::int64_t n = speaker.emitted;
    for (std::size_t i = 0; i < count; ++i, ++n) {
        double& change = speaker.ring[n & ringMask];
        y = change + pole * y;
        change = 0.0;
        if (std::fabs(y) < 1e-20) y = 0.0;  // no denormals in long silences
        out[i] = toPcm(y);
    }
    speaker.emitted = n;
    speaker.couplingOut = y;
    return count;
}

std::int64_t speakerLeadTicks(const Speaker& speaker) {
    const std::int64_t samples = static_cast<std::int64_t>(speakerRingSamples) - 2 * stepTaps;
    return samples * clockHz / speaker.sampleRate;
}

std::int64_t speakerLatencyTicks(const Speaker& speaker) {
    return (halfTaps + 1) * clockHz / speaker.sampleRate + 1;
}

}  // namespace pitchime::audio
