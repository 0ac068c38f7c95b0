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
           "TRAVO for 8254Board by FT245R\nYarrow_Lune\nFeb 2016\n\nOpening FT245R...\n";
}

std::string deviceReport(int devices) {
    const std::string description = VBOARD_DESCRIPTION;
    return "Successed!\nNumber of devices is " + std::to_string(devices) +
           "\nDev:\n\tFlags\t\t=0x1\n\tType\t\t=0x5\n\tID\t\t=0x4036001\n\tLocId\t\t=0x" + VBOARD_LOCID +
           "\n\tDescription\t=" + description + "\n\tftHandle\t=0x" + VBOARD_HANDLE +
           "\n\nBaudRate:\t3000000\nDIRECTION:\t0xff\nMODE:\t\t0x1\n\n" + description + " is READY.\n\n";
}

std::string header(const std::string& score, int bpm, int sixtyFourthMs, int part) {
    return "\nOpened!\n\nLoad File:\t" + score + "\nBPM:\t" + std::to_string(bpm) + "\n64th note time:\t" +
           std::to_string(sixtyFourthMs) + "\nPART:\t" + std::to_string(part) + "\n\nREADY?\n";
}

std::string released(unsigned closeStatus) {
    return "\nCtrl + C Interreput Catched\nReleasing Handles...\nFT_Close Result:\t" +
           std::to_string(closeStatus) + "\nReleased\n";
}

const std::string fourRows = "3750\n3\n60,64,67,4\n62,0,0,8\n0,0,0,8\n72,76,79,2\n";

const std::vector<std::pair<int, int>> runControlWords{{3, 0x36}, {3, 0x76}, {3, 0xB6}};

BoardRun runWithBoard(const std::string& program, RunOptions options, const std::string& traceName) {
    const std::string tracePath = tempPath(traceName + ".jsonl");
    std::remove(tracePath.c_str());
    options.env.emplace_back("PITCHIME_VBOARD_TRACE", tracePath);
    BoardRun run{test::run(programPath(program), options), {}};
    run.trace = readTrace(tracePath);
    return run;
}

void expectCleanEnd(const std::vector<TraceEvent>& trace) {
    std::vector<const TraceEvent*> deviceCalls;
    int closes = 0;
    for (const auto& e : trace) {
        if (e.isViolation()) ADD_FAILURE() << "violation: " << e.fields.at("violation");
        if (e.call.empty()) continue;
        deviceCalls.push_back(&e);
        closes += e.call == "FT_Close";
        if (e.call == "FT_Write") {
            const std::string& bytes = e.fields.at("bytes");
            EXPECT_TRUE(bytes.size() == 42 || bytes == "ff2404") << bytes;
        }
    }
    EXPECT_EQ(closes, 1);
    ASSERT_GE(deviceCalls.size(), 2u);
    const TraceEvent& rest = *deviceCalls[deviceCalls.size() - 2];
    EXPECT_EQ(rest.call + " " + (rest.call == "FT_Write" ? rest.fields.at("bytes") : ""), "FT_Write ff2404");
    EXPECT_EQ(deviceCalls.back()->call, "FT_Close");
    EXPECT_EQ(deviceCalls.back()->fields.at("status"), "0");
}

}  // namespace pitchime::test
