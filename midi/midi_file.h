// A Standard MIDI File reader: the bytes of a .mid file (or of a RIFF RMID
// wrapper around one) to the notes, controller changes and tempo changes it
// holds, each at its absolute tick. It never fails on what real players
// accept, and refuses what cannot be read, naming the byte where reading
// stopped.
//
// Tolerated: formats 0, 1 and 2 (the patterns of format 2 follow one
// another in time), running status also across meta and system-exclusive
// events (only channel messages set it), note-on with velocity 0 as a
// note-off, overlapping notes of one key on one channel paired first in,
// first out, a missing end-of-track, a chunk length that disagrees with its
// contents (reading stops at the chunk's end or at its end-of-track event,
// whichever comes first), unknown chunks (skipped).
//
// Refused: a variable-length number of more than 4 bytes, a division of 0,
// a tempo of 0, anything that runs past the end of the file, a file that
// holds no MThd chunk where one must be.
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
    std::int64_t endTick = 0;  // >= startTick
    std::uint16_t track = 0;   // index of its MTrk chunk, from 0
    std::uint8_t channel = 0;  // 0 to 15 (9 is the percussion channel)
    std::uint8_t key = 0;      // 0 to 127
    std::uint8_t velocity = 0;  // 1 to 127
};

// A controller change that the importer acts on (64 sustain pedal; the
// reader itself applies 120 and 123 to the notes).
struct Controller {
    std::int64_t tick = 0;
    std::uint16_t track = 0;
    std::uint8_t channel = 0;
    std::uint8_t number = 0;
    std::uint8_t value = 0;
};

struct Tempo {
    std::int64_t tick = 0;
    std::uint32_t usPerQuarter = 500000;  // never 0
};

struct File {
    int format = 0;                  // 0, 1 or 2
    int trackCount = 0;              // MTrk chunks read
    std::uint16_t ticksPerQuarter = 0;  // metrical division; 0 when SMPTE
    int smpteFramesPerSecond = 0;       // SMPTE division: 24, 25, 29 (29.97) or 30; 0 when metrical
    int ticksPerFrame = 0;
    std::vector<Note> notes;              // by startTick, then track, then file order
    std::vector<Controller> controllers;  // by tick, then file order
    std::vector<Tempo> tempos;            // by tick; every track's tempo events in one map
    std::vector<std::string> trackNames;  // one per track, "" when it has none
    std::int64_t endTick = 0;             // the latest tick of any event
};

// Where and why reading stopped.
struct Error {
    std::size_t offset = 0;  // byte offset in the file
    std::string what;        // e.g. "variable-length number longer than 4 bytes"
};

// Reads `bytes`; returns true and fills `out`, or false and fills `error`.
bool readFile(std::span<const std::uint8_t> bytes, File& out, Error& error);

// Microseconds from the start to `tick`, through the tempo map (or the
// SMPTE division), exact to the microsecond, without overflow for any tick
// a file can hold.
std::int64_t tickToUs(const File& file, std::int64_t tick);

}  // namespace pitchime::midi
