// The session driver: the entry point of both programs, from start-up to
// "Closed".
#pragma once

#include "playback/player.h"

namespace pitchime {

// Runs the whole session with `player` on `run`, a fresh Run that lives
// until the process ends (the interrupt release is installed on it), on the
// score file `scoreName`, or on the name typed at the prompt when it is
// null; returns the exit status.
int runSession(Run& run, const char* scoreName, const Player& player);

// A program's whole process: the session on a run of its own, then the end
// of the process with the session's exit status.
[[noreturn]] void runProgram(const char* scoreName, const Player& player);

}  // namespace pitchime
