#include "session/run_sequence.h"

#include <cstdint>

#include "common/console.h"
#include "platform/platform.h"
#include "session/info.h"

namespace pitchime {

namespace {

void printHeader(const RunPlan& plan) {
    {
        console::Hold wholeLine;
        console::text("Load File:\t");
        console::line(plan.scoreName);
    }
    console::lineInt("BPM:\t", run.score.bpm);
    console::lineInt("64th note time:\t", run.sixtyFourthMs);
    console::lineInt("PART:\t", run.score.part);
    console::line();
    noteScoreWarnings(run.score, plan.player->rules);
    console::line("READY?");
}

void printTempoReport() {
    console::line();
    console::lineInt("Set BPM\t\t\t:\t", run.score.bpm);
    // Taken as unsigned, as a measured length can never be negative.
    const auto quarter = static_cast<std::uint32_t>(
        static_cast<std::uint64_t>(static_cast<std::uint32_t>(run.tempoStats.quarterSum)) /
        run.score.rowCount());
    {
        console::Hold wholeLine;
        console::format("Quarter Note length\t:\t%lums", static_cast<unsigned long>(quarter));
        console::line();
    }
    {
        console::Hold wholeLine;
        // A quarter shorter than 1 ms gives 60000 / 0: printed as inf.
        console::format("Measurement BPM\t\t:\t%g", 60000.0 / static_cast<double>(quarter));
        console::line();
    }
}

}  // namespace

bool claimEnd() {
    bool expected = false;
    return run.ending.compare_exchange_strong(expected, true);
}

void endOnMainThread() {
    if (run.mainThreadEnds) return;
    if (!claimEnd()) platform::waitForExit();
    run.mainThreadEnds = true;
}

void endRun() {
    endOnMainThread();
    board::restAndClose(run.boardPort);
    closeScoreFile(run.scoreFile);
}

std::uint32_t openRun(const RunPlan& plan) {
    const std::uint32_t status = board::open(run.boardPort);
    if (status != 0) return status;
    if (plan.interactive) console::text("Successed!\n");
    board::configure(run.boardPort);
    return status;
}

void playRun(const RunPlan& plan) {
    startCounters(run.boardPort);
    board::reportWriteFailure(run.boardPort, 0);
    setTempo();
    if (plan.interactive) {
        printHeader(plan);
        platform::waitKey();
        platform::beginTimerResolution();
    } else {
        console::setStream(plan.playTrace);
    }
    plan.player->playScore();
    if (plan.interactive) {
        platform::endTimerResolution();
        printTempoReport();
    } else {
        console::setStream(nullptr);
    }
    if (plan.tailMs > 0) platform::sleepMs(plan.tailMs);
    endRun();
    if (plan.interactive) {
        console::line();
        console::line("Closed");
    }
}

}  // namespace pitchime
