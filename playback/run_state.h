// The state of the run: every process-wide instance the programs, the
// renderer and the players share, in one place. Plain data, one instance,
// alive for the whole process. The layers below take what they work on as
// an argument; the players, the session and the renderer reach it here.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

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

struct RunState {
    Score score;
    DivisorTable divisorTable;
    BoardPort boardPort;  // with the frame buffer of its register writes
    TempoStats tempoStats;
    std::int32_t sixtyFourthMs = 0;  // from score.bpm (sixtyFourthMsFor), set before play
    // The three-voice player: counter v is stopped by its stop control word for a rest.
    std::array<bool, 3> counterStopped{};

    ScoreFile scoreFile;
    std::string typedFileName;  // the file name typed at the prompt

    // The run ends once, by one of two owners: the main thread from its
    // closing step on, or the interrupt release. The owner rests and closes
    // the board and the file and ends the process; the other stops where it is.
    std::atomic<bool> ending{false};
    bool mainThreadEnds = false;  // the main thread owns the end; main thread only
};

extern RunState run;

// Puts all of the run state back to how a process starts, so that several
// runs can happen in one process (the renderer, tests, the fuzzer,
// benchmarks). Not while an interrupt release may run.
void resetRunState();

}  // namespace pitchime
