// What every MIDI input backend shares, from tests/data/midi_input.txt:
// the MIDI system and the source a user names, which status bytes begin a message the input
// passes on, and the arrival times made of the MIDI system's timestamps.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "midiin/midi_input.h"
#include "midiin/ports.h"
#include "support/cases.h"

namespace pitchime {
namespace {

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string f; std::getline(in, f, '|');) out.push_back(f);
    return out;
}

TABLE_TEST(MidiInput, SourcesSizesAndArrivals, test::rows("data/midi_input.txt")) {
    const std::string& line = GetParam().text;
    const std::vector<std::string> f = fields(line);
    ASSERT_GE(f.size(), 3u) << line;
    if (f[0] == "port") {
        const std::vector<std::string> names(f.begin() + 3, f.end());
        std::string error;
        const int n = midiin::choosePort(names, f[1], error);
        EXPECT_EQ(n < 0 ? error : std::to_string(n), f[2]) << line;
    } else if (f[0] == "api") {
        midiin::Api api = midiin::Api::automatic;
        EXPECT_EQ(midiin::apiName(midiin::parseApi(f[1], api) ? api : midiin::Api::automatic), f[2]) << line;
    } else if (f[0] == "size") {
        EXPECT_EQ(midiin::messageSize(static_cast<std::uint8_t>(std::stoi(f[1], nullptr, 16))),
                  std::stoi(f[2]))
            << line;
    } else {
        // arrival|SYSTEM NOW|...|the arrival times
        midiin::ArrivalClock clock;
        std::string got;
        for (std::size_t i = 1; i + 1 < f.size(); ++i) {
            const auto w = test::words(f[i]);
            got += (i > 1 ? " " : "") +
                   std::to_string(midiin::arrivalUs(clock, std::stoll(w[0]), std::stoll(w[1])));
        }
        EXPECT_EQ(got, f.back()) << line;
    }
}

}  // namespace
}  // namespace pitchime
