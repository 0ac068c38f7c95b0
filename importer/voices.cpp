// Voices and rows: which notes get one of the player's voices, in which
// column, and the rows that play them.
#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <limits>

#include "importer/stages.h"

namespace pitchime::importer {

namespace {

constexpr std::int64_t drumBlipUs = 25000;

// A stretch of one column: a note, or the silence before a repeated note.
struct Segment {
    std::int64_t start = 0;  // units
    std::int64_t end = 0;
    std::uint8_t pitch = 0;
    bool gap = false;
};

struct Voice {
    std::vector<Segment> segments;
    int tone = -1;  // the tone it plays now, -1 when free
    int lastPitch = 0;
};

struct GridTone {
    std::int64_t start = 0;
    std::int64_t keyEnd = 0;
    std::int64_t end = 0;
};

// Who keeps a voice when more notes sound than there are voices, lowest
// first: the top line, the bass line, new notes, notes still held by
// their key, notes held by the pedal, drum blips sounding, new drum blips.
enum Rank { top, bottom, fresh, keyed, pedal, drumSounding, drumFresh };

struct Candidate {
    int tone = 0;
    int voice = -1;  // -1: starts now
    Rank rank = fresh;
    std::uint8_t velocity = 0;
    std::uint8_t pitch = 0;
};

struct Allocation {
    const midi::File& file;
    const std::vector<Tone>& tones;
    std::vector<GridTone> grid;
    std::vector<Voice> voices;
    std::vector<Entry> entries;
    std::int64_t unitUs = 1;
    std::int64_t gapUnits = 1;
    std::size_t kept = 0;
    std::size_t pedalCut = 0;
    std::int64_t maxOnsetErrorUs = 0;

    Entry entryFor(int tone, Fate fate) const {
        const midi::Note& n = file.notes[tones[tone].note];
        return Entry{.startUs = tones[tone].startUs,
                     .track = n.track,
                     .channel = n.channel,
                     .key = n.key,
                     .played = tones[tone].pitch,
                     .fate = fate,
                     .drum = tones[tone].drum};
    }

    void cut(int v, std::int64_t at, bool report) {
        Voice& voice = voices[v];
        const int tone = voice.tone;
        voice.segments.back().end = at;
        voice.tone = -1;
        if (!report || tones[tone].drum) return;
        if (at >= grid[tone].keyEnd) {
            ++pedalCut;  // played as long as its key was held
            return;
        }
        Entry e = entryFor(tone, Fate::cut);
        e.lostUs = tones[tone].endUs - at * unitUs;
        entries.push_back(e);
    }

    // A note that starts where the same pitch just ended would run on
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
        // An unused column is opened, in order, for a note more than a
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
        ++kept;
        maxOnsetErrorUs = std::max(maxOnsetErrorUs, std::abs(g.start * unitUs - tones[tone].startUs));
    }

    void place(std::vector<int>& starting, std::int64_t at);
    void group(std::size_t first, std::size_t last);
};

// Puts the starting tones in free columns, each where the line it
// continues is nearest in pitch.
void Allocation::place(std::vector<int>& starting, std::int64_t at) {
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

// The tones [first, last), which all start at one grid time.
void Allocation::group(std::size_t first, std::size_t last) {
    const std::int64_t at = grid[first].start;
    for (Voice& voice : voices) {
        if (voice.tone >= 0 && voice.segments.back().end <= at) voice.tone = -1;
    }

    // One note per pitch: a unison merges, and a key struck again while
    // it still sounds ends the earlier stroke. Drum blips come last and
    // give way to any note of their pitch.
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
                entries.push_back(entryFor(tone, Fate::merged));
                continue;
            }
            starting.push_back(tone);
        }
    }

    std::vector<Candidate> all;
    for (int v = 0; v < static_cast<int>(voices.size()); ++v) {
        const int tone = voices[v].tone;
        if (tone < 0) continue;
        const Rank rank = tones[tone].drum ? drumSounding : at < grid[tone].keyEnd ? keyed : pedal;
        all.push_back(Candidate{tone, v, rank, file.notes[tones[tone].note].velocity, tones[tone].pitch});
    }
    for (int tone : starting) {
        all.push_back(Candidate{tone, -1, tones[tone].drum ? drumFresh : fresh,
                                file.notes[tones[tone].note].velocity, tones[tone].pitch});
    }

    if (all.size() > voices.size()) {
        // The top and bottom lines among notes whose keys are down, or
        // among all melodic notes when only the pedal holds any.
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
        const std::uint8_t busy = static_cast<std::uint8_t>(voices.size());
        for (std::size_t k = voices.size(); k < all.size(); ++k) {
            if (all[k].voice >= 0) {
                cut(all[k].voice, at, true);
            } else {
                Entry e = entryFor(all[k].tone, Fate::dropped);
                e.sounding = busy;
                entries.push_back(e);
            }
        }
        all.resize(voices.size());
        starting.clear();
        for (const Candidate& c : all) {
            if (c.voice < 0) starting.push_back(c.tone);
        }
    }
    place(starting, at);
}

void appendNumber(std::string& out, std::int64_t value, char after) {
    char text[24];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    out.append(text, end);
    out.push_back(after);
}

// The score's text from the columns' segments: a row for every stretch in
// which no column changes, cut into lengths the player has.
struct Rows {
    std::string text;
    std::size_t count = 0;
    std::int64_t endUnits = 0;
};

Rows writeRows(const std::vector<Voice>& used, const Grid& grid, bool trill) {
    Rows rows;
    const std::int32_t part = trill ? 2 : static_cast<std::int32_t>(used.size());
    appendNumber(rows.text, grid.bpm, '\n');
    appendNumber(rows.text, part, '\n');

    std::vector<std::int64_t> times{0};
    for (const Voice& v : used) {
        for (const Segment& s : v.segments) {
            times.push_back(s.start);
            times.push_back(s.end);
        }
    }
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    rows.endUnits = times.back();

    const RowSpans& spans = rowSpans(trill);
    std::vector<std::size_t> next(used.size(), 0);
    std::array<int, 3> value{};
    auto emit = [&](std::int64_t units) {
        while (units > 0) {
            const std::int32_t span = nextSpan(spans, units);
            for (std::int32_t c = 0; c < part; ++c) appendNumber(rows.text, value[c], ',');
            appendNumber(rows.text, spans.lengthValue[span], '\n');
            ++rows.count;
            units -= span;
        }
    };
    for (std::size_t i = 0; i + 1 < times.size(); ++i) {
        const std::int64_t at = times[i];
        // Per column: -1 silent, 0 the gap before a repeated note, else the note.
        std::array<int, 3> state{-1, -1, -1};
        for (std::size_t c = 0; c < used.size(); ++c) {
            const std::vector<Segment>& segs = used[c].segments;
            while (next[c] < segs.size() && segs[next[c]].end <= at) ++next[c];
            if (next[c] < segs.size() && segs[next[c]].start <= at)
                state[c] = segs[next[c]].gap ? 0 : segs[next[c]].pitch;
        }
        if (!trill) {
            for (std::size_t c = 0; c < 3; ++c) value[c] = std::max(state[c], 0);
        } else {
            // Counter 0 cannot be stopped in this player: a voice that
            // rests lends its turn to the other, and a rest of both, like
            // the gap before a repeated note, sounds note 0, whose
            // half-cycles of 27 ms are too slow to be heard as a tone.
            if (state[0] < 0) state[0] = state[1];
            if (state[1] < 0) state[1] = state[0];
            value = {std::max(state[0], 0), std::max(state[1], 0), 0};
        }
        emit(times[i + 1] - at);
    }
    value = {0, 0, 0};
    emit(1);  // the closing silence
    return rows;
}

}  // namespace

Result plan(const midi::File& file, const Options& options) {
    Result result;
    Prepared prepared = prepare(file, options);
    const std::vector<Tone>& tones = prepared.tones;
    Summary& sum = result.summary;
    sum.notesRead = file.notes.size();
    sum.leftOut = prepared.leftOut;
    sum.transpose = prepared.transpose;
    sum.lengthUs = prepared.lengthUs;
    sum.pitchBends = prepared.bends;
    if (tones.empty()) {
        result.refusal = file.notes.empty() ? "no notes in the file"
                                            : "no notes to import (" + std::to_string(prepared.leftOut) +
                                                  " left out by track, channel or as percussion)";
        return result;
    }

    const Grid grid = chooseGrid(tones, options);
    Allocation a{file, tones, {}, {}, {}};
    a.unitUs = grid.unitUs;
    a.gapUnits = std::max<std::int64_t>(1, toUnits(std::int64_t{options.gapMs} * 1000, grid.unitUs));
    a.voices.resize(options.trill ? 2 : 3);
    a.grid.resize(tones.size());
    const std::int64_t blip = std::max<std::int64_t>(1, toUnits(drumBlipUs, grid.unitUs));
    for (std::size_t i = 0; i < tones.size(); ++i) {
        GridTone& g = a.grid[i];
        g.start = toUnits(tones[i].startUs, grid.unitUs);
        g.keyEnd = std::max(g.start + 1, toUnits(tones[i].keyEndUs, grid.unitUs));
        g.end = tones[i].drum ? g.start + blip : std::max(g.keyEnd, toUnits(tones[i].endUs, grid.unitUs));
    }
    for (std::size_t first = 0; first < tones.size();) {
        std::size_t last = first + 1;
        while (last < tones.size() && a.grid[last].start == a.grid[first].start) ++last;
        a.group(first, last);
        first = last;
    }

    // The used columns, highest line first: the melody in column 0.
    std::vector<Voice> used;
    std::vector<double> height;
    for (Voice& v : a.voices) {
        if (v.segments.empty()) continue;
        double sum = 0;
        double length = 0;
        for (const Segment& seg : v.segments) {
            if (seg.gap) continue;
            sum += static_cast<double>(seg.pitch) * static_cast<double>(seg.end - seg.start);
            length += static_cast<double>(seg.end - seg.start);
        }
        height.push_back(sum / length);
        used.push_back(std::move(v));
    }
    for (std::size_t i = 1; i < used.size(); ++i) {
        for (std::size_t j = i; j > 0 && height[j] > height[j - 1]; --j) {
            std::swap(height[j], height[j - 1]);
            std::swap(used[j], used[j - 1]);
        }
    }
    const Rows rows = writeRows(used, grid, options.trill);
    result.score = rows.text;

    result.entries = std::move(prepared.moves);
    result.entries.insert(result.entries.end(), a.entries.begin(), a.entries.end());
    std::stable_sort(result.entries.begin(), result.entries.end(),
                     [](const Entry& x, const Entry& y) { return x.startUs < y.startUs; });
    for (const Entry& e : result.entries) {
        if (e.fate == Fate::moved) ++sum.moved;
        if (e.fate == Fate::cut) ++sum.cut;
        if (e.fate == Fate::merged) ++sum.merged;
        if (e.fate == Fate::dropped || e.fate == Fate::tooLate) ++sum.dropped;
    }
    sum.kept = a.kept;
    sum.pedalCut = a.pedalCut;
    sum.bpm = grid.bpm;
    sum.sixtyFourthMs = grid.sixtyFourthMs;
    sum.rows = rows.count;
    sum.voices = options.trill ? 2 : static_cast<int>(used.size());
    sum.maxOnsetErrorUs = a.maxOnsetErrorUs;
    sum.scoreLengthUs = rows.endUnits * grid.unitUs;

    if (std::string problem = checkPlayable(result.score, options.trill); !problem.empty()) {
        result.refusal = "the score made does not pass the player's check: " + problem;
    }
    return result;
}

}  // namespace pitchime::importer
