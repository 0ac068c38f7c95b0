// Voices: which tones get one of the player's voices, and who keeps a voice
// when more tones sound than there are voices.
#include <algorithm>
#include <cstdlib>
#include <limits>

#include "importer/stages.h"

namespace pitchime::importer {

namespace {

constexpr std::int64_t drumBlipUs = 25000;

// A tone's times in units of the grid.
struct GridTone {
    std::int64_t start = 0;
    std::int64_t keyEnd = 0;
    std::int64_t end = 0;
};

struct Voice {
    std::vector<Segment> segments;
    int tone = -1;  // the tone it plays now, -1 when free
    int lastPitch = 0;
};

// Who keeps a voice when more tones sound than there are voices, lowest
// first: the top line, the bass line, new tones, tones still held by
// their key, tones held by the pedal, drum blips sounding, new drum blips.
enum Rank { top, bottom, fresh, keyed, pedal, drumSounding, drumFresh };

struct Candidate {
    int tone = 0;
    int voice = -1;  // -1: starts now
    Rank rank = fresh;
    std::uint8_t velocity = 0;
    std::uint8_t pitch = 0;
};

struct Allocator {
    const std::vector<Tone>& tones;
    std::vector<GridTone> grid;
    std::vector<Voice> voices;
    Allocation out;
    std::int64_t unitUs = 1;
    std::int64_t gapUnits = 1;

    void cut(int v, std::int64_t at, bool report) {
        Voice& voice = voices[v];
        const int tone = voice.tone;
        voice.segments.back().end = at;
        voice.tone = -1;
        if (!report || tones[tone].drum) return;
        if (at >= grid[tone].keyEnd) {
            ++out.pedalCut;  // played as long as its key was held
            return;
        }
        Entry e = entryFor(tones[tone], Fate::cut);
        e.lostUs = tones[tone].endUs - at * unitUs;
        out.entries.push_back(e);
    }

    // A tone that starts where the same pitch just ended would run on
    // without a seam: the end of the earlier one gives way to a silence.
    void separate(std::uint8_t pitch, std::int64_t at) {
        for (Voice& voice : voices) {
            if (voice.segments.empty()) continue;
            Segment& last = voice.segments.back();
            if (last.gap || last.pitch != pitch || last.end != at) continue;
            const std::int64_t gap = std::min(gapUnits, last.end - last.start - 1);
            if (gap < 1) continue;
            last.end -= gap;
            voice.segments.push_back(Segment{.start = at - gap, .end = at, .gap = true});
        }
    }

    int placeCost(int v, int tone, std::int64_t at) const {
        const Voice& voice = voices[v];
        const std::uint8_t pitch = tones[tone].pitch;
        // An unused column is opened, in order, for a tone more than a
        // fifth or so from every free line.
        if (voice.segments.empty()) return 7 + v;
        if (tones[tone].drum) return 0;  // a blip is no line
        const Segment& last = voice.segments.back();
        if (!last.gap && last.pitch == pitch && last.end == at) return 0;
        return std::abs(pitch - voice.lastPitch);
    }

    void start(int tone, int v) {
        const GridTone& g = grid[tone];
        const std::uint8_t pitch = tones[tone].pitch;
        separate(pitch, g.start);
        voices[v].segments.push_back(Segment{.start = g.start, .end = g.end, .pitch = pitch});
        voices[v].tone = tone;
        voices[v].lastPitch = pitch;
        ++out.kept;
        out.maxOnsetErrorUs = std::max(out.maxOnsetErrorUs, std::abs(g.start * unitUs - tones[tone].startUs));
    }

    std::vector<int> starting(std::size_t first, std::size_t last, std::int64_t at);
    void keepHighestRanked(std::vector<int>& starting, std::int64_t at);
    void place(const std::vector<int>& starting, std::int64_t at);
};

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

// When the sounding and the starting tones are more than the voices, the
// ones that rank lowest lose theirs: sounding ones are cut, starting ones
// dropped.
void Allocator::keepHighestRanked(std::vector<int>& starting, std::int64_t at) {
    std::vector<Candidate> all;
    for (int v = 0; v < static_cast<int>(voices.size()); ++v) {
        const int tone = voices[v].tone;
        if (tone < 0) continue;
        const Rank rank = tones[tone].drum ? drumSounding : at < grid[tone].keyEnd ? keyed : pedal;
        all.push_back(Candidate{tone, v, rank, tones[tone].velocity, tones[tone].pitch});
    }
    for (int tone : starting)
        all.push_back(Candidate{tone, -1, tones[tone].drum ? drumFresh : fresh, tones[tone].velocity,
                                tones[tone].pitch});
    if (all.size() <= voices.size()) return;

    // The top and bottom lines among tones whose keys are down, or among
    // all melodic tones when only the pedal holds any.
    for (const bool keysOnly : {true, false}) {
        Candidate* high = nullptr;
        Candidate* low = nullptr;
        for (Candidate& c : all) {
            if (c.rank >= drumSounding || (keysOnly && c.rank == pedal)) continue;
            if (high == nullptr || c.pitch > high->pitch) high = &c;
            if (low == nullptr || c.pitch < low->pitch) low = &c;
        }
        if (high == nullptr) continue;
        low->rank = bottom;
        high->rank = top;
        break;
    }
    std::stable_sort(all.begin(), all.end(), [](const Candidate& a, const Candidate& b) {
        if (a.rank != b.rank) return a.rank < b.rank;
        if (a.velocity != b.velocity) return a.velocity > b.velocity;
        return a.pitch > b.pitch;
    });
    const auto busy = static_cast<std::uint8_t>(voices.size());
    for (std::size_t k = voices.size(); k < all.size(); ++k) {
        if (all[k].voice >= 0) {
            cut(all[k].voice, at, true);
        } else {
            Entry e = entryFor(tones[all[k].tone], Fate::dropped);
            e.sounding = busy;
            out.entries.push_back(e);
        }
    }
    all.resize(voices.size());
    starting.clear();
    for (const Candidate& c : all) {
        if (c.voice < 0) starting.push_back(c.tone);
    }
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
    for (std::size_t k = 0; k < starting.size(); ++k) start(starting[k], best[k]);
}

}  // namespace

Allocation allocate(const std::vector<Tone>& tones, const Grid& grid, const Options& options) {
    Allocator a{tones, std::vector<GridTone>(tones.size()), std::vector<Voice>(rulesFor(options).voices), {}};
    a.unitUs = grid.unitUs;
    a.gapUnits = std::max<std::int64_t>(1, toUnits(std::int64_t{options.gapMs} * 1000, grid.unitUs));
    const std::int64_t blip = std::max<std::int64_t>(1, toUnits(drumBlipUs, grid.unitUs));
    for (std::size_t i = 0; i < tones.size(); ++i) {
        GridTone& g = a.grid[i];
        g.start = toUnits(tones[i].startUs, grid.unitUs);
        g.keyEnd = std::max(g.start + 1, toUnits(tones[i].keyEndUs, grid.unitUs));
        g.end = tones[i].drum ? g.start + blip : std::max(g.keyEnd, toUnits(tones[i].endUs, grid.unitUs));
    }

    for (std::size_t first = 0; first < tones.size();) {
        const std::int64_t at = a.grid[first].start;
        std::size_t last = first + 1;
        while (last < tones.size() && a.grid[last].start == at) ++last;
        for (Voice& voice : a.voices) {
            if (voice.tone >= 0 && voice.segments.back().end <= at) voice.tone = -1;
        }
        std::vector<int> starting = a.starting(first, last, at);
        a.keepHighestRanked(starting, at);
        a.place(starting, at);
        first = last;
    }

    for (Voice& v : a.voices)
        if (!v.segments.empty()) a.out.voices.push_back(std::move(v.segments));
    return std::move(a.out);
}

}  // namespace pitchime::importer
