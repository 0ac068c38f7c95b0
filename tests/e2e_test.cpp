// The built programs, run as a user runs them, against the virtual board:
// the exact console transcript and what the board saw.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "support/hostile.h"
#include "support/transcript.h"

namespace pitchime::test {
namespace {

// The end of a run at 3750 BPM, with the measured figures left open.
const std::string tempoReport =
    "\nSet BPM\t\t\t:\t3750\nQuarter Note length\t:\t*\nMeasurement BPM\t\t:\t*\n\nClosed\n";

TEST(EndToEnd, ThreeVoiceFullRunFromArgument) {
    const std::string score = writeTempFile("four-rows.txt", fourRows);
    BoardRun run = runWithBoard("pitchime", {.args = {score, "ignored", "too"}}, "full3");
    EXPECT_EQ(run.result.status, 0);
    EXPECT_EQ(run.result.err, "");
    expectTranscript(run.result.out,
                     banner() + deviceReport() + header(score, 3750, 1, 3) +
                         "60,64,67,4\n16\nWRITE_LOW:\t\t209\nWRITE_HIGH:\t\t17\n\nWRITE_LOW:\t\t36\n"
                         "WRITE_HIGH:\t\t14\n\nWRITE_LOW:\t\t228\nWRITE_HIGH:\t\t11\n\n\nREAL:\t*16\n\n"
                         "62,0,0,8\n8\nWRITE_LOW:\t\t223\nWRITE_HIGH:\t\t15\n\n\n\n\nREAL:\t*8\n\n"
                         "0,0,0,8\n8\n\n\n\n\nREAL:\t*8\n\n"
                         "72,76,79,2\n32\nWRITE_LOW:\t\t232\nWRITE_HIGH:\t\t8\n\nWRITE_LOW:\t\t18\n"
                         "WRITE_HIGH:\t\t7\n\nWRITE_LOW:\t\t242\nWRITE_HIGH:\t\t5\n\n\nREAL:\t*32\n\n" +
                         tempoReport);
    // Resting the lines, three control words, 22 writes of play, resting again.
    std::vector<std::string> expectedCalls{"FT_Open", "FT_CreateDeviceInfoList", "FT_GetDeviceInfoDetail",
                                           "FT_SetBaudRate", "FT_SetBitMode"};
    expectedCalls.insert(expectedCalls.end(), 1 + 3 + 22 + 1, "FT_Write");
    expectedCalls.push_back("FT_Close");
    EXPECT_EQ(calls(run.trace), expectedCalls);
    auto expected = runControlWords;
    expected.insert(expected.end(),
                    {{0, 209},  {0, 17},   {1, 36},   {1, 14},   {2, 228},  {2, 11},   {0, 223},  {0, 15},
                     {3, 0x72}, {3, 0xB2}, {3, 0x32}, {3, 0x72}, {3, 0xB2}, {3, 0x36}, {3, 0x76}, {3, 0xB6},
                     {0, 232},  {0, 8},    {1, 18},   {1, 7},    {2, 242},  {2, 5}});
    EXPECT_EQ(registerWrites(run.trace), expected);
    expectCleanEnd(run.trace);
}

TEST(EndToEnd, TrillFullRunFromPrompt) {
    const std::string score = writeTempFile("trill.txt", "3750\n2\n60,64,16\n69,69,64\n");
    BoardRun run = runWithBoard("pitchime-trill", {.input = score + "\n"}, "full-trill");
    EXPECT_EQ(run.result.status, 0);
    expectTranscript(run.result.out,
                     banner() + deviceReport() + "Open File:" + header(score, 3750, 1, 2) + "60,64,16\n4\n" +
                         "WRITE_LOW:\t\t209\nWRITE_HIGH:\t\t17\n\nWRITE_LOW:\t\t36\nWRITE_HIGH:\t\t14\n\n"
                         "WRITE_LOW:\t\t209\nWRITE_HIGH:\t\t17\n\nWRITE_LOW:\t\t36\nWRITE_HIGH:\t\t14\n\n"
                         "REAL:\t*4\n\n69,69,64\n1\nREAL:\t*0\n\n" +
                         tempoReport);
    auto expected = runControlWords;
    expected.insert(expected.end(),
                    {{0, 209}, {0, 17}, {0, 36}, {0, 14}, {0, 209}, {0, 17}, {0, 36}, {0, 14}});
    EXPECT_EQ(registerWrites(run.trace), expected);
    expectCleanEnd(run.trace);
}

TEST(EndToEnd, PromptWithBlanksKeepsThem) {
    // Blanks around a typed name are part of the name. Windows drops blanks
    // at the end of a file name when it opens the file, so there the name
    // typed opens " spaced.txt", still shown with its blank.
    writeTempFile(underWine() ? " spaced.txt" : " spaced.txt ", fourRows);
    BoardRun run = runWithBoard("pitchime", {.input = tempPath(" spaced.txt ") + "\nmore input\n"}, "spaced");
    EXPECT_NE(run.result.out.find("Load File:\t" + tempPath(" spaced.txt ") + "\n"), std::string::npos);
    EXPECT_NE(run.result.out.find("\nClosed\n"), std::string::npos);
}

TEST(EndToEnd, FileThatCannotBeOpened) {
    struct Case {
        const char* name;
        RunOptions options;
        std::string tail;
    };
    const std::string missing = tempPath("no-such-score.txt");
    const std::vector<Case> cases = {
        {"empty typed name", {.input = "\n"}, "Open File:\n"},
        {"end of input", {}, "Open File:\n"},
        {"missing typed name", {.input = missing + "\n"}, "Open File:\nError!\n"},
        {"missing argument", {.args = {missing}}, "\nError!\n"},
        {"directory argument", {.args = {tempPath("")}}, "\nError!\n"},
    };
    for (const auto& c : cases) {
        for (const char* program : {"pitchime", "pitchime-trill"}) {
            SCOPED_TRACE(std::string(program) + ": " + c.name);
            BoardRun run = runWithBoard(program, c.options, "nofile");
            EXPECT_EQ(run.result.status, 0);
            EXPECT_EQ(run.result.out, banner() + deviceReport() + c.tail);
            // The lines stay at rest from configuring; nothing more is sent.
            EXPECT_EQ(calls(run.trace).back(), "FT_Write");
            EXPECT_EQ(registerWrites(run.trace).size(), 0u);
        }
    }
}

TEST(EndToEnd, NoDeviceEndsAfterOpen) {
    for (const char* program : {"pitchime", "pitchime-trill"}) {
        BoardRun run = runWithBoard(
            program, {.args = {"whatever.txt"}, .env = {{"PITCHIME_VBOARD_DEVICES", "0"}}}, "nodev");
        EXPECT_EQ(run.result.status, 0);
        EXPECT_EQ(run.result.out, banner() + "Failed... Code: 2\n");
        EXPECT_EQ(calls(run.trace), (std::vector<std::string>{"FT_Open"}));
    }
}

TEST(EndToEnd, SecondDeviceIsListedButNotUsed) {
    const std::string score = writeTempFile("one.txt", "3750\n1\n69,64\n");
    BoardRun run =
        runWithBoard("pitchime", {.args = {score}, .env = {{"PITCHIME_VBOARD_DEVICES", "2"}}}, "twodev");
    EXPECT_NE(run.result.out.find(deviceReport(2)), std::string::npos);
    expectCleanEnd(run.trace);
}

// What a program must have printed, and what the board must have seen, for
// a score with the outcome `outcome` ("plays" or a refusal).
void expectOutcome(const BoardRun& run, const std::string& outcome) {
    EXPECT_EQ(run.result.status, 0);
    // Standard error holds nothing but the warnings of a score that plays.
    std::istringstream err(run.result.err);
    for (std::string line; std::getline(err, line);) EXPECT_TRUE(line.starts_with("Score warning: ")) << line;
    if (outcome == "plays") {
        EXPECT_TRUE(run.result.out.ends_with("\nClosed\n")) << run.result.out;
    } else {
        EXPECT_EQ(run.result.out, banner() + deviceReport() + "\nOpened!\n\n" + outcome + "\n");
        EXPECT_TRUE(registerWrites(run.trace).empty());
    }
    expectCleanEnd(run.trace);
}

TEST(EndToEnd, HostileScoresGetTheirOutcome) {
    for (const auto& c : hostileManifest().cases) {
        SCOPED_TRACE(c.file);
        expectOutcome(runWithBoard("pitchime", {.args = {hostilePath(c.file)}}, "hostile"), c.pitchime);
        expectOutcome(runWithBoard("pitchime-trill", {.args = {hostilePath(c.file)}}, "hostile"), c.trill);
    }
}

TEST(EndToEnd, LargeHostileScoresAreRefusedAtTheirBadLine) {
    // A million good rows and a bad one; a line of a million commas.
    std::string rows = "3750\n2\n";
    for (int i = 0; i < 1'000'000; ++i) rows += "60,64,4\n";
    rows += "60,64,0\n";
    const std::string million = writeTempFile("million-rows.txt", rows);
    const std::string commas =
        writeTempFile("million-commas.txt", "3750\n3\n" + std::string(1'000'000, ',') + "\n");
    for (const char* program : {"pitchime", "pitchime-trill"}) {
        SCOPED_TRACE(program);
        expectOutcome(runWithBoard(program, {.args = {million}}, "million"),
                      "Score error: line 1000003: length value 0 in column 3, it must be 1 or more");
        expectOutcome(runWithBoard(program, {.args = {commas}}, "commas"),
                      "Score error: line 3: length value 0 in column 4, it must be 1 or more");
    }
}

// A transcript with the measured figures (row times, tempo report) blanked.
std::string withoutMeasurements(const std::string& transcript) {
    std::string out;
    for (const std::string& line : splitLines(transcript)) {
        bool measured = false;
        for (const char* label : {"REAL:\t", "Quarter Note length\t:\t", "Measurement BPM\t\t:\t"}) {
            if (line.starts_with(label)) {
                out += std::string(label) + "#\n";
                measured = true;
            }
        }
        if (!measured) out += line + "\n";
    }
    return out;
}

TEST(EndToEnd, BoardThatStopsAcceptingWritesDoesNotStopTheRun) {
    // The board takes the idle pattern, the three control words and two
    // counts, then fails every write: the run goes on to "Closed" and
    // prints everything a run with a working board prints.
    const std::string score = writeTempFile("unplug.txt", fourRows);
    const std::string trillScore = writeTempFile("unplug-trill.txt", "3750\n2\n60,64,16\n69,71,8\n");
    for (const auto& [program, file] :
         {std::pair{"pitchime", score}, std::pair{"pitchime-trill", trillScore}}) {
        SCOPED_TRACE(program);
        const BoardRun working = runWithBoard(program, {.args = {file}}, "working");
        const BoardRun failing =
            runWithBoard(program, {.args = {file}, .env = {{"PITCHIME_VBOARD_FAIL_AFTER", "6"}}}, "unplug");
        EXPECT_EQ(failing.result.status, 0);
        EXPECT_EQ(
            failing.result.err,
            "The board stopped taking writes at line 3 of the score (status 4); the tune goes on without "
            "sound\n");
        EXPECT_TRUE(failing.result.out.ends_with("\nClosed\n"));
        EXPECT_EQ(withoutMeasurements(failing.result.out), withoutMeasurements(working.result.out));
        // Every write is still attempted, then the device is closed.
        EXPECT_EQ(calls(failing.trace), calls(working.trace));
        EXPECT_EQ(registerWrites(failing.trace).size(), 5u);
        EXPECT_GT(registerWrites(working.trace).size(), 5u);
        std::size_t writes = 0, failed = 0;
        for (const auto& e : failing.trace) {
            if (e.call != "FT_Write") continue;
            ++writes;
            if (e.number("status") != 0) ++failed;
        }
        EXPECT_EQ(failed, writes - 6);
    }
}

TEST(EndToEnd, TempoReportOfAMeasuredRun) {
    // 40 rows of a quarter note at 3750 BPM: 16 ms each, so the quarter
    // note measures at least 16 ms and the tempo at most 3750.
    std::string text = "3750\n1\n";
    for (int i = 0; i < 40; ++i) text += "69,4\n";
    const std::string score = writeTempFile("tempo.txt", text);
    BoardRun run = runWithBoard("pitchime", {.args = {score}}, "tempo");
    const auto lines = splitLines(run.result.out);
    ASSERT_GE(lines.size(), 6u);
    const std::string quarter = lines[lines.size() - 4];
    const std::string measured = lines[lines.size() - 3];
    ASSERT_EQ(quarter.rfind("Quarter Note length\t:\t", 0), 0u) << quarter;
    ASSERT_EQ(quarter.substr(quarter.size() - 2), "ms");
    const long q = std::stol(quarter.substr(22));
    EXPECT_GE(q, 16);
    char expected[64];
    std::snprintf(expected, sizeof expected, "Measurement BPM\t\t:\t%g", 60000.0 / static_cast<double>(q));
    EXPECT_EQ(measured, expected);
}

}  // namespace
}  // namespace pitchime::test
