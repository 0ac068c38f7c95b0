// Who keeps a voice when more notes would sound than there are voices, and
// where a note is played: the rules the importer plans by, kept here in one
// unit so that the live player allocates by the same ones. Pure functions,
// no allocation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace pitchime::ranking {

// Best first: the named melody, the top line, the bass line, a note just
// struck, notes still held by their key, notes held by the pedal, drum
// blips sounding, new drum blips.
enum class Rank : std::uint8_t { melody, top, bottom, fresh, keyed, pedal, drumSounding, drumFresh };

struct Candidate {
    int id = 0;  // the caller's
    // melody, fresh, keyed, pedal, drumSounding or drumFresh; order() finds
    // top and bottom.
    Rank rank = Rank::keyed;
    std::uint8_t velocity = 0;
    std::uint8_t pitch = 0;
};

// When there are more candidates than `voices`, orders them best first:
// the highest and lowest of the notes whose keys are down (or of all the
// melodic notes, when only the pedal holds any) outside the melody become
// top and bottom; then by rank (with `bassFirst`, the bottom before the
// top), the louder first, the higher first; equals
// keep their order. Otherwise leaves them as they are: every one has a voice.
void order(std::span<Candidate> candidates, std::size_t voices, bool bassFirst = false);

// What a melodic note of `rank` is worth when a whole piece is planned at
// once: the melody's line most, then the lines (with `bassFirst` the bass
// before the top), then the rest; each rank worth more than many notes of
// the ranks after it. A planner adds less than 100 to tell equals apart.
std::int64_t worth(Rank rank, bool bassFirst);

// The whole octaves that bring `pitch` into the board's range (14 to 127):
// positive up, negative down.
int octavesIntoRange(int pitch);

// The pitch a percussion key is played at, short, as a hint of the
// instrument: low for bass drums, high for hi-hats.
std::uint8_t drumPitch(int key);

}  // namespace pitchime::ranking
