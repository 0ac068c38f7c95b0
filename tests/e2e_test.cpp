// The built programs run as a user runs them, against the virtual board.
// The cases are data: tests/e2e/cases.txt says how each is run and what it
// must print and send; tests/hostile/expected.txt gives each hostile score
// its outcome. Under wine the same cases run the Windows programs.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "support/cases.h"
#include "support/run.h"
#include "support/trace.h"

namespace pitchime::test {
namespace {

const std::string source = PITCHIME_SOURCE_DIR "/tests/";
const bool underWine = PITCHIME_WINE[0] != '\0';
#if defined(__linux__)
constexpr bool canStall = true;
#else
constexpr bool canStall = false;
#endif

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string replaceAll(std::string text, const std::string& what, const std::string& with) {
    for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += with.size())
        text.replace(at, what.size(), with);
    return text;
}

// A program started by name, under wine when the tests run the Windows build:
// without wine's ALSA driver, a Windows with no sound or MIDI device
// whatever the host has.
Command program(const std::string& name, std::vector<std::string> args) {
    Command r;
    if (underWine) {
        r.argv = {PITCHIME_WINE, PITCHIME_WINE_PROGRAMS "/" + name + ".exe"};
        r.env = {"WINEPREFIX=" PITCHIME_WINE_PREFIX, "WINEDEBUG=-all",
                 "WINEDLLOVERRIDES=mscoree,mshtml=;winealsa.drv="};
    } else {
        r.argv = {PITCHIME_BIN_DIR "/" + name};
    }
    r.argv.insert(r.argv.end(), args.begin(), args.end());
    return r;
}

// Runs with a board trace of its own; under wine the output's and the
// errors' "\r\n" made "\n".
Result runTraced(Command r, const std::string& trace) {
    std::filesystem::remove(trace);
    r.env.push_back("PITCHIME_VBOARD_TRACE=" + trace);
    Result res = run(r);
    if (underWine) {
        const std::string raw = res.out;
        res.out = replaceAll(res.out, "\r\n", "\n");
        res.err = replaceAll(res.err, "\r\n", "\n");
        EXPECT_EQ(std::count(raw.begin(), raw.end(), '\n'), std::count(raw.begin(), raw.end(), '\r'))
            << "a line end without CR";
    }
    return res;
}

// The trace one event a line, its fields in name order, a whole 21-byte
// frame's bytes shown as "frame", N frames sent in one write as "frame*N".
std::string summary(const std::vector<TraceEvent>& trace) {
    std::string text;
    for (const TraceEvent& e : trace) {
        std::string line = e.call;
        for (const auto& [key, value] : e.fields)
            line += (line.empty() ? "" : " ") + key + "=" +
                    (key != "bytes" || value.size() % 42 != 0 ? value
                     : value.size() == 42                     ? "frame"
                                                              : "frame*" + std::to_string(value.size() / 42));
        text += line + "\n";
    }
    return text;
}

// The end of every run that opened the board: no protocol violation, every
// write a whole frame or the rest pattern, and that pattern then the one
// close as the last calls, so that nothing reached the board after it.
void expectCleanEnd(const std::string& trace) {
    EXPECT_EQ(trace.find("violation"), std::string::npos) << trace;
    std::istringstream lines(trace);
    std::vector<std::string> calls;
    for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with("FT_")) continue;
        calls.push_back(line);
        EXPECT_TRUE(!line.starts_with("FT_Write") || line.find("bytes=frame") != line.npos ||
                    line.find("bytes=ff2404") != line.npos)
            << line;
    }
    ASSERT_GE(calls.size(), 2u) << trace;
    EXPECT_TRUE(calls[calls.size() - 2].starts_with("FT_Write bytes=ff2404 status=0")) << trace;
    EXPECT_EQ(calls.back(), "FT_Close status=0");
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "FT_Close status=0"), 1);
}

// Line by line; an expected line ending in "*" matches any line that starts
// with what comes before it, and "*N" one that goes on with a number of at
// least N (a measured time).
void expectTranscript(const std::string& actual, const std::string& expected) {
    std::istringstream got(actual), want(expected);
    std::string a, w;
    for (int n = 1; std::getline(want, w); ++n) {
        ASSERT_TRUE(std::getline(got, a)) << "ends before line " << n << " \"" << w << "\"\n" << actual;
        const std::size_t star = w.find('*');
        if (star == w.npos) {
            ASSERT_EQ(a, w) << "line " << n << "\n" << actual;
        } else {
            ASSERT_EQ(a.substr(0, star), w.substr(0, star)) << "line " << n << "\n" << actual;
            if (star + 1 < w.size()) {
                EXPECT_GE(std::stod(a.substr(star)), std::stod(w.substr(star + 1))) << a;
            }
        }
    }
    EXPECT_FALSE(std::getline(got, a)) << "more than expected: " << a;
    EXPECT_TRUE(actual.empty() || actual.back() == '\n') << "ends in the middle of a line";
}

// "\s" a blank, "\n" "\r" "\t" "\\" and "\xHH" as in C; "$T" the temporary directory.
std::string unescape(const std::string& text) {
    std::string s;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            s += text[i];
            continue;
        }
        const char c = text[++i];
        if (c == 'x') {
            s += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            s += c == 's' ? ' ' : c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
        }
    }
    return replaceAll(s, "$T", tempDir());
}

struct Case {
    std::string name, program, out, trace, err;
    std::vector<std::string> options;  // the rest of the line, in order
};

std::vector<Case> readCases() {
    std::vector<Case> cases;
    std::istringstream in(readFile(source + "e2e/cases.txt"));
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        Case c;
        if (!(words >> c.name >> c.program) || c.name[0] == '#') continue;
        for (std::string word; words >> word;) c.options.push_back(word);
        cases.push_back(c);
    }
    return cases;
}

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class EndToEnd : public testing::TestWithParam<Case> {};

TEST_P(EndToEnd, Case) {
    const Case& c = GetParam();
    if (c.program == "pitchime-render" && underWine) GTEST_SKIP() << "not built for Windows";
    Command r = program(c.program, {});
    r.dir = source + "e2e/scores";
    std::string out, trace, err, absent;
    int status = 0;
    bool restored = false;
    for (const std::string& option : c.options) {
        const std::size_t eq = option.find('=');
        const std::string key = option.substr(0, eq),
                          value = eq == option.npos ? "" : unescape(option.substr(eq + 1));
        if ((key == "native" && underWine) || (key == "wine" && !underWine)) GTEST_SKIP();
        if (key == "tty" && underWine) GTEST_SKIP() << "the programs have no console under wine";
        if (key == "stall" && !canStall) GTEST_SKIP() << "holding output needs Linux";
        if (key == "arg") r.argv.push_back(value);
        if (key == "env") r.env.push_back(value);
        if (key == "in") r.input = value;
        if (key == "hold") r.holdInput = true;
        if (key == "tty") r.terminal = true;
        if (key == "stall") r.stall = std::stoul(value);
        if (key == "key" || key == "waitkey") {
            const std::size_t bar = value.rfind('|');
            r.keys.push_back({value.substr(0, bar), value.substr(bar + 1), key == "waitkey"});
        }
        if (key == "out") out = value;
        if (key == "trace") trace = value;
        if (key == "status") status = std::stoi(value);
        if (key == "restored") restored = true;
        if (key == "err") err = value;
        if (key == "absent") absent = value;
    }
    if (underWine)
        for (Keys& k : r.keys) k.after = replaceAll(k.after, "\n", "\r\n");
    const std::string tracePath = tempDir() + "/" + c.name + ".jsonl";
    const Result res = runTraced(r, tracePath);
    EXPECT_FALSE(res.timedOut);
    EXPECT_EQ(res.status, status);
    expectTranscript(res.out, unescape(readFile(source + "e2e/expected/" + out)));
    EXPECT_TRUE(!restored || (res.lineMode && res.echo)) << "the terminal is not given back as it was";
    EXPECT_EQ(err.empty() ? "" : res.err.substr(0, res.err.find('\n')), err);
    EXPECT_TRUE(r.stall == 0 || res.stalled) << "not held in the tempo report";
    EXPECT_TRUE(absent.empty() || !std::filesystem::exists(absent)) << absent;
    if (trace.empty()) return;
    // PITCHIME_UPDATE_TRACES=1 writes what the board saw as the expectation.
    const std::string seen = summary(readTrace(tracePath)), expected = source + "e2e/expected/" + trace;
    if (std::getenv("PITCHIME_UPDATE_TRACES")) std::ofstream(expected) << seen;
    EXPECT_EQ(seen, readFile(expected));
}

INSTANTIATE_TEST_SUITE_P(, EndToEnd, testing::ValuesIn(readCases()),
                         [](const testing::TestParamInfo<Case>& info) {
                             return replaceAll(info.param.name, "-", "_");
                         });

// Every file of tests/hostile gets its outcome from both programs, each
// block of hostile/expected.txt ("[file]", then "PROGRAM: outcome" lines) a
// case: the refusal as the last line, or a play to its end; status 0, the
// board brought to rest and closed, and nothing played for a refusal.
TABLE_TEST(Hostile, Score, blocks("hostile/expected.txt")) {
    for (const std::string& line : GetParam().lines) {
        const std::size_t colon = line.find(": ");
        const std::string programName = line.substr(0, colon), outcome = line.substr(colon + 2);
        SCOPED_TRACE(programName);
        Command r = program(programName, {GetParam().text});
        r.dir = source + "hostile";
        const std::string tracePath = tempDir() + "/hostile.jsonl";
        const Result res = runTraced(r, tracePath);
        EXPECT_EQ(res.status, 0);
        const std::string trace = summary(readTrace(tracePath));
        if (outcome == "plays") {
            EXPECT_TRUE(res.out.ends_with("\nClosed\n")) << res.out;
        } else {
            EXPECT_TRUE(res.out.ends_with("\nOpened!\n\n" + outcome + "\n")) << res.out;
            EXPECT_EQ(trace.find("reg="), std::string::npos);
        }
        expectCleanEnd(trace);
    }
}

TEST(HostileTable, ListsEveryFileOnce) {
    std::vector<std::string> listed;
    for (const Row& row : blocks("hostile/expected.txt")) listed.push_back(row.text);
    for (const auto& entry : std::filesystem::directory_iterator(source + "hostile")) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "expected.txt" || std::count(listed.begin(), listed.end(), name) == 1) << name;
    }
}

// A few dozen quick rows, with frames, rests and 1 ms waits close together,
// then slow ones for longer than any run of the test lasts.
std::string stressScore(bool trill) {
    std::string text = trill ? "3750\n2\n" : "3750\n3\n";
    for (int i = 0; i < 12; ++i)
        text += trill ? "60,64,32\n62,65,64\n67,0,32\n" : "60,64,67,64\n62,0,71,128\n0,65,0,128\n";
    for (int i = 0; i < 600; ++i) text += trill ? "60,64,1\n" : "60,64,67,1\n";
    return text;
}

TEST(CtrlC, StressInterruptingPlayAtRandomMoments) {
    if (underWine) GTEST_SKIP() << "the programs have no console under wine";
    // Ctrl+C after some REAL line of the quick part and up to 1.5 ms more:
    // during a frame, between frames, in a wait or a print. The release's
    // messages end the output, after a whole line.
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    const char* const names[] = {"pitchime", "pitchime-trill"};
    for (int p = 0; p < 2; ++p) std::ofstream(tempDir() + "/stress-" + names[p]) << stressScore(p == 1);
    const std::string tail =
        "\nCtrl + C Interreput Catched\nReleasing Handles...\nFT_Close Result:\t0\nReleased\n";
    std::vector<std::thread> workers;
    for (unsigned w = 0; w < 4; ++w) {
        workers.emplace_back([&, w] {
            std::mt19937 random(seed + w);
            for (int i = 0; i < 25; ++i) {
                Command r = program(names[i % 2], {tempDir() + "/stress-" + names[i % 2]});
                const int row = std::uniform_int_distribution<int>(1, 36)(random);
                const int delayUs = std::uniform_int_distribution<int>(0, 1500)(random);
                r.terminal = true;
                r.keys = {{"READY?\n", " ", true}, {"REAL:\t", "\x03", false, row, delayUs}};
                const std::string tracePath = tempDir() + "/stress-" + std::to_string(w) + ".jsonl";
                const Result res = runTraced(r, tracePath);
                SCOPED_TRACE(std::string(names[i % 2]) + " after REAL line " + std::to_string(row) + " + " +
                             std::to_string(delayUs) + " us");
                EXPECT_EQ(res.status, 0);
                EXPECT_TRUE(res.out.ends_with("\n" + tail))
                    << res.out.substr(res.out.size() - std::min<std::size_t>(res.out.size(), 400));
                expectCleanEnd(summary(readTrace(tracePath)));
            }
        });
    }
    for (auto& t : workers) t.join();
}

// Without FTD2XX.dll beside them the Windows programs never start: Windows
// says so in a message box and ends them with STATUS_DLL_NOT_FOUND; wine
// says so on standard error when its loader may report errors.
TEST(Windows, ProgramsNeedTheDriverLibrary) {
    if (!underWine) GTEST_SKIP() << "the Windows programs only";
    for (const std::string name : {"pitchime.exe", "pitchime-trill.exe"}) {
        const std::string copy = tempDir() + "/" + name;
        std::filesystem::copy_file(PITCHIME_WINE_PROGRAMS "/" + name, copy,
                                   std::filesystem::copy_options::overwrite_existing);
        const Result r = run({.argv = {PITCHIME_WINE, copy},
                              .env = {"WINEPREFIX=" PITCHIME_WINE_PREFIX, "WINEDEBUG=-all,err+module",
                                      "WINEDLLOVERRIDES=mscoree,mshtml="}});
        EXPECT_NE(r.status, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("FTD2XX.dll"), std::string::npos) << r.err;
    }
}

}  // namespace
}  // namespace pitchime::test
