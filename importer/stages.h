// The stages of planning a score, in the order plan() runs them: prepare
// the tones, choose the grid, allocate the voices, write the rows. Shared by
// the importer's own files.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "importer/importer.h"
#include "score/play_rules.h"
#include "voicing/ranking.h"

namespace pitchime::importer {

inline const PlayRules& rulesFor(const Options& options) {
    return options.trill ? trillRules : threeVoiceRules;
}

// ---- Tones: filters, times, pedal and range ----

// A note as the importer sees it: in microseconds through the tempo map,
// with its pedal-held tail, at the pitch it will be played at.
struct Tone {
    std::int64_t startUs = 0;
    std::int64_t keyEndUs = 0;  // where its key was let go
    std::int64_t endUs = 0;     // where it stops sounding (pedal, >= keyEndUs)
    std::uint16_t track = 0;    // as in the file
    std::uint8_t channel = 0;
    std::uint8_t key = 0;
    std::uint8_t velocity = 0;
    std::uint8_t pitch = 0;  // as played
    bool drum = false;
    bool melody = false;  // of the part whose notes rank first
};

// The line of the report for a tone that is not played as written.
inline Entry entryFor(const Tone& t, Fate fate) {
    return Entry{.startUs = t.startUs,
                 .track = t.track,
                 .channel = t.channel,
                 .key = t.key,
                 .played = t.pitch,
                 .fate = fate,
                 .drum = t.drum};
}

struct Prepared {
    std::vector<Tone> tones;  // by startUs, then the file's order
    std::vector<Entry> moves;
    std::size_t leftOut = 0;
    int transpose = 0;
    std::int64_t lengthUs = 0;
    std::array<std::size_t, 16> bends{};  // pitch bends not played, by channel
    std::string melody;                   // the part ranked first and why
};

Prepared prepare(const midi::File& file, const Options& options);

// ---- The grid: the unit every time is rounded to ----

// The length of the unit as the sixty-fourth note of a BPM.
struct Grid {
    std::int32_t bpm = 0;
    std::int32_t sixtyFourthMs = 0;
    std::int64_t unitUs = 0;  // one step of the player: a sixty-fourth, or two for the trill player
};

Grid chooseGrid(const std::vector<Tone>& tones, const Options& options);

// The nearest whole unit to `us`.
inline std::int64_t toUnits(std::int64_t us, std::int64_t unitUs) { return (us + unitUs / 2) / unitUs; }

// ---- Allocation: which tones get one of the player's voices ----

// A stretch of one voice, in units: a note, or the silence before a note
// repeated at the same pitch.
struct Segment {
    std::int64_t start = 0;
    std::int64_t end = 0;
    std::uint8_t pitch = 0;
    bool gap = false;
};

struct Allocation {
    std::vector<std::vector<Segment>> voices;  // the voices used
    std::vector<Entry> entries;                // tones cut short, dropped or merged
    std::size_t kept = 0;                      // tones played, whole or cut
    std::size_t pedalCut = 0;                  // tones whose pedal hold ended early
    std::size_t late = 0;                      // tones started when a voice freed
    std::int64_t maxOnsetErrorUs = 0;          // over the tones played on time
};

// A tone's times in units of the grid.
struct GridTone {
    std::int64_t start = 0;
    std::int64_t keyEnd = 0;
    std::int64_t end = 0;
};

// Which tones start at their time, planned over the whole file.
struct Plan {
    std::vector<bool> planned;         // by tone
    std::vector<ranking::Rank> rank;   // by tone: melody, top, bottom or fresh
    std::vector<std::int64_t> starts;  // the planned tones' starts, in order
};

// The lines of the file (the melody's, the top, the bass) and the tones
// that start at their time: those whose first `shortest` units (the
// melody's line: all of it) fit the voices for the most worth.
Plan planTones(const std::vector<Tone>& tones, const std::vector<GridTone>& grid, std::int64_t shortest,
               std::int64_t unitUs, int voices, bool bassFirst);

// A note's first moments, in units, and what keeping it is worth.
struct Window {
    std::int64_t start = 0;
    std::int64_t end = 0;  // > start
    std::int64_t worth = 0;
};

// Of `windows`, the set of most worth of which never more than `voices`
// overlap (importer/choose.cpp).
std::vector<bool> chooseWindows(const std::vector<Window>& windows, int voices);

// Places the tones on the grid in the voices the player has.
Allocation allocate(const std::vector<Tone>& tones, const Grid& grid, const Options& options);

// ---- Rows: the score's text ----

// How a span of units is cut into rows the player can play.
struct RowSpans {
    std::vector<std::int32_t> firstSpan;  // by span up to 2 × largest: the first row's units
    std::vector<std::int32_t> rowsFor;    // by span up to 2 × largest: fewest rows
    std::int32_t largest = 0;
    std::array<std::int32_t, 65> lengthValue{};  // by units of one row, 0 if none
};
const RowSpans& rowSpans(const PlayRules& rules);
std::int64_t rowsFor(const RowSpans& spans, std::int64_t units);
std::int32_t nextSpan(const RowSpans& spans, std::int64_t units);

struct Rows {
    std::string text;  // the score
    std::size_t count = 0;
    std::int32_t part = 0;
    std::int64_t endUnits = 0;  // where the closing silence starts
};

// The voices in columns, highest line first, and a row for every stretch in
// which no voice changes, cut into lengths the player has, then a closing
// silence.
Rows writeRows(const std::vector<std::vector<Segment>>& voices, const Grid& grid, const Options& options);

}  // namespace pitchime::importer
