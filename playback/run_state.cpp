#include "playback/run_state.h"

namespace pitchime {

RunState run;

void resetRunState() {
    run.score = Score{};
    run.divisorTable = DivisorTable{};
    board::resetPort(run.boardPort);
    run.tempoStats = TempoStats{};
    run.sixtyFourthMs = 0;
    run.counterStopped = {};
    resetScoreFile(run.scoreFile);
    run.typedFileName.clear();
    run.ending = false;
    run.mainThreadEnds = false;
}

}  // namespace pitchime
