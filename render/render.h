// Offline rendering: a score played by the programs' own players against
// the virtual tone board in virtual time, so that nothing waits, with the
// board's sound recorded to a WAV file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "playback/player.h"
#include "vboard/vboard.h"

namespace pitchime::render {

// How long the board goes on sounding after the last row before it is
// closed: a note still held at the end is heard ringing on, and the
// coupling capacitor settles after a final rest, instead of the file
// stopping dead at the end of the last row.
inline constexpr std::int32_t tailMs = 250;

// Loads the score at `path` into `run`, a fresh Run, as the programs do and
// checks it for `player`. Returns "" or one line saying what is wrong: why
// the file cannot be opened, or the checker's "Score error: ..." line. The
// run can then play its score as often as it is asked to below.
std::string loadScore(Run& run, const char* path, const Player& player);

struct Outcome {
    std::string error;                          // "" when the file was written
    std::int64_t samples = 0;                   // samples in the file
    std::int32_t sampleRate = 0;                // samples a second
    std::int64_t playedUs = 0;                  // from the start of the first row to the end of the last
    std::vector<vboard::RegisterWrite> writes;  // renderToWrites: what the board decoded
};

// Plays the run's loaded score with `player` as the programs do (rests the lines,
// programs the counters with their run control words, plays, rests the lines
// and closes), with the board recording to `wavPath` at `sampleRate` and the
// tail added before the close. The row and register trace goes to `trace`,
// or nowhere when it is null; nothing else is printed. The virtual board's
// other options come from the environment.
Outcome renderToWav(Run& run, const Player& player, const char* wavPath, std::int32_t sampleRate,
                    std::FILE* trace);

// Plays the same way without sound, and keeps the first `capacity` 8254
// register writes the board decodes, with their times since the start of
// the first row; more than that is an error.
Outcome renderToWrites(Run& run, const Player& player, std::size_t capacity, std::FILE* trace);

}  // namespace pitchime::render
