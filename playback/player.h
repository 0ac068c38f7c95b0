// The real-time players, what describes a player to the run sequence, and
// the parts of a row both players share. The players work on the run state
// (run_state.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "playback/run_state.h"
#include "score/check.h"

namespace pitchime {

struct Player {
    void (*playScore)();
    PlayRules rules;
};

namespace threeVoice {
void playScore();
inline constexpr PlayRules rules{.maxPart = 3, .minRowValues = 0, .noteColumns = NoteColumns::voiceColumns};
}  // namespace threeVoice

namespace trill {
void playScore();
inline constexpr PlayRules rules{
    .maxPart = INT32_MAX, .minRowValues = 3, .noteColumns = NoteColumns::firstTwo};
}  // namespace trill

inline constexpr Player threeVoicePlayer{threeVoice::playScore, threeVoice::rules};
inline constexpr Player trillPlayer{trill::playScore, trill::rules};

// Sets run.sixtyFourthMs from the loaded score's BPM.
void setTempo();

// Loads note's count into counter `address`, low byte then high byte, each
// register write followed by its trace line.
void writeNoteCount(std::int32_t note, int address);

// The time of a row, and the tempo figures kept of it.
namespace rowTiming {
// 64 / L sixty-fourth notes, as printed and (in the three-voice player) waited.
std::int32_t durationMs(std::int32_t lengthValue);
// Stamps the end, prints "REAL:\t" and the elapsed ticks with two line ends,
// adds the row's quarter-note time to quarterSum, and reports a board that
// stopped taking writes during the row (`row`, from 0).
void finish(std::int32_t lengthValue, std::size_t row);
}  // namespace rowTiming

}  // namespace pitchime
