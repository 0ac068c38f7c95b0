// Any bytes as a MIDI file, under AddressSanitizer and UBSan: reading never
// crashes or reads outside them, a refusal is one line about a byte of the
// file, and what is read holds together (a key sounds once on its channel). Every file read is then imported,
// plainly and with options taken from its last byte (bytes after the
// tracks are ignored by the reader): the plan refuses in one line or makes
// a score the player accepts, its rows stay in proportion to its notes,
// and while no more notes sound at once than there are voices, none is
// dropped or cut short.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "importer/importer.h"
#include "midi/midi_file.h"

using namespace pitchime::midi;
namespace importer = pitchime::importer;

#define MIDI_CHECK(c) \
    ((c) ? void() : (std::fprintf(stderr, "midi_fuzz: line %d: %s\n", __LINE__, #c), std::abort()))

namespace {

constexpr std::int64_t longestUs = std::int64_t{10} * 3600 * 1000000;  // the importer's limit

// The most melodic notes imported from `f` whose keys are down at once on
// the plan's grid, where a note lasts at least one step.
int mostAtOnce(const File& f, const importer::Options& o, std::int64_t unitUs) {
    std::vector<std::pair<std::int64_t, int>> changes;
    for (const Note& n : f.notes) {
        const std::int64_t startUs = tickToUs(f, n.startTick);
        if (!importer::imported(o, n.track, n.channel) || n.channel == importer::percussionChannel ||
            startUs > longestUs)
            continue;
        const std::int64_t start = (startUs + unitUs / 2) / unitUs;
        const std::int64_t endUs = std::min(tickToUs(f, n.endTick), longestUs);
        changes.insert(changes.end(), {{start, 1}, {std::max(start + 1, (endUs + unitUs / 2) / unitUs), -1}});
    }
    std::sort(changes.begin(), changes.end(),
              [](auto a, auto b) { return a.first != b.first ? a.first < b.first : a.second < b.second; });
    int now = 0;
    int most = 0;
    for (const auto& c : changes) most = std::max(most, now += c.second);
    return most;
}

void checkImport(const File& f, const importer::Options& o) {
    const importer::Result r = importer::plan(f, o);
    const importer::Summary& s = r.summary;
    if (!r.refusal.empty()) {
        // Only a file with nothing to play is refused, before any score
        // is made: a score the player's check refuses is a fault.
        MIDI_CHECK(r.score.empty() && s.kept == 0 && r.refusal.find('\n') == std::string::npos);
        return;
    }
    MIDI_CHECK(!r.score.empty() && s.kept > 0 && s.sixtyFourthMs > 0);
    MIDI_CHECK(s.notesRead == f.notes.size() && s.leftOut + s.kept + s.dropped + s.merged == s.notesRead);
    // Each kept note adds at most a note and a gap to its column, four
    // boundaries between rows; a span between boundaries takes its
    // length in longest rows plus at most three more.
    const std::int64_t unitUs = std::int64_t{s.sixtyFourthMs} * 1000 * (o.trill ? 2 : 1);
    const std::int64_t longestRowUs = unitUs * (o.trill ? 32 : 64);
    MIDI_CHECK(s.scoreLengthUs <= longestUs + 2 * longestRowUs);
    MIDI_CHECK(s.rows <= 2 + 12 * s.kept + static_cast<std::size_t>(s.scoreLengthUs / longestRowUs));
    if (mostAtOnce(f, o, unitUs) <= (o.trill ? 2 : 3)) {
        for (const importer::Entry& e : r.entries)
            MIDI_CHECK(e.drum || (e.fate != importer::Fate::dropped && e.fate != importer::Fate::cut));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    File f;
    Error error;
    if (!readFile({data, size}, f, error)) {
        MIDI_CHECK(error.offset < size || error.offset == 0);
        MIDI_CHECK(!error.what.empty() && error.what.find('\n') == std::string::npos);
        return 0;
    }
    // Every note, controller and bend takes at least a delta and two data
    // bytes of the file.
    MIDI_CHECK(f.notes.size() + f.controllers.size() + f.bends.size() <= size / 3);
    MIDI_CHECK(f.trackNames.size() == static_cast<std::size_t>(f.trackCount));
    MIDI_CHECK((f.ticksPerQuarter > 0) != (f.smpteFramesPerSecond > 0));
    MIDI_CHECK(f.cutTrack < 0 || (f.cutAt <= size && f.cutTrack <= f.trackCount));
    std::vector<std::int64_t> ticks{0, f.endTick};
    std::vector<std::int64_t> keyFree(16 * 128, 0);  // where each channel's key is free again
    for (std::size_t i = 0; i < f.notes.size(); ++i) {
        const Note& n = f.notes[i];
        MIDI_CHECK(n.startTick >= 0 && n.startTick <= n.endTick && n.endTick <= f.endTick);
        MIDI_CHECK(n.key < 128 && n.channel < 16 && n.velocity >= 1 && n.velocity < 128 &&
                   n.track < f.trackCount);
        const Note& p = f.notes[i > 0 ? i - 1 : 0];
        MIDI_CHECK(p.startTick < n.startTick || (p.startTick == n.startTick && p.track <= n.track));
        // A key sounds once on its channel: its notes never overlap, nor
        // start twice at one tick.
        std::int64_t& free = keyFree[n.channel * 128 + n.key];
        MIDI_CHECK(n.startTick >= free);
        free = std::max(n.endTick, n.startTick + 1);
        ticks.insert(ticks.end(), {n.startTick, n.endTick});
    }
    for (std::size_t i = 0; i < f.bends.size(); ++i) {
        const PitchBend& b = f.bends[i];
        MIDI_CHECK(b.value < 16384 && b.channel < 16 && b.track < f.trackCount);
        MIDI_CHECK(i == 0 || f.bends[i - 1].tick <= b.tick);
    }
    for (std::size_t i = 0; i < f.tempos.size(); ++i) {
        MIDI_CHECK(f.tempos[i].usPerQuarter > 0 && f.tempos[i].usPerQuarter < (1u << 24));
        MIDI_CHECK(i == 0 || f.tempos[i - 1].tick <= f.tempos[i].tick);
        ticks.push_back(f.tempos[i].tick);
    }
    for (std::size_t i = 1; i < f.controllers.size(); ++i)
        MIDI_CHECK(f.controllers[i - 1].tick <= f.controllers[i].tick);

    // Time only goes forward, and the tempo map's shortcut agrees with
    // walking the map.
    std::sort(ticks.begin(), ticks.end());
    File walked = f;
    walked.tempoTimes.clear();
    MIDI_CHECK(tickToUs(f, 0) == 0);
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        const std::int64_t us = tickToUs(f, ticks[i]);
        MIDI_CHECK(us >= 0 && (i == 0 || tickToUs(f, ticks[i - 1]) <= us));
        if (i < 64 || i + 1 == ticks.size()) MIDI_CHECK(tickToUs(walked, ticks[i]) == us);
    }

    checkImport(f, {});
    const std::uint8_t last = data[size - 1];
    if ((last & 15) == 0) return 0;
    importer::Options o;
    o.trill = (last & 1) != 0;
    o.drums = (last & 2) != 0;
    o.autoTranspose = (last & 4) != 0;
    o.transpose = (last >> 4) * 3 - 24;
    if ((last & 8) != 0) {
        o.tracks.reset();
        for (int t = 0; t < 16; t += 2) o.tracks.set(t);
        o.channels[last >> 4] = false;
    }
    checkImport(f, o);
    return 0;
}
