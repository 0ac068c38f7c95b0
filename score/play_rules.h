// What each of the two players takes of a score and how long it plays a
// row: the rules that the check, the warnings, the players, the renderer
// and the importer share.
#pragma once

#include <cstdint>

namespace pitchime {

struct PlayRules {
    std::int32_t maxPart = 0;       // the largest PART the player takes
    std::int32_t minRowValues = 0;  // values every row needs, besides the PART + 1 it always needs
    std::int32_t voices = 0;        // voice columns it sounds
    // The trill player: counter 0 alone, sounding columns 1 and 2 in turn,
    // whatever PART is. Otherwise the three-voice player: voice column v on
    // counter v, 0 a rest.
    bool trill = false;
};

inline constexpr PlayRules threeVoiceRules{.maxPart = 3, .minRowValues = 0, .voices = 3};
inline constexpr PlayRules trillRules{.maxPart = INT32_MAX, .minRowValues = 3, .voices = 2, .trill = true};

// The sixty-fourth notes of one step of the player: the three-voice player
// holds a row's notes a sixty-fourth at a time, the trill player sounds
// each of its two notes for one sixty-fourth, a step of two.
constexpr std::int32_t stepSixtyFourths(const PlayRules& rules) { return rules.trill ? 2 : 1; }

// The steps a row of length value L lasts: a whole note is 64 sixty-fourth
// notes, so 64 / L steps in the three-voice player and 32 / L in the trill
// player, rounded down; 0 for L above 64 (32), and for L below 1, which the
// check refuses.
constexpr std::int32_t rowSteps(const PlayRules& rules, std::int32_t lengthValue) {
    return lengthValue < 1 ? 0 : 64 / stepSixtyFourths(rules) / lengthValue;
}

// The sixty-fourth notes a row of length value L lasts: 64 / L, or
// 2 × (32 / L) in the trill player.
constexpr std::int32_t rowSixtyFourths(const PlayRules& rules, std::int32_t lengthValue) {
    return stepSixtyFourths(rules) * rowSteps(rules, lengthValue);
}

}  // namespace pitchime
