#include "render/tones.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "vboard/pit8254.h"

namespace pitchime::render {

namespace {

// The count `counter` sounds as a square wave: the one it will take at the
// end of its current half-cycle if one is waiting, else the one it runs
// with; 0 when it sounds none (stopped, waiting for a count, or not in
// square-wave mode). The only place that reads the model's state.
std::int32_t squareWaveCount(const pit8254::Counter& counter) {
    if (counter.mode != 3) return 0;
    const std::int32_t count = counter.cr != 0 ? counter.cr : counter.ce;
    return count >= 2 ? count : 0;
}

}  // namespace

std::vector<Tone> tonesOf(std::span<const vboard::RegisterWrite> writes, std::int64_t endUs) {
    pit8254::Chip chip;
    std::array<Tone, counters> sounding{};  // count 0: silent
    std::vector<Tone> tones;
    const auto end = [&](int c, std::int64_t us) {
        Tone& tone = sounding[c];
        if (tone.count != 0 && us > tone.startUs) {
            tone.endUs = us;
            tones.push_back(tone);
        }
        tone.count = 0;
    };
    for (const vboard::RegisterWrite& write : writes) {
        // The model takes a write only once it has gone past every edge before it.
        const std::int64_t tick = pit8254::ticksAt(write.tUs);
        pit8254::Edge edge;
        for (pit8254::Counter& counter : chip.counters) {
            while (pit8254::takeEdge(counter, tick, edge)) {
            }
        }
        pit8254::writeRegister(chip, write.address, write.value, tick);
        for (int c = 0; c < counters; ++c) {
            const std::int32_t count = squareWaveCount(chip.counters[c]);
            if (count == sounding[c].count) continue;
            end(c, write.tUs);
            if (count != 0) sounding[c] = Tone{c, write.tUs, 0, count};
        }
    }
    for (int c = 0; c < counters; ++c) end(c, endUs);
    std::stable_sort(tones.begin(), tones.end(), [](const Tone& a, const Tone& b) {
        return a.startUs != b.startUs ? a.startUs < b.startUs : a.counter < b.counter;
    });
    return tones;
}

double toneHz(std::int32_t count) { return static_cast<double>(pit8254::clockHz) / count; }

int nearestKey(std::int32_t count) {
    const long key = std::lround(69.0 + 12.0 * std::log2(toneHz(count) / 440.0));
    return static_cast<int>(std::clamp(key, 0L, 127L));
}

}  // namespace pitchime::render
