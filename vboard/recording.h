// The audio of a virtual board run: the board's register writes go into an
// 8254 model, whose outputs drive the speaker, whose samples stream into a
// WAV file. The board feeds every register write with the time it was made;
// sound is rendered up to each write as it comes, so the file grows during
// the run and memory stays fixed.
//
// Not thread-safe: the board must make sure a write and the finish (which
// may come from the interrupt release) do not run at once. A Recording is
// large (some 140 KB) and must stay where it is from start to finish: keep
// it in static storage.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>

#include "vboard/pit8254.h"
#include "vboard/speaker.h"
#include "vboard/wav.h"

namespace pitchime::audio {

inline constexpr std::size_t recordingBlockSamples = 4096;

struct Recording {
    pit8254::Chip chip;
    Speaker speaker;
    WavWriter wav;
    std::FILE* file = nullptr;      // open between start and finish
    std::int64_t originTick = 0;    // the clock tick of sample 0
    std::int64_t renderedTick = 0;  // ticks since sample 0 that have been rendered
    std::array<std::int16_t, recordingBlockSamples> block{};
    // The file's stream buffer: large, so that writing costs few system
    // calls, and here, so that opening the file does not allocate one.
    std::array<char, 1 << 16> fileBuffer{};
};

// Creates (or truncates) the WAV file at `path` and starts the recording at
// `us`, the time of sample 0, with every counter silent. Returns false, with
// nothing open, when the file cannot be created. A recording still open is
// finished at `us` first.
bool recordingStart(Recording& recording, const char* path, std::int64_t us,
                    const SpeakerOptions& options = {});

// One 8254 register write (address 0 to 3) made at `us`: renders the sound
// up to then and applies it. Times must not go backwards; a time earlier
// than one already rendered is taken as that one. Does nothing unless started.
void recordingWrite(Recording& recording, std::int64_t us, int address, std::uint8_t value);

// Renders the sound up to `us` (the counters go on sounding until then),
// completes the WAV header and closes the file. Returns false if the
// recording was not started or any write to the file failed.
bool recordingFinish(Recording& recording, std::int64_t us);

}  // namespace pitchime::audio
