// Turning the notes of a MIDI file into a score the players can play: one
// tempo map, a grid of whole-millisecond sixty-fourth notes chosen to fit
// the music, at most three voices (two for the trill player), every
// note in the board's range. Pure functions over a read midi::File: no I/O.
#pragma once

#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

#include "midi/midi_file.h"
#include "voicing/melody.h"

namespace pitchime::importer {

inline constexpr int percussionChannel = 9;  // channel 10 as users count

struct Options {
    bool trill = false;          // a score for pitchime-trill: two voices, alternating
    int gapMs = 25;              // silence before a note repeated at the same pitch
    int transpose = 0;           // semitones, applied to every melodic note
    bool autoTranspose = false;  // whole octaves chosen to fit the most notes
    bool drums = false;          // channel 10 as short blips in free voices
    int bpm = 0;                 // 0: chosen; else this BPM's grid is used
    // The part whose notes rank first: found in the file (melodyTrack -1),
    // none (-2), or this track from 0 with melodyChannel 0 to 15 or -1 for
    // all of its channels.
    int melodyTrack = -1;
    int melodyChannel = -1;
    // Imported or not, by track index (every one a file can have) and by
    // channel, from 0.
    std::bitset<65536> tracks = std::bitset<65536>().set();
    std::bitset<16> channels = std::bitset<16>().set();
};

// Whether the notes of `track` and `channel` are imported with `options`:
// those of the tracks and channels chosen, percussion only with drums.
bool imported(const Options& options, int track, int channel);

// What happened to one note that is not played as the file has it.
enum class Fate : std::uint8_t {
    moved,    // played at another octave
    dropped,  // not played: no voice was free for it
    cut,      // played, but ended early: its voice went to another note
    merged,   // the same pitch already sounded at that moment
    tooLate,  // not played: it starts after the longest tune imported
    late,     // played, but started late: no voice was free at its start
};

struct Entry {
    std::int64_t startUs = 0;  // the note's time in the file
    std::int64_t lostUs = 0;   // cut: how much of it was lost; late: how late it started
    std::uint16_t track = 0;
    std::uint8_t channel = 0;
    std::uint8_t key = 0;     // as in the file
    std::uint8_t played = 0;  // moved: the note played instead
    std::int8_t octaves = 0;  // moved: octaves added after any transposition
    Fate fate = Fate::dropped;
    bool drum = false;
    std::uint8_t sounding = 0;  // dropped: voices busy with other notes
};

struct Summary {
    std::size_t notesRead = 0;
    std::size_t leftOut = 0;  // by --tracks, --channels, or percussion without --drums
    std::size_t kept = 0;     // played, moved or not, whole or cut
    std::size_t moved = 0;
    std::size_t cut = 0;
    std::size_t pedalCut = 0;  // notes whose pedal hold ended early (not listed)
    std::size_t dropped = 0;
    std::size_t merged = 0;
    int transpose = 0;  // semitones applied
    std::int32_t bpm = 0;
    std::int32_t sixtyFourthMs = 0;
    std::size_t rows = 0;
    int voices = 0;                    // voice columns of the score
    std::int64_t maxOnsetErrorUs = 0;  // over the notes played
    std::int64_t lengthUs = 0;         // the file's music: to the end of its last note
    std::int64_t scoreLengthUs = 0;    // the score's rows, to the final silence
    // Pitch bends of the parts imported, by channel: the board plays every
    // note at its key's pitch. A bend counts where it moves the pitch.
    std::array<std::size_t, 16> pitchBends{};
    std::size_t late = 0;  // kept, but started when a voice freed
    std::string melody;    // the part ranked first and why, "" when none
};

struct Result {
    std::string refusal;         // non-empty: nothing to write, and why
    std::string score;           // the score's text, LF line ends
    std::vector<Entry> entries;  // in the order of the notes' times
    Summary summary;
};

// The part of `file` whose notes rank first with `options`: the one named,
// or the one found among the parts imported.
voicing::Melody melodyFor(const midi::File& file, const Options& options);

// Plans the score for `file`. Never fails on a file the reader accepted
// except when nothing is left to play.
Result plan(const midi::File& file, const Options& options);

// "" when `scoreText` loads and passes the checks of the player it is for,
// else the checker's line.
std::string checkPlayable(const std::string& scoreText, bool trill);

// One line each, without line ends.
std::string summaryLine(const Summary& summary);
std::string entryLine(const Entry& entry);
std::string timeText(std::int64_t us);  // m:ss.mmm

// What --info prints: per track and channel the notes, their range, the
// most at once and what importing with `options` would lose.
std::string describe(const midi::File& file, const Options& options);

}  // namespace pitchime::importer
