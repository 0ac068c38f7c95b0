// A streaming writer of 16-bit mono PCM WAV files: the header goes out first
// with the sizes of an empty file, samples follow as they come, and the
// sizes are filled in when the stream is finished. Bytes are little-endian
// on every host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace pitchime::audio {

struct WavWriter {
    std::FILE* file = nullptr;
    std::uint32_t dataBytes = 0;
    bool failed = false;  // a write or seek failed, or the file reached the format's 4 GiB limit
};

// Writes the header at the start of `file`, which must be open for binary
// writing and seekable, and makes `writer` append to it. Writing the header
// now also gives the stream its buffer, so later appends do not allocate.
void wavStart(WavWriter& writer, std::FILE* file, std::uint32_t sampleRate);

// Appends samples. Samples past the format's size limit are dropped.
void wavAppend(WavWriter& writer, const std::int16_t* samples, std::size_t count);

// Fills in the sizes in the header and flushes. The file stays open and
// belongs to the caller. Returns false if anything failed since wavStart.
bool wavFinish(WavWriter& writer);

}  // namespace pitchime::audio
