// One run of a player on the tone board, from the open to the close, as
// plain data: owned by whoever runs it (a program's session, the renderer,
// a test, the fuzz target, a benchmark) and handed down to the run sequence
// and to the player, which play(Run&). The layers below take the parts
// they work on as arguments.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "board/board_port.h"
#include "board/divisor_table.h"
#include "score/score.h"

namespace pitchime {

// The tempo figures of the rows played so far, for the tempo report.
struct TempoStats {
    std::int32_t rowStart = 0;
    std::int32_t rowEnd = 0;
    std::int32_t quarterSum = 0;
};

struct Run {
    // What every run has, whatever it plays from: the board, with the frame
    // buffer of its register writes, and the count of every note for it.
    BoardPort boardPort;
    DivisorTable divisorTable;

    // The run ends once, by one of two owners: the main thread from its
    // closing step on, or the interrupt release. The owner rests and closes
    // the board and the score file and ends the process; the other stops
    // where it is.
    std::atomic<bool> ending{false};
    bool mainThreadEnds = false;  // the main thread owns the end; main thread only

    // What a run that plays a score adds; a run that plays from elsewhere
    // leaves it empty, and its score file never opened.
    ScoreFile scoreFile;
    Score score;
    std::int32_t sixtyFourthMs = 0;  // from score.bpm (sixtyFourthMsFor), set before play
    TempoStats tempoStats;
    // The three-voice player: counter v is stopped by its stop control word for a rest.
    std::array<bool, 3> counterStopped{};
};

// Puts back what playing changes (the board port, the end and the players'
// figures) to how a fresh Run has it, keeping the loaded score, so that one
// run can play its score again (the renderer, benchmarks). Not while an
// interrupt release may run.
void rewindRun(Run& run);

}  // namespace pitchime
