// A Standard MIDI File reader: the bytes of a .mid file (or of a RIFF RMID
// wrapper around one) to the notes, controller changes, pitch bends and
// tempo changes it holds, each at its absolute tick. It never fails on what real players
// accept, and refuses what cannot be read, naming the byte where reading
// stopped.
//
// Tolerated: formats 0, 1 and 2 (the patterns of format 2 follow one
// another in time: each track's ticks start where the previous track
// ended), running status also across meta and system-exclusive events
// (only channel messages set it), note-on with velocity 0 as a note-off,
// a key struck again while it sounds, a missing end-of-track, a chunk
// length that disagrees with its contents (reading stops at the chunk's
// end or at its end-of-track event, whichever comes first), unknown chunks
// (skipped), a RIFF RMID file (its "data" chunk is read), a file cut short
// inside a track (see File::cutTrack).
//
// How the events become notes: as a keyboard and a synthesizer play them,
// one stream per channel. The events of every track are taken in time
// order (at one tick, track by track, each in file order), so a key's
// events pair across the tracks of its channel, as a synthesizer that
// hears the merged tracks pairs them:
// - A key sounds at most once on its channel. A note-on of a key that
//   sounds ends the earlier note there (the key is struck again) and
//   starts a new one; two note-ons of a key at one tick are one note.
// - A note-off ends the key's note. At the tick of a strike it is taken as
//   the struck note's own off: a note-on and a note-off of one key at one
//   tick, in either order, end the earlier note and start a new one. With
//   no earlier note they make a note of length 0, which never swallows the
//   next one. A note-off with nothing sounding is ignored.
// - Controllers 120 (all sound off) and 123 (all notes off) end every note
//   of their channel that started before their tick.
// - Notes still sounding when their track ends end at its last event's tick.
// - Kept in File::controllers: 64 (sustain), 120, 121 (reset all
//   controllers), 123, and those that set the pitch bend range: 101 and 100
//   (registered parameter, 0 0 is the bend range), 99 and 98 (a
//   non-registered one, which data entry then sets instead), 6 and 38 (data
//   entry, semitones and cents). Pitch bends are kept in File::bends. Other
//   controllers, program changes and aftertouch are read and dropped.
// - Meta events: 0x51 tempo (3 bytes; one of another length is ignored, as
//   players ignore it), 0x2F end of track, 0x03 track name (the first one);
//   the others, and system-exclusive events (F0 and F7, with their
//   variable-length size), are skipped. System common and real-time bytes
//   (F1 to F6, F8 to FE) as events are skipped with their data bytes.
// - A status byte where a channel message's data byte belongs drops that
//   message and starts the next event, at the same tick, as players do.
// - The header's track count is how many track chunks are read; bytes after
//   them are ignored, and a file that ends cleanly before them has fewer.
// - Every event is read whole: one that needs bytes past the end of the
//   file is where the file was cut short (a download that stopped); one
//   that only passes the end of its chunk (the chunk's length was too
//   short) ends the track before it.
// - A file that ends inside a track, in an event, between events or in a
//   track's chunk header, is read up to there: File::cutAt and cutTrack
//   say where, and what was read before it is kept as in a whole file.
//
// Refused: a variable-length number of more than 4 bytes, a division of 0
// (ticks per quarter, or ticks per frame), an SMPTE frame rate other than
// 24, 25, 29 (29.97) or 30, a tempo of 0, a format other than 0, 1 or 2, a
// header chunk shorter than 6 bytes, a data byte with no running status
// before it, a header or a chunk other than a track that runs past the end
// of the file, a file that holds no MThd chunk where one must be (at its
// start, or at the start of the RIFF data chunk).
//
// Memory and time are linear in the file's size: each note, controller and
// pitch bend takes at least 3 bytes of the file, so a file of N bytes
// yields at most N / 3 of them together, and nothing is read outside the
// bytes given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pitchime::midi {

// One sounding note: from the note-on to its note-off (or to the end of its
// track when none comes, or to an all-notes-off / all-sound-off controller
// on its channel).
struct Note {
    std::int64_t startTick = 0;
    std::int64_t endTick = 0;   // >= startTick
    std::uint16_t track = 0;    // index of its MTrk chunk, from 0
    std::uint8_t channel = 0;   // 0 to 15 (9 is the percussion channel)
    std::uint8_t key = 0;       // 0 to 127
    std::uint8_t velocity = 0;  // 1 to 127
};

// A controller change that the importer or a player acts on: 64 sustain
// pedal, 121 reset all controllers (which lifts the pedal), 120 and 123
// (which the reader has already applied to the notes), and those that set
// the pitch bend range (see the top of this file).
struct Controller {
    std::int64_t tick = 0;
    std::uint16_t track = 0;
    std::uint8_t channel = 0;
    std::uint8_t number = 0;
    std::uint8_t value = 0;
};

// A pitch bend: 0 to 16383, 8192 is no bend. How far the largest bend
// goes is the channel's bend range, set through controllers 101, 100, 6
// and 38 (two semitones until a file sets it).
struct PitchBend {
    std::int64_t tick = 0;
    std::uint16_t track = 0;
    std::uint8_t channel = 0;
    std::uint16_t value = 8192;
};

struct Tempo {
    std::int64_t tick = 0;
    std::uint32_t usPerQuarter = 500000;  // never 0
};

// Where a tempo change falls in time: `us` whole microseconds and
// `fraction` / ticksPerQuarter of one more (SMPTE files have none).
struct TempoTime {
    std::int64_t us = 0;
    std::int64_t fraction = 0;
};

struct File {
    int format = 0;                     // 0, 1 or 2
    int trackCount = 0;                 // MTrk chunks read
    std::uint16_t ticksPerQuarter = 0;  // metrical division; 0 when SMPTE
    int smpteFramesPerSecond = 0;       // SMPTE division: 24, 25, 29 (29.97) or 30; 0 when metrical
    int ticksPerFrame = 0;
    std::vector<Note> notes;              // by startTick, then track, then file order
    std::vector<Controller> controllers;  // by tick, then file order
    std::vector<PitchBend> bends;         // by tick, then file order
    std::vector<Tempo> tempos;            // by tick; every track's tempo events in one map
    std::vector<std::string> trackNames;  // one per track, "" when it has none
    std::int64_t endTick = 0;             // the latest tick of any event
    // One per entry of `tempos`, filled by readFile, so that tickToUs takes
    // O(log tempos); when the sizes differ, tickToUs walks `tempos` itself.
    std::vector<TempoTime> tempoTimes;
    // Where the file ends inside a track, cut short: the byte where reading
    // stopped (the start of the event or chunk header the file cuts, or
    // the end of the file) and that track, from 0; -1 when the file is whole.
    std::size_t cutAt = 0;
    int cutTrack = -1;
};

// Where and why reading stopped.
struct Error {
    std::size_t offset = 0;  // byte offset in the file
    std::string what;        // e.g. "variable-length number longer than 4 bytes"
};

// Reads `bytes`; returns true and fills `out`, or false and fills `error`.
bool readFile(std::span<const std::uint8_t> bytes, File& out, Error& error);

// Microseconds from the start to `tick`, through the tempo map (or the
// SMPTE division, where tempo events do not count), rounded down: exact to
// the microsecond, without overflow for any tick a file can hold (a time
// past the int64 range reads as its largest value). 500000 us per quarter
// holds until the first tempo change; `tempos` must be sorted by tick.
std::int64_t tickToUs(const File& file, std::int64_t tick);

}  // namespace pitchime::midi
