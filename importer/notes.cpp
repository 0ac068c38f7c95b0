// From the file's notes to tones: which notes are imported, their times
// through the one tempo map, the sustain pedal, and the board's range.
#include "score/notes.h"

#include <algorithm>
#include <array>
#include <limits>

#include "importer/stages.h"
#include "voicing/ranking.h"

namespace pitchime::importer {

namespace {

constexpr std::int64_t never = std::numeric_limits<std::int64_t>::max();
// Times past this are not imported: ten hours bounds the rows a file can make.
constexpr std::int64_t longestUs = std::int64_t{10} * 3600 * 1000000;
constexpr int sustainPedal = 64;
constexpr int allSoundOff = 120;
constexpr int resetControllers = 121;
constexpr int allNotesOff = 123;

// Microseconds from the start through the tempo map, past the longest
// tune read as twice that.
std::int64_t timeAt(const midi::File& file, std::int64_t tick) {
    return std::min(midi::tickToUs(file, tick), 2 * longestUs);
}

// Intervals [down, up) of the sustain pedal on one channel, and the ticks
// where every note of it is silenced.
struct ChannelHolds {
    std::vector<std::int64_t> down;
    std::vector<std::int64_t> up;
    std::vector<std::int64_t> allOff;
};

std::array<ChannelHolds, 16> channelHolds(const midi::File& file) {
    std::array<ChannelHolds, 16> holds;
    for (const midi::Controller& c : file.controllers) {
        ChannelHolds& h = holds[c.channel & 15];
        const bool isDown = h.down.size() > h.up.size();
        if (c.number == sustainPedal || c.number == resetControllers) {
            const bool press = c.number == sustainPedal && c.value >= 64;
            if (press && !isDown) h.down.push_back(c.tick);
            if (!press && isDown) h.up.push_back(c.tick);
        } else if (c.number == allSoundOff || c.number == allNotesOff) {
            h.allOff.push_back(c.tick);
        }
    }
    for (ChannelHolds& h : holds) {
        if (h.down.size() > h.up.size()) h.up.push_back(never);
    }
    return holds;
}

// Where a note let go at `keyEnd` stops sounding: when the pedal is down
// then, at the pedal's release, the next stroke of its key, an
// all-notes-off or the file's last event, whichever comes first.
std::int64_t heldEnd(const ChannelHolds& h, std::int64_t keyEnd, std::int64_t nextStroke) {
    auto off = std::lower_bound(h.allOff.begin(), h.allOff.end(), keyEnd);
    if (off != h.allOff.end() && *off == keyEnd) return keyEnd;  // silenced, not released
    // A pedal pressed at the very tick the key is let go does not catch it.
    auto after = std::lower_bound(h.down.begin(), h.down.end(), keyEnd);
    if (after == h.down.begin()) return keyEnd;
    const std::size_t i = static_cast<std::size_t>(after - h.down.begin()) - 1;
    if (keyEnd >= h.up[i]) return keyEnd;
    std::int64_t end = std::min(h.up[i], nextStroke);
    if (off != h.allOff.end()) end = std::min(end, *off);
    return std::max(end, keyEnd);
}

// Whole octaves added to `fixed` that bring the most melodic notes into
// range; the smallest shift among equals, up before down: 0, +12, -12, +24,
// -24 and so on to ten octaves.
int autoTranspose(const midi::File& file, const Options& options, int fixed) {
    std::array<std::size_t, 128> perKey{};
    for (const midi::Note& n : file.notes) {
        if (imported(options, n.track, n.channel) && n.channel != percussionChannel) ++perKey[n.key & 127];
    }
    int best = 0;
    std::size_t bestFit = 0;
    for (int k = 0; k <= 20; ++k) {
        const int shift = (k % 2 == 1 ? 12 : -12) * ((k + 1) / 2);
        std::size_t fit = 0;
        for (int key = 0; key < 128; ++key) {
            if (ranking::octavesIntoRange(key + fixed + shift) == 0) fit += perKey[key];
        }
        if (fit > bestFit) {
            best = shift;
            bestFit = fit;
        }
    }
    return fixed + best;
}

}  // namespace

bool imported(const Options& options, int track, int channel) {
    return options.tracks[track & 0xFFFF] && options.channels[channel & 15] &&
           (channel != percussionChannel || options.drums);
}

voicing::Melody melodyFor(const midi::File& file, const Options& options) {
    if (options.melodyTrack == -2) return {};
    if (options.melodyTrack >= 0) {
        std::string part = "track " + std::to_string(options.melodyTrack + 1);
        if (options.melodyChannel >= 0) part += " channel " + std::to_string(options.melodyChannel + 1);
        return {options.melodyTrack, options.melodyChannel, part + ", as --melody names it"};
    }
    return voicing::findMelody(file,
                               [&](int track, int channel) { return imported(options, track, channel); });
}

Prepared prepare(const midi::File& file, const Options& options) {
    Prepared out;
    const voicing::Melody melody = melodyFor(file, options);
    out.melody = melody.reason;
    out.transpose =
        options.autoTranspose ? autoTranspose(file, options, options.transpose) : options.transpose;
    const std::array<ChannelHolds, 16> holds = channelHolds(file);

    // The next stroke of each note's key on its channel, found backwards.
    std::vector<std::int64_t> nextStroke(file.notes.size(), never);
    {
        std::vector<std::int64_t> next(16 * 128, never);
        for (std::size_t i = file.notes.size(); i-- > 0;) {
            const midi::Note& n = file.notes[i];
            std::int64_t& slot = next[(n.channel & 15) * 128 + (n.key & 127)];
            nextStroke[i] = std::min(slot, file.endTick);
            slot = n.startTick;
        }
    }

    out.tones.reserve(file.notes.size());
    for (std::size_t i = 0; i < file.notes.size(); ++i) {
        const midi::Note& n = file.notes[i];
        if (!imported(options, n.track, n.channel)) {
            ++out.leftOut;
            continue;
        }
        Tone t{.track = n.track, .channel = n.channel, .key = n.key, .velocity = n.velocity};
        t.drum = n.channel == percussionChannel;
        t.melody = !t.drum && voicing::inMelody(melody, n.track, n.channel);
        t.startUs = timeAt(file, n.startTick);
        t.keyEndUs = std::max(timeAt(file, n.endTick), t.startUs);
        t.endUs = t.drum ? t.keyEndUs
                         : std::max(timeAt(file, heldEnd(holds[n.channel & 15], n.endTick, nextStroke[i])),
                                    t.keyEndUs);
        if (t.startUs > longestUs) {
            out.moves.push_back(Entry{.startUs = t.startUs,
                                      .track = n.track,
                                      .channel = n.channel,
                                      .key = n.key,
                                      .fate = Fate::tooLate});
            continue;
        }
        t.keyEndUs = std::min(t.keyEndUs, longestUs);
        t.endUs = std::min(t.endUs, longestUs);
        if (t.drum) {
            t.pitch = ranking::drumPitch(n.key);
        } else {
            const int shifted = n.key + out.transpose;
            const int played = shifted + 12 * ranking::octavesIntoRange(shifted);
            t.pitch = static_cast<std::uint8_t>(played);
            if (played != shifted) {
                Entry e = entryFor(t, Fate::moved);
                e.octaves = static_cast<std::int8_t>((played - shifted) / 12);
                out.moves.push_back(e);
            }
        }
        out.lengthUs = std::max(out.lengthUs, t.endUs);
        out.tones.push_back(t);
    }
    // Bends of the parts imported, each that moves its channel's pitch.
    std::array<std::uint16_t, 16> bend;
    bend.fill(8192);
    for (const midi::PitchBend& b : file.bends) {
        if (b.value != bend[b.channel & 15] && imported(options, b.track, b.channel))
            ++out.bends[b.channel & 15];
        bend[b.channel & 15] = b.value;
    }
    return out;
}

}  // namespace pitchime::importer
