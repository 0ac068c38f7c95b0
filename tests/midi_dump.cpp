// Prints what the MIDI reader makes of a file, one fact a line, or the line
// of its refusal; tests/midi/check_reader.py compares it with what it expects.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "midi/midi_file.h"

using namespace pitchime::midi;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: midi_dump FILE\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<char> raw{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    File f;
    Error error;
    if (!readFile({reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size()}, f, error)) {
        std::printf("refused at byte %zu: %s\n", error.offset, error.what.c_str());
        return 0;
    }
    for (const Note& n : f.notes)
        std::printf("note %lld-%lld %d %d %d %d\n", static_cast<long long>(n.startTick),
                    static_cast<long long>(n.endTick), n.track, n.channel, n.key, n.velocity);
    for (const Tempo& t : f.tempos)
        std::printf("tempo %lld %u at %lld\n", static_cast<long long>(t.tick), t.usPerQuarter,
                    static_cast<long long>(tickToUs(f, t.tick)));
    for (const Controller& c : f.controllers)
        std::printf("controller %lld %d %d %d %d\n", static_cast<long long>(c.tick), c.track, c.channel,
                    c.number, c.value);
    for (std::size_t i = 0; i < f.trackNames.size(); ++i)
        if (!f.trackNames[i].empty()) std::printf("name %zu %s\n", i, f.trackNames[i].c_str());
    std::printf("end %lld at %lld tracks %d\n", static_cast<long long>(f.endTick),
                static_cast<long long>(tickToUs(f, f.endTick)), f.trackCount);
    return 0;
}
