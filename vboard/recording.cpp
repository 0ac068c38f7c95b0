#include "vboard/recording.h"

#include <algorithm>

namespace pitchime::audio {

namespace {

// Brings the sound up to `tick` (since sample 0): takes every OUT change up
// to and including it, so that a write at `tick` may follow, and renders what
// is complete. Long gaps go in steps the speaker can hold.
void advance(Recording& recording, std::int64_t tick) {
    const std::int64_t lead = speakerLeadTicks(recording.speaker);
    for (;;) {
        const std::int64_t until = std::min(tick, recording.renderedTick + lead);
        for (pit8254::Counter& counter : recording.chip.counters) {
            pit8254::Edge edge;
            while (pit8254::takeEdge(counter, recording.originTick + until, edge)) {
                speakerEdge(recording.speaker, edge.tick - recording.originTick, edge.high);
            }
        }
        std::size_t rendered = 0;
        do {
            rendered =
                speakerRender(recording.speaker, until, recording.block.data(), recording.block.size());
            wavAppend(recording.wav, recording.block.data(), rendered);
        } while (rendered == recording.block.size());
        recording.renderedTick = until;
        if (until >= tick) return;
    }
}

std::int64_t ticksSinceStart(const Recording& recording, std::int64_t us) {
    return std::max(pit8254::ticksAt(us) - recording.originTick, recording.renderedTick);
}

}  // namespace

bool recordingStart(Recording& recording, const char* path, std::int64_t us, const SpeakerOptions& options) {
    if (recording.file != nullptr) recordingFinish(recording, us);
    recording.file = std::fopen(path, "wb");
    if (recording.file == nullptr) return false;
    std::setvbuf(recording.file, recording.fileBuffer.data(), _IOFBF, recording.fileBuffer.size());
    recording.chip = pit8254::Chip{};
    speakerStart(recording.speaker, options);
    wavStart(recording.wav, recording.file, static_cast<std::uint32_t>(recording.speaker.sampleRate));
    recording.originTick = pit8254::ticksAt(us);
    recording.renderedTick = 0;
    return true;
}

void recordingWrite(Recording& recording, std::int64_t us, int address, std::uint8_t value) {
    if (recording.file == nullptr) return;
    const std::int64_t tick = ticksSinceStart(recording, us);
    advance(recording, tick);
    pit8254::writeRegister(recording.chip, address, value, recording.originTick + tick);
}

bool recordingFinish(Recording& recording, std::int64_t us) {
    if (recording.file == nullptr) return false;
    advance(recording, ticksSinceStart(recording, us) + speakerLatencyTicks(recording.speaker));
    bool ok = wavFinish(recording.wav);
    if (std::fclose(recording.file) != 0) ok = false;
    recording.file = nullptr;
    return ok;
}

}  // namespace pitchime::audio
