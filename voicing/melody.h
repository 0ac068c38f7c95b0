// Where a MIDI file's tune is: the part (a track, or one channel of a
// track) that a listener would sing back. A part whose track is named for
// the tune wins; otherwise the part whose notes behave like a tune: mostly
// one line, above the other parts, with many note starts. Percussion is
// never the tune. Pure: the importer and the live player call it on a read
// file.
#pragma once

#include <functional>
#include <string>

#include "midi/midi_file.h"

namespace pitchime::voicing {

struct Melody {
    int track = -1;    // from 0; -1 when the file has no tune to find
    int channel = -1;  // 0 to 15; -1: every melodic channel of the track
    std::string reason;
};

// Which (track, channel) parts may hold the tune; every one by default.
using PartFilter = std::function<bool(int track, int channel)>;

Melody findMelody(const midi::File& file, const PartFilter& considered = {});

// Whether a note of `track` and `channel` belongs to `melody`.
inline bool inMelody(const Melody& melody, int track, int channel) {
    return melody.track == track && (melody.channel < 0 || melody.channel == channel);
}

}  // namespace pitchime::voicing
