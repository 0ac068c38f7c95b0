#include "session/session.h"

#include <cstdio>
#include <string>

#include "common/console.h"
#include "d2xx/d2xx.h"
#include "platform/platform.h"
#include "score/check.h"
#include "session/info.h"
#include "session/run_sequence.h"

namespace pitchime {

namespace {

// Reads one line of standard input without its newline; blanks stay.
void readTypedFileName() {
    for (int c; (c = std::fgetc(stdin)) != EOF && c != '\n';)
        run.typedFileName.push_back(static_cast<char>(c));
}

}  // namespace

void onInterrupt() {
    // Second comers wait for the end: the main thread has begun its own
    // closing and finishes it, or this is a further Ctrl+C on a platform
    // that delivers one while the release runs.
    if (!claimEnd()) platform::waitForExit();
    // The terminal first, so that the user gets it back whatever follows.
    platform::restoreConsole();
    // From here on only the release prints: the main thread's line in
    // progress comes out whole before it, and its next one waits for good.
    console::seize();
    console::line();
    console::line("Ctrl + C Interreput Catched");
    console::line("Releasing Handles...");
    // One step, so that no frame of the player comes between the two.
    const std::uint32_t status = board::restAndClose(run.boardPort);
    console::lineUnsigned("FT_Close Result:\t", status);
    closeScoreFile(run.scoreFile);
    console::line("Released");
    platform::exitNow(0);
}

int runSession(int argc, char** argv, const Player& player) {
    // Standard output is written at the console's flushes only, the same
    // on a terminal as on a pipe or a file.
    console::bufferFully(stdout);
    if (!platform::installInterrupt(onInterrupt)) {
        console::line("Interreput Setting Error!!!");
        return 1;
    }
    console::text("Initializing...");
    buildDivisorTable(run.divisorTable);
    console::clear();
    console::line("TRAVO for 8254Board by FT245R");
    console::line("Yarrow_Lune");
    console::line("Feb 2016");
    console::line();

    RunPlan plan{.player = &player};
    console::line("Opening FT245R...");
    if (const std::uint32_t openStatus = openRun(plan); openStatus != 0) {
        console::lineUnsigned("Failed... Code: ", openStatus);
        console::note("Cannot open the board (code %u): %s", static_cast<unsigned>(openStatus),
                      d2xx::openFailureReason(openStatus));
        return 0;
    }

    const bool hasArgument = argc > 1;
    if (!hasArgument) {
        console::text("Open File:");
        readTypedFileName();
    }
    plan.scoreName = hasArgument ? argv[1] : run.typedFileName.c_str();
    int openError = 0;
    const bool opened = openScoreFile(run.scoreFile, plan.scoreName, openError);
    console::line();
    if (!opened) {
        const bool named = hasArgument || !run.typedFileName.empty();
        if (named) console::line("Error!");
        noteScoreNotOpened(named ? plan.scoreName : nullptr, openError);
        return 0;
    }
    console::line("Opened!");
    console::line();

    loadScore(run.scoreFile, run.score);
    if (std::string problem = checkScore(run.score, player.rules); !problem.empty()) {
        console::line(problem);
        endRun();
        return 0;
    }
    playRun(plan);
    return 0;
}

void finishProcess(int status) {
    endOnMainThread();
    std::fflush(stdout);
    platform::exitNow(status);
}

}  // namespace pitchime
