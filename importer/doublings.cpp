// Unison doublings: two parts that play the same pitch a few milliseconds
// apart are heard as one note. Struck twice on the board, the first would
// sound only until the second (less the gap before a repeated pitch): a
// flam, not a note. So a tone of one part that starts while the same pitch
// of another part sounds, or less than a flam's width after it was struck,
// is merged into the sounding tone, which lasts to the later of their ends.
// A key struck again in its own part stays a new stroke: that is how a
// player repeats a note.
#include <algorithm>
#include <array>

#include "importer/stages.h"

namespace pitchime::importer {

namespace {

// Strokes of one pitch closer than this are one note: the order of the
// gap before a repeated pitch, wider than the spread of a played unison.
constexpr std::int64_t flamUs = 30000;
// A melody note this close after the other part's stroke takes its onset.
constexpr std::int64_t sameOnsetUs = 5000;

bool samePart(const Tone& a, const Tone& b) { return a.track == b.track && a.channel == b.channel; }

// `from` joins `into`: one stroke, sounding as long as either is held.
void join(Tone& into, const Tone& from) {
    // The melody's line is planned as long as its keys are down: another
    // part's longer hold is its tail, which the next melody note may cut.
    if (!into.melody) into.keyEndUs = std::max(into.keyEndUs, from.keyEndUs);
    into.endUs = std::max(into.endUs, from.endUs);
    into.velocity = std::max(into.velocity, from.velocity);
}

}  // namespace

void mergeDoublings(Prepared& prepared) {
    std::vector<Tone>& tones = prepared.tones;
    std::vector<bool> gone(tones.size(), false);
    std::array<int, 128> holder;  // by pitch: the tone that sounds it, -1 for none
    holder.fill(-1);
    bool moved = false;
    for (std::size_t i = 0; i < tones.size(); ++i) {
        Tone& t = tones[i];
        if (t.drum) continue;
        const int h = holder[t.pitch];
        holder[t.pitch] = static_cast<int>(i);
        if (h < 0 || samePart(tones[h], t)) continue;
        Tone& earlier = tones[h];
        const std::int64_t apart = t.startUs - earlier.startUs;
        const bool flam = apart < flamUs;
        if (!flam) continue;
        if (t.melody && !earlier.melody) {
            // The melody's note is kept whole: it holds, and the other
            // part's stroke just before it gives way.
            prepared.moves.push_back(entryFor(earlier, Fate::merged));
            gone[h] = true;
            join(t, earlier);
            if (apart <= sameOnsetUs && apart > 0) {
                t.startUs = earlier.startUs;
                moved = true;
            }
            continue;
        }
        prepared.moves.push_back(entryFor(t, Fate::merged));
        gone[i] = true;
        join(earlier, t);
        holder[t.pitch] = h;
    }
    std::size_t at = 0;
    for (std::size_t i = 0; i < tones.size(); ++i) {
        if (!gone[i]) tones[at++] = tones[i];
    }
    tones.resize(at);
    if (moved) {
        std::stable_sort(tones.begin(), tones.end(),
                         [](const Tone& x, const Tone& y) { return x.startUs < y.startUs; });
    }
}

}  // namespace pitchime::importer
