// Note events to notes, as a keyboard and a synthesizer play them: per
// channel a key sounds at most once.
#include <algorithm>
#include <array>

#include "midi/track_reader.h"

namespace pitchime::midi {

void pairNotes(std::vector<NoteEvent>& events, const std::vector<std::int64_t>& trackEnds, File& out) {
    constexpr std::int64_t stillSounding = -1;
    // Each track's events are in file order, one track after another: by
    // tick, then track, then file order.
    std::stable_sort(events.begin(), events.end(),
                     [](const NoteEvent& a, const NoteEvent& b) { return a.tick < b.tick; });
    std::vector<Note>& notes = out.notes;
    std::vector<std::int32_t> latest(16 * 128, -1);  // per channel and key: its latest note
    // Per channel and key: its latest note was struck while an earlier one
    // sounded, whose own note-off may still come at that tick.
    std::vector<bool> owed(16 * 128, false);
    std::array<bool, 16> anySounding{};
    // A note whose track has ended sounds no more: it ends with its track.
    const auto sounds = [&](std::int32_t i, std::int64_t tick) {
        return i >= 0 && notes[i].endTick == stillSounding && trackEnds[notes[i].track] >= tick;
    };
    for (const NoteEvent& e : events) {
        if (e.allOff) {
            if (!anySounding[e.channel]) continue;
            anySounding[e.channel] = false;
            for (int key = 0; key < 128; ++key) {
                const std::int32_t i = latest[e.channel * 128 + key];
                if (!sounds(i, e.tick)) continue;
                if (notes[i].startTick < e.tick) {
                    notes[i].endTick = e.tick;
                } else {
                    anySounding[e.channel] = true;
                }
            }
            continue;
        }
        const int slot = e.channel * 128 + e.key;
        const std::int32_t i = latest[slot];
        if (e.velocity > 0) {
            anySounding[e.channel] = true;
            if (i >= 0 && notes[i].startTick == e.tick) {
                notes[i].endTick = stillSounding;  // struck twice at one tick: one note
                continue;
            }
            owed[slot] = sounds(i, e.tick);
            if (owed[slot]) notes[i].endTick = e.tick;  // struck again
            latest[slot] = static_cast<std::int32_t>(notes.size());
            notes.push_back(Note{e.tick, stillSounding, e.track, e.channel, e.key, e.velocity});
        } else if (sounds(i, e.tick)) {
            if (owed[slot] && notes[i].startTick == e.tick) {
                owed[slot] = false;  // the off of the note struck again
            } else {
                notes[i].endTick = e.tick;
            }
        }
    }
    for (Note& n : notes) {
        if (n.endTick == stillSounding) n.endTick = trackEnds[n.track];
    }
}

}  // namespace pitchime::midi
