// What the end-to-end tests share: the programs' fixed output, a run
// against the virtual board with its trace, and the checks of a transcript
// and of a trace's end.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "support/run_program.h"
#include "support/trace.h"

namespace pitchime::test {

std::vector<std::string> splitLines(const std::string& text);

// Compares a transcript line by line. An expected line ending in '*'
// matches any line with that prefix followed by a number of at least the
// value given after the '*' (for measured times), e.g. "REAL:\t*16".
void expectTranscript(const std::string& actual, const std::string& expected);

// From "Initializing..." to "Opening FT245R..."; on a terminal the console
// is cleared after "Initializing...".
std::string banner(bool onTerminal = false);

// From "Successed!" to the READY line of the configured virtual board.
std::string deviceReport(int devices = 1);

// From "Opened!" to "READY?" for a score file.
std::string header(const std::string& score, int bpm, int sixtyFourthMs, int part);

// What the interrupt release prints, with the status of its FT_Close.
std::string released(unsigned closeStatus = 0);

// The worked example at 3750 BPM, so that a sixty-fourth note lasts 1 ms.
extern const std::string fourRows;

// The three control words of a run, as (address, value) register writes.
extern const std::vector<std::pair<int, int>> runControlWords;

// Runs a program against the virtual board with a trace of its own.
struct BoardRun {
    RunResult result;
    std::vector<TraceEvent> trace;
};
BoardRun runWithBoard(const std::string& program, RunOptions options, const std::string& traceName);

// What the board saw at the end of a run: every write a whole frame or the
// idle pattern, no protocol violation, and the idle pattern then the one
// close as the last two calls, so that nothing reached it after the close.
void expectCleanEnd(const std::vector<TraceEvent>& trace);

}  // namespace pitchime::test
