// The voice allocator of the importer: the player's voices, the tones
// they play, and the plan they follow. Its steps are in allocate.cpp
// (tones starting at their time) and late.cpp (tones starting late); only
// those two files include this header.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "importer/stages.h"
#include "voicing/ranking.h"

namespace pitchime::importer::allocation {

constexpr std::int64_t drumBlipUs = 25000;
// The shortest note worth starting: shorter is a click, not a note.
constexpr std::int64_t shortestUs = 40000;

struct Voice {
    std::vector<Segment> segments;
    int tone = -1;  // the tone it plays now, -1 when free
    int lastPitch = 0;
};

struct Allocator {
    const std::vector<Tone>& tones;
    std::vector<GridTone> grid;
    std::vector<Voice> voices;
    Allocation out;
    std::int64_t unitUs = 1;
    std::int64_t gapUnits = 1;
    std::int64_t shortest = 1;   // units
    std::vector<int> waiting{};  // tones dropped at their start whose keys are still down
    std::vector<int> entryOf{};  // by tone: its dropped entry, -1 when none
    // The plan: by tone, whether it starts at its time, its rank among the
    // lines, and until when it may not be cut (its window).
    Plan plan{};
    std::vector<std::int64_t> keepUntil{};
    bool bassFirst = false;

    void drop(int tone, std::uint8_t busy) {
        Entry e = entryFor(tones[tone], Fate::dropped);
        e.sounding = busy;
        if (tones[tone].drum) {
            out.entries.push_back(e);
            return;
        }
        if (entryOf[tone] < 0) {
            entryOf[tone] = static_cast<int>(out.entries.size());
            out.entries.push_back(e);
        } else {
            out.entries[entryOf[tone]] = e;
        }
        waiting.push_back(tone);
    }

    void cut(int v, std::int64_t at, bool report) {
        Voice& voice = voices[v];
        const int tone = voice.tone;
        voice.tone = -1;
        voice.segments.back().end = at;
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

    void start(int tone, int v, std::int64_t at) {
        const GridTone& g = grid[tone];
        const std::uint8_t pitch = tones[tone].pitch;
        separate(pitch, at);
        voices[v].segments.push_back(Segment{.start = at, .end = g.end, .pitch = pitch});
        voices[v].tone = tone;
        voices[v].lastPitch = pitch;
        const std::int64_t window =
            plan.rank[tone] == ranking::Rank::melody ? g.keyEnd : std::min(g.end, g.start + shortest);
        keepUntil[tone] = at == g.start && plan.planned[tone] ? window : 0;
        ++out.kept;
        if (at == g.start) {
            out.maxOnsetErrorUs =
                std::max(out.maxOnsetErrorUs, std::abs(g.start * unitUs - tones[tone].startUs));
        }
    }

    void startLate(std::int64_t before);

    std::vector<int> starting(std::size_t first, std::size_t last, std::int64_t at);
    void keepHighestRanked(std::vector<int>& starting, std::int64_t at);
    void place(const std::vector<int>& starting, std::int64_t at);
};

}  // namespace pitchime::importer::allocation
