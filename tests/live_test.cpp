// The live engine played the scripts of tests/data/live.txt: each message
// and each timed change gives the register writes shown, and the writes of
// each instant reach the virtual board, decoded as sent, in one FT_Write.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board/board_port.h"
#include "console/console.h"
#include "live/engine.h"
#include "live/trace.h"
#include "support/cases.h"
#include "vboard/vboard.h"

namespace pitchime {
namespace {

live::Settings settingsOf(const std::vector<std::string>& w) {
    live::Settings s;
    for (std::size_t i = 1; i < w.size(); ++i) {
        const std::string name = w[i].substr(0, w[i].find('='));
        const std::string value = w[i].substr(name.size() + (name.size() < w[i].size()));
        if (name == "trill") s.trill = true;
        if (name == "drums") s.drums = true;
        if (name == "turn") s.trillTurnUs = std::stoll(value);
        if (name == "transpose") s.transpose = std::stoi(value);
        if (name == "melody") s.melodyChannel = std::stoi(value) - 1;
        if (name == "channels") {
            s.channels.fill(false);
            for (std::size_t at = 0; at < value.size(); at = value.find(',', at) + 1) {
                s.channels[std::stoi(value.substr(at)) - 1] = true;
                if (value.find(',', at) == std::string::npos) break;
            }
        }
    }
    return s;
}

TABLE_TEST(Live, EngineScripts, test::blocks("data/live.txt")) {
    console::setStream(nullptr);
    const std::vector<std::string>& lines = GetParam().lines;
    vboard::reset({.recordCapacity = 1000, .writeCallCapacity = 1000});
    BoardPort port;
    ASSERT_EQ(board::open(port), 0u);
    board::configure(port);
    const std::size_t firstCall = vboard::writeCalls().size();
    live::Engine engine;
    live::start(engine, {});
    std::vector<std::string> transcript, expected;
    std::size_t instants = 0;
    const auto played = [&](const std::string& what, const live::Writes& writes) {
        char text[200];
        live::formatWrites(text, sizeof text, writes);
        transcript.push_back(what + ": " + text);
        std::vector<vboard::RegisterWrite> sent;
        for (int i = 0; i < writes.count; ++i) {
            queueRegister(port, writes.items[i].value, writes.items[i].address);
            sent.push_back({0, writes.items[i].address, writes.items[i].value});
        }
        board::sendBatch(port);
        instants += writes.count > 0;
        std::vector<vboard::RegisterWrite> seen = vboard::registerWrites();
        seen.erase(seen.begin(), seen.end() - static_cast<long>(sent.size()));
        for (auto& write : seen) write.tUs = 0;
        EXPECT_EQ(seen, sent) << transcript.back();
    };
    for (const std::string& line : lines) {
        const auto w = test::words(line);
        live::Writes writes;
        if (w[0] == "set") live::start(engine, settingsOf(w));
        if (w[0][0] == '>') expected.push_back(line.substr(2));
        if (w[0] == "silence") live::silence(engine, writes), played(line, writes);
        if (w[0][0] != '@') continue;
        const std::int64_t us = std::stoll(w[0].substr(1));
        for (std::int64_t next; (next = live::nextChangeUs(engine)) <= us;) {
            live::advance(engine, next, writes);
            played("@" + std::to_string(next), writes);
        }
        std::vector<std::uint8_t> bytes;
        for (std::size_t i = 1; i < w.size(); ++i) bytes.push_back(std::stoi(w[i], nullptr, 16));
        if (bytes.empty()) continue;
        live::receive(engine, us, bytes, writes);
        played(line, writes);
    }
    EXPECT_EQ(transcript, expected);
    EXPECT_EQ(vboard::writeCalls().size() - firstCall, instants);
    EXPECT_EQ(vboard::status().counts.violations, 0) << vboard::lastViolation();
    board::close(port);
}

}  // namespace
}  // namespace pitchime
