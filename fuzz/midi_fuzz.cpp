// Any bytes as a MIDI file, under AddressSanitizer and UBSan: reading never
// crashes or reads outside them, a refusal is one line about a byte of the
// file, and what is read holds together.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "midi/midi_file.h"

using namespace pitchime::midi;

#define MIDI_CHECK(c) \
    ((c) ? void() : (std::fprintf(stderr, "midi_fuzz: line %d: %s\n", __LINE__, #c), std::abort()))

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    File f;
    Error error;
    if (!readFile({data, size}, f, error)) {
        MIDI_CHECK(error.offset < size || error.offset == 0);
        MIDI_CHECK(!error.what.empty() && error.what.find('\n') == std::string::npos);
        return 0;
    }
    // Every note takes at least a delta and two data bytes of the file.
    MIDI_CHECK(f.notes.size() <= size / 3);
    MIDI_CHECK(f.trackNames.size() == static_cast<std::size_t>(f.trackCount));
    MIDI_CHECK((f.ticksPerQuarter > 0) != (f.smpteFramesPerSecond > 0));
    std::vector<std::int64_t> ticks{0, f.endTick};
    for (std::size_t i = 0; i < f.notes.size(); ++i) {
        const Note& n = f.notes[i];
        MIDI_CHECK(n.startTick >= 0 && n.startTick <= n.endTick && n.endTick <= f.endTick);
        MIDI_CHECK(n.key < 128 && n.channel < 16 && n.velocity >= 1 && n.velocity < 128 &&
                   n.track < f.trackCount);
        const Note& p = f.notes[i > 0 ? i - 1 : 0];
        MIDI_CHECK(p.startTick < n.startTick || (p.startTick == n.startTick && p.track <= n.track));
        ticks.insert(ticks.end(), {n.startTick, n.endTick});
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
    return 0;
}
