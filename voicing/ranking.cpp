#include "voicing/ranking.h"

#include "score/notes.h"

namespace pitchime::ranking {

namespace {
// Where a rank stands: with `bassFirst`, the bass comes before the top
// line, so that two voices hold the tune and its bass.
int standing(Rank rank, bool bassFirst) {
    const int r = 2 * static_cast<int>(rank);
    return bassFirst && rank == Rank::bottom ? 2 * static_cast<int>(Rank::top) - 1 : r;
}

bool better(const Candidate& a, const Candidate& b, bool bassFirst) {
    if (a.rank != b.rank) return standing(a.rank, bassFirst) < standing(b.rank, bassFirst);
    if (a.velocity != b.velocity) return a.velocity > b.velocity;
    return a.pitch > b.pitch;
}
}  // namespace

void order(std::span<Candidate> all, std::size_t voices, bool bassFirst) {
    if (all.size() <= voices) return;
    for (const bool keysOnly : {true, false}) {
        Candidate* high = nullptr;
        Candidate* low = nullptr;
        for (Candidate& c : all) {
            const bool keyed = c.rank == Rank::fresh || c.rank == Rank::keyed;
            if (!keyed && (keysOnly || c.rank != Rank::pedal)) continue;
            if (high == nullptr || c.pitch > high->pitch) high = &c;
            if (low == nullptr || c.pitch < low->pitch) low = &c;
        }
        if (high == nullptr) continue;
        low->rank = Rank::bottom;
        high->rank = Rank::top;
        break;
    }
    // A stable insertion sort: a handful of candidates, and no allocation.
    for (std::size_t i = 1; i < all.size(); ++i) {
        const Candidate c = all[i];
        std::size_t j = i;
        for (; j > 0 && better(c, all[j - 1], bassFirst); --j) all[j] = all[j - 1];
        all[j] = c;
    }
}

std::int64_t worth(Rank rank, bool bassFirst) {
    switch (rank) {
        case Rank::melody:
            return 1000000;
        case Rank::top:
            return bassFirst ? 10000 : 20000;
        case Rank::bottom:
            return bassFirst ? 20000 : 10000;
        case Rank::fresh:
        case Rank::keyed:
            return 100;
        case Rank::pedal:
            return 50;
        case Rank::drumSounding:
        case Rank::drumFresh:
            break;
    }
    return 1;
}

int octavesIntoRange(int pitch) {
    if (pitch < lowestCountedNote) return (lowestCountedNote - pitch + 11) / 12;
    if (pitch > highestNote) return -((pitch - highestNote + 11) / 12);
    return 0;
}

std::uint8_t drumPitch(int key) {
    if (key == 35 || key == 36) return 33;                                              // bass drums: low
    if (key >= 37 && key <= 40) return 57;                                              // snares and claps
    if (key == 42 || key == 44 || key == 46) return 100;                                // hi-hats: high
    if (key >= 41 && key <= 50) return static_cast<std::uint8_t>(40 + (key - 41) * 2);  // toms
    if (key >= 51 && key <= 59) return 93;                                              // cymbals
    return 76;
}

}  // namespace pitchime::ranking
