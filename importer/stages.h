// The stages of planning a score, shared by the importer's own files.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "importer/importer.h"

namespace pitchime::importer {

// A note as the importer sees it: in microseconds through the tempo map,
// with its pedal-held tail, at the pitch it will be played at.
struct Tone {
    std::int64_t startUs = 0;
    std::int64_t keyEndUs = 0;  // where its key was let go
    std::int64_t endUs = 0;     // where it stops sounding (pedal, >= keyEndUs)
    std::uint32_t note = 0;     // index in midi::File::notes
    std::uint8_t pitch = 0;     // as played
    bool drum = false;
};

struct Prepared {
    std::vector<Tone> tones;  // by startUs, then the file's order
    std::vector<Entry> moves;
    std::size_t leftOut = 0;
    int transpose = 0;
    std::int64_t lengthUs = 0;
    std::array<std::size_t, 16> bends{};  // pitch bends not played, by channel
};

// Filters, times, pedal and range.
Prepared prepare(const midi::File& file, const Options& options);

// The grid: the length of the unit every time is rounded to, as the
// sixty-fourth note of a BPM.
struct Grid {
    std::int32_t bpm = 0;
    std::int32_t sixtyFourthMs = 0;
    std::int64_t unitUs = 0;  // one step of the player: a sixty-fourth, or two for the trill player
};

Grid chooseGrid(const std::vector<Tone>& tones, const Options& options);

// The nearest whole unit to `us`.
inline std::int64_t toUnits(std::int64_t us, std::int64_t unitUs) { return (us + unitUs / 2) / unitUs; }

// How a span of units is cut into rows the player can play.
struct RowSpans {
    std::vector<std::int32_t> firstSpan;  // by span up to 2 × largest: the first row's units
    std::vector<std::int32_t> rowsFor;    // by span up to 2 × largest: fewest rows
    std::int32_t largest = 0;
    std::array<std::int32_t, 65> lengthValue{};  // by units of one row, 0 if none
};
const RowSpans& rowSpans(bool trill);
std::int64_t rowsFor(const RowSpans& spans, std::int64_t units);
std::int32_t nextSpan(const RowSpans& spans, std::int64_t units);

}  // namespace pitchime::importer
