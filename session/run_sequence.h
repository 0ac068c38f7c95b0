// The sequence every run of a player goes through, in the programs and in
// the renderer alike: open the board and configure it, start the counters,
// play the loaded score, rest the lines and close. Where they differ is said
// in a RunPlan.
#pragma once

#include <cstdint>
#include <cstdio>

#include "playback/player.h"

namespace pitchime {

struct RunPlan {
    const Player* player = nullptr;
    // The programs' console session: "Successed!" after the open, the
    // score's header, "READY?" and a key before play, the tempo report and
    // "Closed" after it, with the playing thread's timer at its finest.
    // Without it the console (silenced by the caller) prints only the play
    // trace, to `playTrace` (nowhere when null).
    bool interactive = true;
    std::FILE* playTrace = nullptr;
    // The score's name in the header.
    const char* scoreName = "";
    // How long the board goes on sounding after the last row before it is
    // closed.
    std::int32_t tailMs = 0;
};

// Opens the board and configures it. Returns the status of the open, 0 when
// the board is open; a program prints its "Failed... Code: N".
std::uint32_t openRun(const RunPlan& plan);

// From the loaded score on: starts the counters, sets the tempo, plays,
// then rests the lines and closes the board and the score file (endRun).
void playRun(const RunPlan& plan);

// The closing step of a run: from here on the main thread owns the end of
// the run (an interrupt release that has it already ends the process
// meanwhile); rests and closes the board, and closes the score file.
void endRun();

// The main thread's claim on the end of the run, at its closing step or at
// the end of the process: if the interrupt release has the end, the main
// thread waits here for the release to end the process.
void endOnMainThread();

// The interrupt release's claim on the end: false when the main thread has it.
bool claimEnd();

}  // namespace pitchime
