// The real-time players and what they share: TempoStats, sixtyFourthMs and
// the description of a player the session driver runs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "score/check.h"

namespace pitchime {

struct TempoStats {
    std::int32_t rowStart = 0;
    std::int32_t rowEnd = 0;
    std::int32_t quarterSum = 0;
};

extern TempoStats tempoStats;
extern std::int32_t sixtyFourthMs;

struct Player {
    void (*playScore)();
    PlayRules rules;
};

namespace threeVoice {
// 1 while counter v is stopped by its stop control word for a rest.
extern std::array<int, 3> voiceSilenced;
void playScore();
inline constexpr PlayRules rules{3, 0, -1};
}  // namespace threeVoice

namespace trill {
void playScore();
inline constexpr PlayRules rules{INT32_MAX, 3, 2};
}  // namespace trill

inline constexpr Player threeVoicePlayer{threeVoice::playScore, threeVoice::rules};
inline constexpr Player trillPlayer{trill::playScore, trill::rules};

// Sets the score's BPM from its first line and sixtyFourthMs from that.
void setTempo();

// The parts of a row both players share.
namespace rowFrame {
// 64 / L sixty-fourth notes, as printed and (in the three-voice player) waited.
std::int32_t durationMs(std::int32_t lengthValue);
// Stamps the end, prints "REAL:\t" and the elapsed ticks with two line ends,
// adds the row's quarter-note time to quarterSum, and reports a board that
// stopped taking writes during the row (`row`, from 0).
void finish(std::int32_t lengthValue, std::size_t row);
// Loads note's count into counter `address`, low byte then high byte, each
// register write followed by its trace line.
void writeCount(std::int32_t note, int address);
}  // namespace rowFrame

}  // namespace pitchime
