// Reading one MTrk chunk's events into a File: the notes paired from note
// events, the controllers, tempos and track name. Used by midi_file.cpp.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "midi/midi_file.h"

namespace pitchime::midi {

// The sounding notes of the track being read: per key and channel a list,
// oldest first, of indices into File::notes, linked through `next`.
struct Pairing {
    std::vector<std::int32_t> next;  // one per note of File::notes; -1 ends a list
    std::array<std::int32_t, 16 * 128> head{};
    std::array<std::int32_t, 16 * 128> tail{};
    std::array<std::uint32_t, 16 * 128> owner{};  // track + 1 whose list it is; any other: empty
    std::array<std::int32_t, 16> sounding{};      // sounding notes per channel
};

// Where a track lies: `smf` is the whole Standard MIDI File (its end is the
// end of the file), [begin, end) the chunk's contents, `base` the offset of
// smf[0] in the bytes given to readFile.
struct TrackBytes {
    std::span<const std::uint8_t> smf;
    std::size_t begin = 0;
    std::size_t end = 0;
    std::size_t base = 0;
};

// Reads the events of track `track`, whose ticks start at `firstTick`, into
// `out` (notes with their ends, controllers, tempos unsorted, and its name
// into trackNames.back(), which the caller has added). Returns false with `error` when the file is
// refused; else `endTick` is the tick of its last event.
bool readTrack(const TrackBytes& bytes, std::uint16_t track, std::int64_t firstTick, Pairing& pairing,
               File& out, std::int64_t& endTick, Error& error);

}  // namespace pitchime::midi
