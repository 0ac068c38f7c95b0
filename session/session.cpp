#include "session/session.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "board/board_port.h"
#include "board/divisor_table.h"
#include "board/write_frame.h"
#include "common/console.h"
#include "platform/platform.h"
#include "score/check.h"
#include "score/score.h"

namespace pitchime {

std::string typedFileName;

namespace {

// The score file, shared with the interrupt release: whoever closes it
// first does so under the lock, and the other side then finds it closed.
std::FILE* scoreFile = nullptr;
std::mutex scoreFileLock;

// The run ends once: either the main thread reaches its end, or the
// interrupt release runs. Whoever comes second waits for the process to end.
std::atomic<bool> ending{false};

[[noreturn]] void waitForProcessEnd() {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

bool claimEnd() {
    bool expected = false;
    return ending.compare_exchange_strong(expected, true);
}

void closeScoreFile() {
    std::lock_guard guard(scoreFileLock);
    if (scoreFile) std::fclose(scoreFile);
    scoreFile = nullptr;
}

bool openScoreFile(const char* path) {
    // A directory opens for reading on some systems but holds no lines:
    // it counts as a file that cannot be opened.
    std::error_code ignored;
    std::FILE* f = std::filesystem::is_directory(path, ignored) ? nullptr : std::fopen(path, "rb");
    std::lock_guard guard(scoreFileLock);
    scoreFile = f;
    return f != nullptr;
}

void loadScore() {
    std::lock_guard guard(scoreFileLock);
    if (scoreFile) readScoreLines(scoreFile);
    parseScore();
}

// Reads one line of standard input without its newline; blanks stay.
void readTypedFileName() {
    for (int c; (c = std::fgetc(stdin)) != EOF && c != '\n';) typedFileName.push_back(static_cast<char>(c));
}

void printTempoReport() {
    console::line();
    console::lineInt("Set BPM\t\t\t:\t", score.bpm);
    // Taken as unsigned, as a measured length can never be negative.
    const auto quarter = static_cast<std::uint32_t>(
        static_cast<std::uint64_t>(static_cast<std::uint32_t>(tempoStats.quarterSum)) / score.rowCount());
    console::format("Quarter Note length\t:\t%lums", static_cast<unsigned long>(quarter));
    console::line();
    // A quarter shorter than 1 ms gives 60000 / 0: printed as inf.
    console::format("Measurement BPM\t\t:\t%g", 60000.0 / static_cast<double>(quarter));
    console::line();
}

void endRun() {
    board::writeIdle();
    board::close();
    closeScoreFile();
}

}  // namespace

void onInterrupt() {
    if (!claimEnd()) waitForProcessEnd();
    console::line();
    console::line("Ctrl + C Interreput Catched");
    console::line("Releasing Handles...");
    board::writeIdle();
    const std::uint32_t status = board::close();
    console::lineUnsigned("FT_Close Result:\t", status);
    closeScoreFile();
    console::line("Released");
    platform::restoreConsole();
    std::fflush(stdout);
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
    buildDivisorTable();
    platform::clearConsole();
    console::line("TRAVO for 8254Board by FT245R");
    console::line("Yarrow_Lune");
    console::line("Feb 2016");
    console::line();

    console::line("Opening FT245R...");
    const std::uint32_t openStatus = board::open();
    if (openStatus != 0) {
        console::text("Failed...");
        console::text(" Code: ");
        console::lineUnsigned("", openStatus);
        return 0;
    }
    console::text("Successed!\n");
    board::configure();

    const bool hasArgument = argc > 1;
    if (!hasArgument) {
        console::text("Open File:");
        readTypedFileName();
    }
    const char* fileName = hasArgument ? argv[1] : typedFileName.c_str();
    const bool opened = openScoreFile(fileName);
    console::line();
    if (!opened) {
        if (hasArgument || !typedFileName.empty()) console::line("Error!");
        return 0;
    }
    console::line("Opened!");
    console::line();

    loadScore();
    if (std::string problem = checkScore(score, player.rules); !problem.empty()) {
        console::line(problem);
        endRun();
        return 0;
    }
    for (int counter = 0; counter < 3; ++counter) writeRegister(runControlWords[counter], controlWordAddress);

    score.bpm = readNumber(score.line(0));
    sixtyFourthMs = sixtyFourthMsFor(score.bpm);

    console::text("Load File:\t");
    console::line(fileName);
    console::lineInt("BPM:\t", score.bpm);
    console::lineInt("64th note time:\t", sixtyFourthMs);
    console::lineInt("PART:\t", score.part);
    console::line();
    console::line("READY?");
    platform::waitKey();

    platform::beginTimerResolution();
    player.playScore();
    platform::endTimerResolution();

    printTempoReport();
    endRun();
    console::line();
    console::line("Closed");
    return 0;
}

void finishProcess(int status) {
    // Once the end is claimed, an interrupt release can no longer start; if
    // one already runs, it ends the process itself.
    if (!claimEnd()) waitForProcessEnd();
    std::fflush(stdout);
    platform::exitNow(status);
}

}  // namespace pitchime
