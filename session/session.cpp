#include "session/session.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>

#include "board/board_port.h"
#include "board/divisor_table.h"
#include "common/console.h"
#include "d2xx/d2xx.h"
#include "platform/platform.h"
#include "score/check.h"
#include "score/score.h"
#include "session/info.h"

namespace pitchime {

std::string typedFileName;

namespace {

// The score file, shared with the interrupt release. It is used only under
// the lock, and whoever closes it closes it for good: the other side then
// finds no file, and a file opened after that is not kept.
std::FILE* scoreFile = nullptr;
bool scoreFileClosed = false;
std::mutex scoreFileLock;

// The run ends once, by one of two owners: the main thread from its closing
// step on, or the interrupt release. The owner rests and closes the board
// and the file and ends the process; the other stops where it is.
std::atomic<bool> ending{false};
bool mainThreadEnds = false;  // the main thread owns the end; main thread only

bool claimEnd() {
    bool expected = false;
    return ending.compare_exchange_strong(expected, true);
}

// The main thread's claim: if the release has the end, the main thread
// waits here for the release to end the process.
void endOnMainThread() {
    if (mainThreadEnds) return;
    if (!claimEnd()) platform::waitForExit();
    mainThreadEnds = true;
}

void closeScoreFile() {
    std::lock_guard guard(scoreFileLock);
    if (scoreFile) std::fclose(scoreFile);
    scoreFile = nullptr;
    scoreFileClosed = true;
}

// Sets `error` to the system's reason when the file cannot be opened.
bool openScoreFile(const char* path, int& error) {
    // A directory opens for reading on some systems but holds no lines:
    // it counts as a file that cannot be opened.
    std::error_code ignored;
    const bool directory = std::filesystem::is_directory(path, ignored);
    std::FILE* f = directory ? nullptr : std::fopen(path, "rb");
    error = directory ? EISDIR : errno;
    std::lock_guard guard(scoreFileLock);
    if (scoreFileClosed && f) {
        std::fclose(f);
        f = nullptr;
    }
    scoreFile = f;
    return f != nullptr;
}

void loadScore() {
    // One block at a time under the lock, so that a release closing the
    // file waits for one block at most, never for a whole large file.
    static std::array<char, scoreBlockSize> block;
    LineReader reader;
    while (!reader.ended) {
        std::size_t got = 0;
        {
            std::lock_guard guard(scoreFileLock);
            if (scoreFile) got = std::fread(block.data(), 1, block.size(), scoreFile);
        }
        if (got == 0) break;
        readScoreBlock(reader, {block.data(), got});
    }
    finishScoreLines(reader);
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

// The closing step: from here on the main thread owns the end of the run.
void endRun() {
    endOnMainThread();
    board::restAndClose();
    closeScoreFile();
}

}  // namespace

void resetSession() {
    {
        std::lock_guard guard(scoreFileLock);
        if (scoreFile) std::fclose(scoreFile);
        scoreFile = nullptr;
        scoreFileClosed = false;
    }
    ending = false;
    mainThreadEnds = false;
    typedFileName.clear();
    score = Score{};
    sixtyFourthMs = 0;
    tempoStats = TempoStats{};
    threeVoice::voiceSilenced = {};
    boardPort = BoardPort{};
}

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
    const std::uint32_t status = board::restAndClose();
    console::lineUnsigned("FT_Close Result:\t", status);
    closeScoreFile();
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
    buildDivisorTable();
    console::clear();
    console::line("TRAVO for 8254Board by FT245R");
    console::line("Yarrow_Lune");
    console::line("Feb 2016");
    console::line();

    console::line("Opening FT245R...");
    const std::uint32_t openStatus = board::open();
    if (openStatus != 0) {
        console::lineUnsigned("Failed... Code: ", openStatus);
        console::note("Cannot open the board (code %u): %s", static_cast<unsigned>(openStatus),
                      d2xx::openFailureReason(openStatus));
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
    int openError = 0;
    const bool opened = openScoreFile(fileName, openError);
    console::line();
    if (!opened) {
        if (hasArgument || !typedFileName.empty()) console::line("Error!");
        noteScoreNotOpened(hasArgument || !typedFileName.empty() ? fileName : nullptr, openError);
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
    startCounters();
    board::reportWriteFailure(0);
    setTempo();

    {
        console::Hold wholeLine;
        console::text("Load File:\t");
        console::line(fileName);
    }
    console::lineInt("BPM:\t", score.bpm);
    console::lineInt("64th note time:\t", sixtyFourthMs);
    console::lineInt("PART:\t", score.part);
    console::line();
    noteScoreWarnings(score, player.rules);
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
    endOnMainThread();
    std::fflush(stdout);
    platform::exitNow(status);
}

}  // namespace pitchime
