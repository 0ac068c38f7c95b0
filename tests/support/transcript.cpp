#include "support/transcript.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

namespace pitchime::test {

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

void expectTranscript(const std::string& actual, const std::string& expected) {
    const auto got = splitLines(actual);
    const auto want = splitLines(expected);
    ASSERT_EQ(got.size(), want.size()) << actual;
    for (std::size_t i = 0; i < want.size(); ++i) {
        const std::size_t star = want[i].find('*');
        if (star == std::string::npos) {
            EXPECT_EQ(got[i], want[i]) << "line " << i + 1;
            continue;
        }
        const std::string prefix = want[i].substr(0, star);
        ASSERT_EQ(got[i].substr(0, prefix.size()), prefix) << "line " << i + 1;
        const std::string rest = got[i].substr(prefix.size());
        ASSERT_FALSE(rest.empty()) << "line " << i + 1;
        if (star + 1 < want[i].size()) {
            EXPECT_GE(std::stod(rest), std::stod(want[i].substr(star + 1))) << got[i];
        }
    }
    ASSERT_FALSE(actual.empty());
    EXPECT_EQ(actual.back(), '\n');
}

std::string banner(bool onTerminal) {
    return std::string("Initializing...") + (onTerminal ? "\033[H\033[2J\033[3J" : "") +
           "TRAVO for 8254Board by FT245R\n"
           "Yarrow_Lune\n"
           "Feb 2016\n"
           "\n"
           "Opening FT245R...\n";
}

std::string deviceReport(int devices) {
    return "Successed!\n"
           "Number of devices is " +
           std::to_string(devices) +
           "\n"
           "Dev:\n"
           "\tFlags\t\t=0x1\n"
           "\tType\t\t=0x5\n"
           "\tID\t\t=0x4036001\n"
           "\tLocId\t\t=0x" VBOARD_LOCID
           "\n"
           "\tDescription\t=" VBOARD_DESCRIPTION
           "\n"
           "\tftHandle\t=0x" VBOARD_HANDLE
           "\n"
           "\n"
           "BaudRate:\t3000000\n"
           "DIRECTION:\t0xff\n"
           "MODE:\t\t0x1\n"
           "\n" VBOARD_DESCRIPTION
           " is READY.\n"
           "\n";
}

const std::string fourRows = "3750\n3\n60,64,67,4\n62,0,0,8\n0,0,0,8\n72,76,79,2\n";

BoardRun runWithBoard(const std::string& program, RunOptions options, const std::string& traceName) {
    const std::string tracePath = tempPath(traceName + ".jsonl");
    std::remove(tracePath.c_str());
    options.env.emplace_back("PITCHIME_VBOARD_TRACE", tracePath);
    BoardRun run{test::run(programPath(program), options), {}};
    run.trace = readTrace(tracePath);
    return run;
}

std::vector<std::pair<int, int>> runControlWords() { return {{3, 0x36}, {3, 0x76}, {3, 0xB6}}; }

void expectCleanEnd(const std::vector<TraceEvent>& trace) {
    ASSERT_GE(trace.size(), 2u);
    const auto names = calls(trace);
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(names[names.size() - 2], "FT_Write");
    EXPECT_EQ(names.back(), "FT_Close");
    for (auto it = trace.rbegin(); it != trace.rend(); ++it) {
        if (it->call == "FT_Write") {
            EXPECT_EQ(it->fields.at("bytes"), "ff2404");
            break;
        }
    }
    for (const auto& e : trace) EXPECT_FALSE(e.isViolation()) << e.fields.at("violation");
}

}  // namespace pitchime::test
