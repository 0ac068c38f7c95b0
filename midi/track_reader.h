// Reading one MTrk chunk's events into a File, and pairing the note events
// of every track into notes. Used by midi_file.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "midi/midi_file.h"

namespace pitchime::midi {

// A note-on, note-off, or a channel's all-notes-off (controllers 120 and
// 123), kept until every track is read.
struct NoteEvent {
    std::int64_t tick = 0;
    std::uint16_t track = 0;
    std::uint8_t channel = 0;
    std::uint8_t key = 0;
    std::uint8_t velocity = 0;  // 0: a note-off
    bool allOff = false;
};

// Where a track lies: `smf` is the whole Standard MIDI File (its end is the
// end of the file), [begin, end) the chunk's contents as its length says
// (`end` may lie past the end of the file), `base` the offset of smf[0] in
// the bytes given to readFile.
struct TrackBytes {
    std::span<const std::uint8_t> smf;
    std::size_t begin = 0;
    std::size_t end = 0;
    std::size_t base = 0;
};

// Reads the events of track `track`, whose ticks start at `firstTick`: its
// note events onto `events`, its controllers, bends and tempos (unsorted)
// and its name (into trackNames.back(), which the caller has added) into
// `out`. Returns false with `error` when the file is refused; else
// `endTick` is the tick of its last event, and out.cutTrack is set when
// the file ends inside the track.
bool readTrack(const TrackBytes& bytes, std::uint16_t track, std::int64_t firstTick,
               std::vector<NoteEvent>& events, File& out, std::int64_t& endTick, Error& error);

// The notes of `events` (every track's, each track's in file order), paired
// as the top of midi_file.h says, appended to out.notes by start, then
// track, then file order. `trackEnds` holds each track's last tick.
void pairNotes(std::vector<NoteEvent>& events, const std::vector<std::int64_t>& trackEnds, File& out);

}  // namespace pitchime::midi
