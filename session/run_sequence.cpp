#include "session/run_sequence.h"

#include <cstdint>

#include "console/console.h"
#include "platform/platform.h"
#include "session/info.h"

namespace pitchime {

namespace {

void printHeader(const Run& run, const RunPlan& plan) {
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

void printTempoReport(const Run& run) {
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

// A claim on the end of the run, by either owner: false when the other has it.
bool claimEnd(Run& run) {
    bool expected = false;
    return run.ending.compare_exchange_strong(expected, true);
}

// The main thread's claim on the end of the run, at its closing step or at
// the end of the process: if the interrupt release has the end, the main
// thread waits here for the release to end the process.
void endOnMainThread(Run& run) {
    if (run.mainThreadEnds) return;
    if (!claimEnd(run)) platform::waitForExit();
    run.mainThreadEnds = true;
}

}  // namespace

void endRun(Run& run) {
    endOnMainThread(run);
    board::restAndClose(run.boardPort);
    closeScoreFile(run.scoreFile);
}

std::uint32_t openRun(Run& run, const RunPlan& plan) {
    const std::uint32_t status = board::open(run.boardPort);
    if (status != 0) return status;
    // Misspelt, and kept so: users' scripts may match the programs' output.
    if (plan.interactive) console::text("Successed!\n");
    board::configure(run.boardPort);
    return status;
}

void startRun(Run& run) {
    startCounters(run.boardPort);
    board::reportWriteFailure(run.boardPort, 0);
}

void playRun(Run& run, const RunPlan& plan) {
    startRun(run);
    setTempo(run);
    if (plan.interactive) {
        printHeader(run, plan);
        platform::waitKey();
        platform::beginTimerResolution();
    } else {
        console::setStream(plan.playTrace);
    }
    plan.player->play(run);
    if (plan.interactive) {
        platform::endTimerResolution();
        printTempoReport(run);
    } else {
        console::setStream(nullptr);
    }
    if (plan.tailMs > 0) platform::sleepMs(plan.tailMs);
    endRun(run);
    if (plan.interactive) {
        console::line();
        console::line("Closed");
    }
}

bool installRelease(Run& run) {
    return platform::installInterrupt([](void* released) { onInterrupt(*static_cast<Run*>(released)); },
                                      &run);
}

void onInterrupt(Run& run) {
    // Second comers wait for the end: the main thread has begun its own
    // closing and finishes it, or this is a further Ctrl+C on a platform
    // that delivers one while the release runs.
    if (!claimEnd(run)) platform::waitForExit();
    // The terminal first, so that the user gets it back whatever follows.
    platform::restoreConsole();
    // From here on only the release prints: the main thread's line in
    // progress comes out whole before it, and its next one waits for good.
    console::seize();
    console::line();
    // Misspelt, and kept so: users' scripts may match the programs' output.
    console::line("Ctrl + C Interreput Catched");
    console::line("Releasing Handles...");
    // One step, so that no frame of the player comes between the two.
    const std::uint32_t status = board::restAndClose(run.boardPort);
    console::lineUnsigned("FT_Close Result:\t", status);
    closeScoreFile(run.scoreFile);
    console::line("Released");
    platform::exitNow(0);
}

void finishProcess(Run& run, int status) {
    endOnMainThread(run);
    std::fflush(stdout);
    platform::exitNow(status);
}

}  // namespace pitchime
