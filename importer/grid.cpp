// The grid every time is rounded to: the sixty-fourth note of a whole BPM,
// which the players make a whole number of milliseconds.
#include <algorithm>
#include <cstdlib>
#include <limits>

#include "importer/stages.h"
#include "score/check.h"

namespace pitchime::importer {

namespace {

// Candidate sixty-fourth notes run from 1 ms to this. A coarser step would
// make the silence before a repeated note, which is at least one step,
// longer than a listener takes for articulation.
constexpr std::int32_t coarsestMs = 30;
// The trill player sounds each pitch for one sixty-fourth at a time;
// shorter than this, low notes would not get through one cycle.
constexpr std::int32_t finestTrillMs = 5;
// Onsets are kept within this of the file's times whenever a grid allows.
constexpr std::int64_t onsetToleranceUs = 5000;
constexpr double errorPerRowUs = 2000;

struct Candidate {
    std::int64_t maxOnsetUs = 0;
    double cost = 0;
};

// Timing error against rows: every 2 ms of error at one note's start or
// end costs as much as one more row, each of which adds the time of its
// register writes when played.
Candidate measure(const std::vector<std::int64_t>& starts, const std::vector<std::int64_t>& events,
                  std::size_t repeats, const RowSpans& spans, std::int64_t unitUs, const Options& options) {
    Candidate c;
    double errorUs = 0;
    for (std::int64_t t : starts) {
        const std::int64_t e = std::llabs(toUnits(t, unitUs) * unitUs - t);
        c.maxOnsetUs = std::max(c.maxOnsetUs, e);
        errorUs += static_cast<double>(e);
    }
    std::int64_t rows = 1;  // the closing silence
    std::int64_t at = 0;
    for (std::int64_t t : events) {
        const std::int64_t u = toUnits(t, unitUs);
        errorUs += static_cast<double>(std::llabs(u * unitUs - t));
        if (u > at) rows += rowsFor(spans, u - at);
        at = u;
    }
    const std::int64_t gapUs = std::int64_t{options.gapMs} * 1000;
    const std::int64_t gapUnits = std::max<std::int64_t>(1, toUnits(gapUs, unitUs));
    errorUs += static_cast<double>(repeats) * static_cast<double>(std::llabs(gapUnits * unitUs - gapUs));
    c.cost = static_cast<double>(rows) + errorUs / errorPerRowUs;
    return c;
}

Grid gridOf(std::int32_t bpm, const Options& options) {
    Grid g;
    g.bpm = bpm;
    g.sixtyFourthMs = sixtyFourthMsFor(bpm);
    g.unitUs = std::int64_t{g.sixtyFourthMs} * 1000 * stepSixtyFourths(rulesFor(options));
    return g;
}

}  // namespace

Grid chooseGrid(const std::vector<Tone>& tones, const Options& options) {
    if (options.bpm > 0) return gridOf(options.bpm, options);

    std::vector<std::int64_t> starts;
    std::vector<std::int64_t> ends;
    starts.reserve(tones.size());
    ends.reserve(tones.size());
    // Notes that start where the same pitch ends: each needs the silence
    // of the gap, which the grid rounds.
    std::size_t repeats = 0;
    std::array<std::int64_t, 128> lastEnd;
    lastEnd.fill(std::numeric_limits<std::int64_t>::min() / 2);
    for (const Tone& t : tones) {
        starts.push_back(t.startUs);
        ends.push_back(t.endUs);
        if (std::llabs(lastEnd[t.pitch] - t.startUs) <= 2000) ++repeats;
        lastEnd[t.pitch] = std::max(lastEnd[t.pitch], t.endUs);
    }
    std::sort(ends.begin(), ends.end());
    std::vector<std::int64_t> events(starts.size() + ends.size());
    std::merge(starts.begin(), starts.end(), ends.begin(), ends.end(), events.begin());

    const RowSpans& spans = rowSpans(rulesFor(options));
    Grid best;
    Candidate bestFit;
    bool found = false;
    for (std::int32_t ms = coarsestMs; ms >= (options.trill ? finestTrillMs : 1); --ms) {
        const std::int32_t bpm = 3750 / ms;  // the fastest BPM with this sixty-fourth
        if (sixtyFourthMsFor(bpm) != ms) continue;
        const Grid g = gridOf(bpm, options);
        const Candidate c = measure(starts, events, repeats, spans, g.unitUs, options);
        const bool fits = c.maxOnsetUs <= onsetToleranceUs;
        const bool bestFits = found && bestFit.maxOnsetUs <= onsetToleranceUs;
        bool better = !found;
        if (found && fits != bestFits) better = fits;
        if (found && fits == bestFits)
            better = fits ? c.cost < bestFit.cost : c.maxOnsetUs < bestFit.maxOnsetUs;
        if (better) {
            best = g;
            bestFit = c;
            found = true;
        }
    }
    return best;
}

}  // namespace pitchime::importer
