// The session driver: the entry point of both programs, from start-up to
// "Closed", and the interrupt release.
#pragma once

#include "playback/player.h"

namespace pitchime {

// Runs the whole session with `player`; returns the exit status.
int runSession(int argc, char** argv, const Player& player);

// The Ctrl+C release: prints its messages, rests the lines, closes the
// device and the score file, and ends the process with status 0.
[[noreturn]] void onInterrupt();

// Ends the process with `status` after runSession, unless an interrupt
// release is already ending it.
[[noreturn]] void finishProcess(int status);

}  // namespace pitchime
