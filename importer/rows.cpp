// The rows that play the voices: the voices in columns, a row for every
// stretch in which no voice changes, each stretch cut into the fewest rows
// of the lengths the player has, written by the score writer.
#include <algorithm>

#include "importer/stages.h"
#include "score/writer.h"

namespace pitchime::importer {

namespace {

RowSpans makeSpans(const PlayRules& rules) {
    RowSpans s;
    // A row lasts the player's steps for its length value. Only the values
    // that divide the whole note exactly are written (1, 2, 4, ... 64): the
    // players warn of any other, whose row lasts 64 / L rounded down.
    const std::int32_t whole = rowSteps(rules, 1);
    for (std::int32_t l = 1; rowSteps(rules, l) > 0; ++l) {
        if (rowSixtyFourths(rules, l) * l == 64) s.lengthValue[rowSteps(rules, l)] = l;
    }
    s.largest = whole;
    const std::size_t size = static_cast<std::size_t>(2 * whole);
    s.rowsFor.assign(size, 0);
    s.firstSpan.assign(size, 0);
    for (std::size_t k = 1; k < size; ++k) {
        std::int32_t best = 0;
        for (std::int32_t span = whole; span >= 1; --span) {
            if (s.lengthValue[span] == 0 || static_cast<std::size_t>(span) > k) continue;
            const std::int32_t rows = 1 + s.rowsFor[k - span];
            if (best == 0 || rows < s.rowsFor[k]) {
                best = span;
                s.rowsFor[k] = rows;
            }
        }
        s.firstSpan[k] = best;
    }
    return s;
}

// The mean pitch of a voice's notes, weighted by their lengths.
double height(const std::vector<Segment>& segments) {
    double sum = 0;
    double length = 0;
    for (const Segment& seg : segments) {
        if (seg.gap) continue;
        sum += static_cast<double>(seg.pitch) * static_cast<double>(seg.end - seg.start);
        length += static_cast<double>(seg.end - seg.start);
    }
    return sum / length;
}

// The voices in columns, highest line first: the melody in column 0.
std::vector<const std::vector<Segment>*> columns(const std::vector<std::vector<Segment>>& voices) {
    std::vector<std::pair<double, const std::vector<Segment>*>> byHeight;
    for (const std::vector<Segment>& voice : voices) byHeight.emplace_back(height(voice), &voice);
    std::stable_sort(byHeight.begin(), byHeight.end(),
                     [](const auto& x, const auto& y) { return x.first > y.first; });
    std::vector<const std::vector<Segment>*> out;
    for (const auto& [h, voice] : byHeight) out.push_back(voice);
    return out;
}

}  // namespace

const RowSpans& rowSpans(const PlayRules& rules) {
    static const RowSpans threeVoice = makeSpans(threeVoiceRules);
    static const RowSpans trill = makeSpans(trillRules);
    return rules.trill ? trill : threeVoice;
}

std::int64_t rowsFor(const RowSpans& spans, std::int64_t units) {
    const std::int64_t limit = 2 * std::int64_t{spans.largest};
    if (units < limit) return spans.rowsFor[static_cast<std::size_t>(units)];
    const std::int64_t whole = (units - limit) / spans.largest + 1;
    return whole + spans.rowsFor[static_cast<std::size_t>(units - whole * spans.largest)];
}

std::int32_t nextSpan(const RowSpans& spans, std::int64_t units) {
    if (units >= 2 * std::int64_t{spans.largest}) return spans.largest;
    return spans.firstSpan[static_cast<std::size_t>(units)];
}

Rows writeRows(const std::vector<std::vector<Segment>>& voices, const Grid& grid, const Options& options) {
    const PlayRules& rules = rulesFor(options);
    const std::vector<const std::vector<Segment>*> column = columns(voices);
    Rows rows;
    // The voices used, but never fewer columns than the player's rows need.
    rows.part = std::max(static_cast<std::int32_t>(voices.size()), rules.minRowValues - 1);
    writeScoreHeader(rows.text, grid.bpm, rows.part);

    std::vector<std::int64_t> times{0};
    for (const std::vector<Segment>& voice : voices) {
        for (const Segment& s : voice) {
            times.push_back(s.start);
            times.push_back(s.end);
        }
    }
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    rows.endUnits = times.back();

    const RowSpans& spans = rowSpans(rules);
    std::vector<std::size_t> next(voices.size(), 0);
    std::array<std::int32_t, 3> value{};
    auto emit = [&](std::int64_t units) {
        while (units > 0) {
            const std::int32_t span = nextSpan(spans, units);
            writeScoreRow(rows.text, std::span(value).first(static_cast<std::size_t>(rows.part)),
                          spans.lengthValue[span]);
            ++rows.count;
            units -= span;
        }
    };
    for (std::size_t i = 0; i + 1 < times.size(); ++i) {
        const std::int64_t at = times[i];
        // Per voice: -1 silent, 0 the gap before a repeated note, else the note.
        std::array<std::int32_t, 3> state{-1, -1, -1};
        for (std::size_t c = 0; c < voices.size(); ++c) {
            const std::vector<Segment>& segs = *column[c];
            while (next[c] < segs.size() && segs[next[c]].end <= at) ++next[c];
            if (next[c] < segs.size() && segs[next[c]].start <= at)
                state[c] = segs[next[c]].gap ? 0 : segs[next[c]].pitch;
        }
        if (!rules.trill) {
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

}  // namespace pitchime::importer
