// The Windows programs under wine, beyond the shared end-to-end tests: the
// text conventions of Windows, the driver library bound when a program
// loads, and Ctrl+C. Wine turns a SIGINT sent to the program into the
// console's Ctrl+C event, on a thread of its own, as Windows does for a key
// press; the C runtime then runs the program's SIGINT handler there.
//
// Started this way a program has no console, as on Windows when it is
// started detached: "cls" is not run and "READY?" does not wait for a key,
// so Ctrl+C at "READY?" cannot be tested here.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/transcript.h"

namespace pitchime::test {
namespace {

TEST(Windows, TextWrittenTheWindowsWay) {
    // A score saved by a Windows editor (CR LF line ends), its name typed at
    // the console (which hands the program "name\r\n"): the run is the one
    // of the same score with "\n" line ends.
    std::string crlfRows;
    for (char c : fourRows) crlfRows += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const std::string lfScore = writeTempFile("lf.txt", fourRows);
    const std::string crlfScore = writeTempFile("crlf.txt", crlfRows);
    const BoardRun lf = runWithBoard("pitchime", {.args = {lfScore}}, "lf-text");
    const BoardRun crlf = runWithBoard("pitchime", {.input = crlfScore + "\r\n"}, "crlf-text");

    EXPECT_EQ(crlf.result.status, 0);
    EXPECT_NE(crlf.result.out.find("Open File:" + header(crlfScore, 3750, 1, 3) + "60,64,67,4\n16\n"),
              std::string::npos)
        << crlf.result.out;
    EXPECT_TRUE(crlf.result.out.ends_with("\nClosed\n"));
    EXPECT_FALSE(registerWrites(lf.trace).empty());
    EXPECT_EQ(registerWrites(crlf.trace), registerWrites(lf.trace));
    expectCleanEnd(crlf.trace);

    // Standard output is in text mode: every line ends "\r\n".
    const std::string& raw = crlf.result.rawOut;
    for (std::size_t i = raw.find('\n'); i != std::string::npos; i = raw.find('\n', i + 1)) {
        ASSERT_TRUE(i > 0 && raw[i - 1] == '\r') << "bare line end at byte " << i;
    }
}

TEST(Windows, ProgramsNeedTheDriverLibrary) {
    // FTD2XX.dll is bound when the program loads: without it the program
    // never starts. Windows says so in a message box and ends it with
    // STATUS_DLL_NOT_FOUND; wine says so on standard error when its loader
    // may report errors, and ends it with a status of its own.
    const std::filesystem::path alone = tempPath("without-driver");
    std::filesystem::create_directories(alone);
    for (const char* program : {"pitchime", "pitchime-trill"}) {
        SCOPED_TRACE(program);
        const std::filesystem::path copy = alone / (std::string(program) + ".exe");
        std::filesystem::copy_file(programPath(program), copy,
                                   std::filesystem::copy_options::overwrite_existing);
        const RunResult result = run(copy.string(), {.env = {{"WINEDEBUG", "-all,err+module"}}});
        EXPECT_NE(result.status, 0);
        EXPECT_EQ(result.out, "");
        EXPECT_NE(result.err.find("FTD2XX.dll"), std::string::npos) << result.err;
    }
}

TEST(WindowsInterrupt, DuringPlay) {
    // At 1 BPM a sixty-fourth note lasts 3750 ms: the interrupt comes while
    // the player waits after its first writes, so the transcript is exact.
    const struct {
        const char* program;
        std::string score;
        int part;
        std::string played;
    } cases[] = {
        {"pitchime", "1\n1\n69,64\n57,64\n", 1, "69,64\n3750\nWRITE_LOW:\t\t152\nWRITE_HIGH:\t\t10\n\n\n"},
        {"pitchime-trill", "1\n2\n69,57,16\n57,69,16\n", 2,
         "69,57,16\n15000\nWRITE_LOW:\t\t152\nWRITE_HIGH:\t\t10\n\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program);
        const std::string score = writeTempFile("slow.txt", c.score);
        const BoardRun run =
            runWithBoard(c.program, {.args = {score}, .interruptAfter = "READY?\n" + c.played},
                         std::string("play-") + c.program);
        EXPECT_EQ(run.result.status, 0);
        EXPECT_EQ(run.result.err, "");
        EXPECT_EQ(run.result.out,
                  banner() + deviceReport() + header(score, 1, 3750, c.part) + c.played + released());
        auto expected = runControlWords;
        expected.insert(expected.end(), {{0, 152}, {0, 10}});
        EXPECT_EQ(registerWrites(run.trace), expected);
        expectCleanEnd(run.trace);
    }
}

TEST(WindowsInterrupt, AtThePrompt) {
    // Standard input stays open: the main thread is blocked reading it.
    for (const char* program : {"pitchime", "pitchime-trill"}) {
        SCOPED_TRACE(program);
        const BoardRun run = runWithBoard(program, {.interruptAfter = "Open File:", .holdInput = true},
                                          std::string("prompt-") + program);
        EXPECT_EQ(run.result.status, 0);
        EXPECT_EQ(run.result.out, banner() + deviceReport() + "Open File:" + released());
        EXPECT_TRUE(registerWrites(run.trace).empty());
        expectCleanEnd(run.trace);
    }
}

TEST(WindowsInterrupt, WhileTheDriverOpensTheDevice) {
    // The interrupt comes while the main thread is inside FT_Open, which
    // takes a minute here: the release closes a session that is not open
    // yet, reports FT_INVALID_HANDLE and ends the process; the board hears
    // nothing.
    const BoardRun run = runWithBoard(
        "pitchime",
        {.env = {{"PITCHIME_VBOARD_OPEN_DELAY_MS", "60000"}}, .interruptAfter = "Opening FT245R...\n"},
        "opening");
    EXPECT_EQ(run.result.status, 0);
    EXPECT_EQ(run.result.out, banner() + released(1));
    EXPECT_TRUE(calls(run.trace).empty());
}

}  // namespace
}  // namespace pitchime::test
