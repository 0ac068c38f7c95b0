// What the importer tells the user: the summary, one line per note not
// played as written, and the per-track overview of --info.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <utility>

#include "importer/importer.h"
#include "score/notes.h"

namespace pitchime::importer {

namespace {

std::string format(const char* fmt, auto... args) {
    char text[256];
    std::snprintf(text, sizeof text, fmt, args...);
    return text;
}

// A key with its number, e.g. "C#4 (61)".
std::string keyText(int key) { return noteName(key) + " (" + std::to_string(key) + ")"; }

std::string octaves(int count) {
    return format("%s %d octave%s", count > 0 ? "up" : "down", std::abs(count),
                  std::abs(count) == 1 ? "" : "s");
}

}  // namespace

std::string timeText(std::int64_t us) {
    const std::int64_t ms = (us + 500) / 1000;
    return format("%" PRId64 ":%02d.%03d", ms / 60000, static_cast<int>(ms / 1000 % 60),
                  static_cast<int>(ms % 1000));
}

std::string summaryLine(const Summary& s) {
    std::string line =
        format("%zu notes read, %zu kept (%zu moved by octaves, %zu cut short), %zu dropped, %zu merged",
               s.notesRead, s.kept, s.moved, s.cut, s.dropped, s.merged);
    if (s.leftOut > 0) line += format(", %zu left out", s.leftOut);
    if (s.pedalCut > 0) line += format("; %zu pedal holds ended early", s.pedalCut);
    if (s.transpose != 0) line += format("; transposed %+d", s.transpose);
    const double lengthError = s.lengthUs > 0 ? 100.0 * static_cast<double>(s.scoreLengthUs - s.lengthUs) /
                                                    static_cast<double>(s.lengthUs)
                                              : 0.0;
    line += format("; BPM %d, sixty-fourth note %d ms; %d voice%s, %zu rows; largest timing error %.1f ms",
                   static_cast<int>(s.bpm), static_cast<int>(s.sixtyFourthMs), s.voices,
                   s.voices == 1 ? "" : "s", s.rows, static_cast<double>(s.maxOnsetErrorUs) / 1000.0);
    line += "; length " + timeText(s.scoreLengthUs) + " (file " + timeText(s.lengthUs) +
            format(", %+.2f%%)", lengthError);
    const char* before = "; pitch bends not played: ";
    for (int channel = 0; channel < 16; ++channel) {
        if (s.pitchBends[channel] == 0) continue;
        line += before + format("%zu on channel %d", s.pitchBends[channel], channel + 1);
        before = ", ";
    }
    if (s.late > 0) line += format("; %zu started late", s.late);
    return line;
}

std::string entryLine(const Entry& e) {
    std::string line = timeText(e.startUs) + format(" track %d channel %d ", e.track + 1, e.channel + 1);
    line += e.drum ? "drum " + std::to_string(e.key) + " played as " + keyText(e.played) + ": "
                   : "note " + keyText(e.key) + ": ";
    switch (e.fate) {
        case Fate::moved:
            return line + "moved " + octaves(e.octaves) +
                   (e.played - 12 * e.octaves != e.key ? " after transposing" : "") + " to " +
                   keyText(e.played) + format(", the board plays %d to %d", lowestCountedNote, highestNote);
        case Fate::dropped:
            return line + format("dropped, all %d voices held notes that rank higher", e.sounding);
        case Fate::cut:
            return line + format("cut short, %.3f s early, its voice went to a new note",
                                 static_cast<double>(e.lostUs) / 1e6);
        case Fate::merged:
            return line + "merged with the same pitch sounding at that moment";
        case Fate::tooLate:
            return line + "dropped, it starts after 10 hours, the longest the importer makes";
        case Fate::late:
            return line +
                   format("started %.3f s late, when a voice freed", static_cast<double>(e.lostUs) / 1e6);
    }
    return line;
}

std::string describe(const midi::File& file, const Options& options) {
    struct Group {
        std::size_t notes = 0;
        int low = 127;
        int high = 0;
        std::vector<std::pair<std::int64_t, int>> changes;  // +1 at a start, -1 at an end
        std::size_t lost[6] = {};                           // by Fate
    };
    std::map<std::pair<int, int>, Group> groups;
    for (const midi::Note& n : file.notes) {
        Group& g = groups[{n.track, n.channel}];
        ++g.notes;
        g.low = std::min<int>(g.low, n.key);
        g.high = std::max<int>(g.high, n.key);
        g.changes.push_back({n.startTick, 1});
        g.changes.push_back({n.endTick, -1});
    }
    const Result planned = plan(file, options);
    for (const Entry& e : planned.entries) ++groups[{e.track, e.channel}].lost[static_cast<int>(e.fate)];

    std::string out = format("format %d, %d track%s, %zu notes\n", file.format, file.trackCount,
                             file.trackCount == 1 ? "" : "s", file.notes.size());
    for (auto& [key, g] : groups) {
        std::sort(g.changes.begin(), g.changes.end());  // an end before a start at the same tick
        int now = 0;
        int most = 0;
        for (const auto& change : g.changes) most = std::max(most, now += change.second);
        const auto [track, channel] = key;
        std::string name =
            static_cast<std::size_t>(track) < file.trackNames.size() ? file.trackNames[track] : "";
        out += format("track %d", track + 1);
        if (!name.empty()) out += " \"" + name + "\"";
        out += format(" channel %d: %zu notes, %s to %s, at most %d at once; ", channel + 1, g.notes,
                      keyText(g.low).c_str(), keyText(g.high).c_str(), most);
        if (!imported(options, track, channel)) {
            out += channel == percussionChannel && !options.drums ? "percussion, left out (--drums)\n"
                                                                  : "left out\n";
            continue;
        }
        out += format("importing drops %zu, cuts %zu short, moves %zu, merges %zu\n",
                      g.lost[static_cast<int>(Fate::dropped)] + g.lost[static_cast<int>(Fate::tooLate)],
                      g.lost[static_cast<int>(Fate::cut)], g.lost[static_cast<int>(Fate::moved)],
                      g.lost[static_cast<int>(Fate::merged)]);
    }
    out +=
        "melody: " + (planned.summary.melody.empty() ? std::string("none") : planned.summary.melody) + "\n";
    out += planned.refusal.empty() ? summaryLine(planned.summary) + "\n" : planned.refusal + "\n";
    return out;
}

}  // namespace pitchime::importer
