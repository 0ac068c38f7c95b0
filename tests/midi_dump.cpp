// Prints what the MIDI reader makes of a file, one fact a line, or the line
// of its refusal; tests/midi/check_reader.py compares it with what it expects.
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

#include "midi/midi_file.h"

using namespace pitchime::midi;

int main(int argc, char** argv) {
    std::ifstream in(argc == 2 ? argv[1] : "", std::ios::binary);
    const std::vector<char> raw{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    File f;
    Error error;
    if (!readFile({reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size()}, f, error)) {
        std::cout << "refused at byte " << error.offset << ": " << error.what << '\n';
        return in ? 0 : 2;
    }
    for (const Note& n : f.notes)
        std::cout << "note " << n.startTick << '-' << n.endTick << ' ' << n.track << ' ' << +n.channel << ' '
                  << +n.key << ' ' << +n.velocity << '\n';
    for (const Tempo& t : f.tempos)
        std::cout << "tempo " << t.tick << ' ' << t.usPerQuarter << " at " << tickToUs(f, t.tick) << '\n';
    for (const Controller& c : f.controllers)
        std::cout << "controller " << c.tick << ' ' << c.track << ' ' << +c.channel << ' ' << +c.number << ' '
                  << +c.value << '\n';
    for (const PitchBend& b : f.bends)
        std::cout << "bend " << b.tick << ' ' << b.track << ' ' << +b.channel << ' ' << b.value << '\n';
    if (f.cutTrack >= 0) std::cout << "cut at byte " << f.cutAt << " in track " << f.cutTrack << '\n';
    for (std::size_t i = 0; i < f.trackNames.size(); ++i)
        if (!f.trackNames[i].empty()) std::cout << "name " << i << ' ' << f.trackNames[i] << '\n';
    std::cout << "end " << f.endTick << " at " << tickToUs(f, f.endTick) << " tracks " << f.trackCount
              << '\n';
}
