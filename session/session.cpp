#include "session/session.h"

#include <cstdio>
#include <string>

#include "console/console.h"
#include "d2xx/d2xx.h"
#include "score/check.h"
#include "session/info.h"
#include "session/run_sequence.h"

namespace pitchime {

namespace {

// Reads one line of standard input without its newline; blanks stay.
void readTypedFileName(std::string& name) {
    for (int c; (c = std::fgetc(stdin)) != EOF && c != '\n';) name.push_back(static_cast<char>(c));
}

}  // namespace

int runSession(Run& run, const char* scoreName, const Player& player) {
    // Standard output is written at the console's flushes only, the same
    // on a terminal as on a pipe or a file.
    console::bufferFully(stdout);
    if (!installRelease(run)) {
        // Misspelt, and kept so: users' scripts may match the programs' output.
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
    if (const std::uint32_t openStatus = openRun(run, plan); openStatus != 0) {
        console::lineUnsigned("Failed... Code: ", openStatus);
        console::note("Cannot open the board (code %u): %s", static_cast<unsigned>(openStatus),
                      d2xx::openFailureReason(openStatus));
        return 0;
    }

    const bool hasArgument = scoreName != nullptr;
    std::string typedFileName;  // the file name typed at the prompt
    if (!hasArgument) {
        console::text("Open File:");
        readTypedFileName(typedFileName);
    }
    plan.scoreName = hasArgument ? scoreName : typedFileName.c_str();
    int openError = 0;
    const bool opened = openScoreFile(run.scoreFile, plan.scoreName, openError);
    console::line();
    if (!opened) {
        const bool named = hasArgument || !typedFileName.empty();
        if (named) console::line("Error!");
        noteScoreNotOpened(named ? plan.scoreName : nullptr, openError);
        return 0;
    }
    console::line("Opened!");
    console::line();

    loadScore(run.scoreFile, run.score);
    if (std::string problem = checkScore(run.score, player.rules); !problem.empty()) {
        console::line(problem);
        endRun(run);
        return 0;
    }
    playRun(run, plan);
    return 0;
}

void runProgram(const char* scoreName, const Player& player) {
    // Alive until the process ends, as the interrupt release needs it:
    // finishProcess never returns.
    Run run;
    finishProcess(run, runSession(run, scoreName, player));
}

}  // namespace pitchime
