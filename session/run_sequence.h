// The sequence every run of a player goes through, in the programs and in
// the renderer alike: open the board and configure it, start the counters,
// play the loaded score, rest the lines and close; and the interrupt release
// that ends a run on Ctrl+C. Where they differ is said in a RunPlan. Each
// step works on the Run it is handed; all but playRun serve a run that plays
// from elsewhere than a score as well.
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
std::uint32_t openRun(Run& run, const RunPlan& plan);

// Puts the three counters into square-wave mode, as every run does before
// it sounds anything, and tells the user if the board has stopped taking
// writes by then.
void startRun(Run& run);

// From the loaded score on: starts the counters (startRun), sets the tempo,
// plays, then rests the lines and closes the board and the score file
// (endRun).
void playRun(Run& run, const RunPlan& plan);

// The closing step of a run: from here on the main thread owns the end of
// the run (an interrupt release that has it already ends the process
// meanwhile); rests and closes the board, and closes the score file.
void endRun(Run& run);

// Has Ctrl+C run the interrupt release of `run` (onInterrupt) from now on,
// on a thread of its own. The one registration of the process: `run` must
// live until the process ends. Returns false if the platform refused.
bool installRelease(Run& run);

// The Ctrl+C release: prints its messages, rests the lines, closes the
// device and the score file, and ends the process with status 0. When the
// main thread has claimed the end, it waits for the main thread to end the
// process instead.
[[noreturn]] void onInterrupt(Run& run);

// Ends the process with `status` once the main thread is done with `run`,
// unless an interrupt release is already ending it.
[[noreturn]] void finishProcess(Run& run, int status);

}  // namespace pitchime
