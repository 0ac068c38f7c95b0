// Ctrl+C typed at the terminal in every phase of a run, in both programs:
// the release's messages follow the main thread's output whole, the board
// receives the IdlePattern and the close as its last calls and no frame is
// broken, the terminal is as the user had it, and the status is 0.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/run_program.h"
#include "support/terminal_run.h"
#include "support/trace.h"
#include "support/transcript.h"

namespace pitchime::test {
namespace {

const char* const programs[] = {"pitchime", "pitchime-trill"};

// A key wait answered with a blank.
const Keystroke pressKey{.after = "READY?\n", .atKeyWait = true, .keys = " "};

struct TracedRun {
    TerminalResult result;
    std::vector<TraceEvent> trace;
};

TracedRun runTraced(const std::string& program, TerminalOptions options, const std::string& traceName) {
    const std::string tracePath = tempPath(traceName + ".jsonl");
    std::remove(tracePath.c_str());
    options.env.emplace_back("PITCHIME_VBOARD_TRACE", tracePath);
    TracedRun run{runOnTerminal(programPath(program), options), {}};
    run.trace = readTrace(tracePath);
    return run;
}

void expectEndedByTheRelease(const TerminalResult& r) {
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 0);
    // Sanitizer reports land here; a score's warnings are all it may hold.
    std::istringstream err(r.err);
    for (std::string line; std::getline(err, line);) EXPECT_TRUE(line.starts_with("Score warning: ")) << line;
}

TEST(CtrlC, BeforeTheDeviceIsOpen) {
    // Opening takes a minute, so Ctrl+C surely comes first; the close then
    // reports FT_INVALID_HANDLE and the board hears nothing.
    for (const char* program : programs) {
        SCOPED_TRACE(program);
        TracedRun traced = runTraced(program,
                                     {.args = {"any.txt"},
                                      .env = {{"PITCHIME_VBOARD_OPEN_DELAY_MS", "60000"}},
                                      .keystrokes = {{.after = "Opening FT245R...\n", .keys = "\x03"}}},
                                     "before-open");
        expectEndedByTheRelease(traced.result);
        EXPECT_EQ(traced.result.out, banner(true) + released(1));
        EXPECT_TRUE(calls(traced.trace).empty());
    }
}

TEST(CtrlC, AtTheOpenFilePrompt) {
    for (const char* program : programs) {
        SCOPED_TRACE(program);
        TracedRun traced =
            runTraced(program, {.keystrokes = {{.after = "Open File:", .keys = "\x03"}}}, "prompt");
        expectEndedByTheRelease(traced.result);
        EXPECT_EQ(traced.result.out, banner(true) + deviceReport() + "Open File:" + released());
        expectCleanEnd(traced.trace);
        EXPECT_TRUE(registerWrites(traced.trace).empty());
    }
}

TEST(CtrlC, AtReadyRestoresTheTerminal) {
    const std::string score = writeTempFile("ready.txt", "120\n2\n60,64,4\n");
    for (const char* program : programs) {
        SCOPED_TRACE(program);
        TracedRun traced = runTraced(
            program,
            {.args = {score}, .keystrokes = {{.after = "READY?\n", .atKeyWait = true, .keys = "\x03"}}},
            "ready");
        expectEndedByTheRelease(traced.result);
        EXPECT_EQ(traced.result.out, banner(true) + deviceReport() + header(score, 120, 31, 2) + released());
        // The key wait had the terminal in single-key mode without echo.
        EXPECT_TRUE(traced.result.lineMode);
        EXPECT_TRUE(traced.result.echo);
        expectCleanEnd(traced.trace);
        EXPECT_EQ(registerWrites(traced.trace), runControlWords);
    }
}

TEST(CtrlC, DuringPlayTwiceChangesNothingMore) {
    // Ctrl+C comes while the last row sounds, for seconds; a second one
    // right after it finds the release running and does nothing.
    struct Case {
        const char* program;
        std::string score;
        std::string played;  // what the player printed up to the interrupt
    };
    const std::vector<Case> cases = {
        {"pitchime", "30\n3\n60,64,67,64\n72,76,79,1\n",
         "60,64,67,64\n125\nWRITE_LOW:\t\t209\nWRITE_HIGH:\t\t17\n\nWRITE_LOW:\t\t36\nWRITE_HIGH:\t\t14\n\n"
         "WRITE_LOW:\t\t228\nWRITE_HIGH:\t\t11\n\n\nREAL:\t*125\n\n"
         "72,76,79,1\n8000\nWRITE_LOW:\t\t232\nWRITE_HIGH:\t\t8\n\nWRITE_LOW:\t\t18\nWRITE_HIGH:\t\t7\n\n"
         "WRITE_LOW:\t\t242\nWRITE_HIGH:\t\t5\n\n\n"},
        {"pitchime-trill", "1\n2\n60,64,64\n72,76,1\n",
         "60,64,64\n3750\nREAL:\t*0\n\n72,76,1\n240000\nWRITE_LOW:\t\t232\nWRITE_HIGH:\t\t8\n\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program);
        const std::string score = writeTempFile("play.txt", c.score);
        const std::string lastLines = c.played.substr(c.played.rfind("\n72,76,") + 1);
        TracedRun traced = runTraced(
            c.program, {.args = {score}, .keystrokes = {pressKey, {.after = lastLines, .keys = "\x03\x03"}}},
            "play");
        expectEndedByTheRelease(traced.result);
        const bool trill = c.program == std::string("pitchime-trill");
        expectTranscript(traced.result.out,
                         banner(true) + deviceReport() +
                             header(score, trill ? 1 : 30, trill ? 3750 : 125, trill ? 2 : 3) + c.played +
                             released());
        expectCleanEnd(traced.trace);
    }
}

TEST(CtrlC, DuringTheTempoReport) {
    if (!canStallOutput()) GTEST_SKIP() << "holding a program at one line of its output needs Linux";
    // One row of 1024 ms, so that "REAL:" shows four digits. The output
    // stalls right after the "Set BPM" line, with the main thread writing
    // the next line of the report; Ctrl+C comes then.
    struct Case {
        const char* program;
        std::string score;
        std::string played;
    };
    std::string trillPlayed = "60,64,1\n1024\n";
    for (int cycle = 0; cycle < 32; ++cycle)
        trillPlayed += "WRITE_LOW:\t\t209\nWRITE_HIGH:\t\t17\n\nWRITE_LOW:\t\t36\nWRITE_HIGH:\t\t14\n\n";
    const std::vector<Case> cases = {
        {"pitchime", "234\n1\n60,1\n", "60,1\n1024\nWRITE_LOW:\t\t209\nWRITE_HIGH:\t\t17\n\n\n"},
        {"pitchime-trill", "234\n2\n60,64,1\n", trillPlayed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program);
        const std::string score = writeTempFile("report.txt", c.score);
        const std::string untilSetBpm = c.played + "REAL:\t1024\n\n\nSet BPM\t\t\t:\t234\n";
        TracedRun traced = runTraced(
            c.program, {.args = {score}, .keystrokes = {pressKey}, .stallAfterKeyWait = untilSetBpm.size()},
            "report");
        expectEndedByTheRelease(traced.result);
        EXPECT_TRUE(traced.result.stalled);
        const bool trill = c.program == std::string("pitchime-trill");
        expectTranscript(traced.result.out, banner() + deviceReport() +
                                                header(score, 234, 16, trill ? 2 : 1) + c.played +
                                                "REAL:\t*1024\n\n"
                                                "\nSet BPM\t\t\t:\t234\nQuarter Note length\t:\t*\n" +
                                                released());
        expectCleanEnd(traced.trace);
    }
}

// A score that plays a few dozen quick rows, with frames and rests close
// together and some 1 ms waits, then goes on slowly for longer than any
// run of the test lasts.
std::string stressScore(bool trill) {
    std::string text = trill ? "3750\n2\n" : "3750\n3\n";
    for (int i = 0; i < 12; ++i)
        text += trill ? "60,64,32\n62,65,64\n67,0,32\n" : "60,64,67,64\n62,0,71,128\n0,65,0,128\n";
    for (int i = 0; i < 600; ++i) text += trill ? "60,64,1\n" : "60,64,67,1\n";
    return text;
}

TEST(CtrlC, StressInterruptingPlayAtRandomMoments) {
    constexpr int runsPerProgram = 50;
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    const std::string scores[] = {writeTempFile("stress.txt", stressScore(false)),
                                  writeTempFile("stress-trill.txt", stressScore(true))};

    struct Outcome {
        std::string what;  // the case, for messages
        TracedRun run;
    };
    std::vector<Outcome> outcomes(2 * runsPerProgram);
    const unsigned workers = std::clamp(std::thread::hardware_concurrency(), 2u, 8u);
    std::vector<std::thread> pool;
    for (unsigned w = 0; w < workers; ++w) {
        pool.emplace_back([&, w] {
            std::mt19937 random(seed + w);
            for (std::size_t i = w; i < outcomes.size(); i += workers) {
                const int p = static_cast<int>(i % 2);
                // Some REAL line of the quick part, then up to a millisecond
                // and a half: during a frame, between frames, in a wait or a
                // print.
                const int row = std::uniform_int_distribution<int>(1, 36)(random);
                const int delayUs = std::uniform_int_distribution<int>(0, 1500)(random);
                outcomes[i].what = std::string(programs[p]) + " after REAL line " + std::to_string(row) +
                                   " + " + std::to_string(delayUs) + " us";
                outcomes[i].run = runTraced(
                    programs[p],
                    {.args = {scores[p]},
                     .keystrokes =
                         {pressKey,
                          {.after = "REAL:\t", .occurrence = row, .delayUs = delayUs, .keys = "\x03"}}},
                    "stress-" + std::to_string(i));
            }
        });
    }
    for (auto& t : pool) t.join();

    for (const auto& o : outcomes) {
        SCOPED_TRACE(o.what);
        const TerminalResult& r = o.run.result;
        expectEndedByTheRelease(r);
        // The release's messages end the output, after a whole line.
        const std::string tail = released();
        ASSERT_GT(r.out.size(), tail.size() + 1);
        EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail) << r.out.substr(r.out.size() - 400);
        EXPECT_EQ(r.out[r.out.size() - tail.size() - 1], '\n');
        expectCleanEnd(o.run.trace);
    }
}

}  // namespace
}  // namespace pitchime::test
