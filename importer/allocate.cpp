// Voices: which tones get one of the player's voices, and who keeps a voice
// when more tones sound than there are voices.
#include <algorithm>
#include <cstdlib>
#include <limits>

#include "importer/allocator.h"

namespace pitchime::importer {

namespace allocation {

// Of the tones [first, last), which all start at `at`, those that start a
// note. One note per pitch: a unison merges, and a key struck again while
// it still sounds ends the earlier stroke. Drum blips come last and give
// way to any note of their pitch.
std::vector<int> Allocator::starting(std::size_t first, std::size_t last, std::int64_t at) {
    std::vector<int> starting;
    for (const bool drums : {false, true}) {
        for (std::size_t i = first; i < last; ++i) {
            if (tones[i].drum != drums) continue;
            const int tone = static_cast<int>(i);
            const std::uint8_t pitch = tones[i].pitch;
            auto same = std::find_if(starting.begin(), starting.end(),
                                     [&](int s) { return tones[s].pitch == pitch; });
            bool sounding = false;
            for (int v = 0; v < static_cast<int>(voices.size()); ++v) {
                if (voices[v].tone < 0 || tones[voices[v].tone].pitch != pitch) continue;
                if (drums) {
                    sounding = true;
                } else {
                    cut(v, at, false);
                }
            }
            if (same != starting.end() || sounding) {
                if (same != starting.end()) grid[*same].end = std::max(grid[*same].end, grid[tone].end);
                out.entries.push_back(entryFor(tones[tone], Fate::merged));
                continue;
            }
            starting.push_back(tone);
        }
    }
    return starting;
}

// The starting tones the plan keeps take free voices, or the voices of
// sounding tones past their windows that rank lowest (voicing/ranking.h),
// which are cut. The others are dropped, and may start late; drum blips
// take only voices left free.
void Allocator::keepHighestRanked(std::vector<int>& starting, std::int64_t at) {
    const auto busy = static_cast<std::uint8_t>(voices.size());
    std::vector<int> keep;
    std::vector<int> drums;
    for (int t : starting) {
        if (tones[t].drum) {
            drums.push_back(t);
        } else if (plan.planned[t]) {
            keep.push_back(t);
        } else {
            drop(t, busy);
        }
    }
    int free = 0;
    for (const Voice& voice : voices) free += voice.tone < 0 ? 1 : 0;
    if (static_cast<int>(keep.size()) > free) {
        std::vector<ranking::Candidate> sounding;
        for (int v = 0; v < static_cast<int>(voices.size()); ++v) {
            const int t = voices[v].tone;
            if (t < 0 || at < keepUntil[t]) continue;
            // order() finds the top and the bass among the keys down now.
            ranking::Rank r = at < grid[t].keyEnd ? ranking::Rank::keyed : ranking::Rank::pedal;
            if (tones[t].drum) r = ranking::Rank::drumSounding;
            sounding.push_back({v, r, tones[t].velocity, tones[t].pitch});
        }
        ranking::order(sounding, 0, bassFirst);
        while (static_cast<int>(keep.size()) > free && !sounding.empty()) {
            cut(sounding.back().id, at, true);
            sounding.pop_back();
            ++free;
        }
        while (static_cast<int>(keep.size()) > free) {  // never, by the plan
            drop(keep.back(), busy);
            keep.pop_back();
        }
    }
    for (int t : drums) {
        if (static_cast<int>(keep.size()) < free) {
            keep.push_back(t);
        } else {
            Entry e = entryFor(tones[t], Fate::dropped);
            e.sounding = busy;
            out.entries.push_back(e);
        }
    }
    starting = std::move(keep);
}

// Puts the starting tones in free columns, each where the line it
// continues is nearest in pitch.
void Allocator::place(const std::vector<int>& starting, std::int64_t at) {
    std::vector<int> free;
    for (int v = 0; v < static_cast<int>(voices.size()); ++v) {
        if (voices[v].tone < 0) free.push_back(v);
    }
    std::vector<int> best = free;
    int bestCost = std::numeric_limits<int>::max();
    do {
        int cost = 0;
        for (std::size_t k = 0; k < starting.size(); ++k) cost += placeCost(free[k], starting[k], at);
        if (cost < bestCost) {
            bestCost = cost;
            best = free;
        }
    } while (std::next_permutation(free.begin(), free.end()));
    for (std::size_t k = 0; k < starting.size(); ++k) start(starting[k], best[k], at);
}

}  // namespace allocation

using allocation::Allocator;
using allocation::drumBlipUs;
using allocation::shortestUs;
using allocation::Voice;

Allocation allocate(const std::vector<Tone>& tones, const Grid& grid, const Options& options) {
    Allocator a{tones, std::vector<GridTone>(tones.size()), std::vector<Voice>(rulesFor(options).voices), {}};
    a.unitUs = grid.unitUs;
    a.shortest = std::max<std::int64_t>(1, toUnits(shortestUs, grid.unitUs));
    a.entryOf.assign(tones.size(), -1);
    // With a melody and two voices, the bass comes next: the tune and its
    // bass. With three, the top line and the bass both keep theirs.
    for (const Tone& t : tones) a.bassFirst = a.bassFirst || (t.melody && a.voices.size() < 3);
    a.gapUnits = std::max<std::int64_t>(1, toUnits(std::int64_t{options.gapMs} * 1000, grid.unitUs));
    const std::int64_t blip = std::max<std::int64_t>(1, toUnits(drumBlipUs, grid.unitUs));
    for (std::size_t i = 0; i < tones.size(); ++i) {
        GridTone& g = a.grid[i];
        g.start = toUnits(tones[i].startUs, grid.unitUs);
        g.keyEnd = std::max(g.start + 1, toUnits(tones[i].keyEndUs, grid.unitUs));
        g.end = tones[i].drum ? g.start + blip : std::max(g.keyEnd, toUnits(tones[i].endUs, grid.unitUs));
    }

    a.plan = planTones(tones, a.grid, a.shortest, a.unitUs, static_cast<int>(a.voices.size()), a.bassFirst);
    a.keepUntil.assign(tones.size(), 0);
    for (std::size_t first = 0; first < tones.size();) {
        const std::int64_t at = a.grid[first].start;
        std::size_t last = first + 1;
        while (last < tones.size() && a.grid[last].start == at) ++last;
        a.startLate(at);
        for (Voice& voice : a.voices) {
            if (voice.tone >= 0 && voice.segments.back().end <= at) voice.tone = -1;
        }
        std::vector<int> starting = a.starting(first, last, at);
        a.keepHighestRanked(starting, at);
        a.place(starting, at);
        a.startLate(at + 1);
        first = last;
    }
    a.startLate(std::numeric_limits<std::int64_t>::max());

    for (Voice& v : a.voices)
        if (!v.segments.empty()) a.out.voices.push_back(std::move(v.segments));
    return std::move(a.out);
}

}  // namespace pitchime::importer