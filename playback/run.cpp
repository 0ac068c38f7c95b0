#include "playback/run.h"

namespace pitchime {

void rewindRun(Run& run) {
    board::resetPort(run.boardPort);
    run.ending = false;
    run.mainThreadEnds = false;
    run.sixtyFourthMs = 0;
    run.tempoStats = TempoStats{};
    run.counterStopped = {};
}

}  // namespace pitchime
