// Reads the virtual board's trace back: one JSON object per line.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace pitchime::test {

struct TraceEvent {
    std::int64_t tUs = 0;
    std::string call;                           // D2XX call name; empty for a register write or violation
    std::map<std::string, std::string> fields;  // every other field, as its text
};

std::vector<TraceEvent> readTrace(const std::string& path);

// The names of the D2XX calls in order.
std::vector<std::string> calls(const std::vector<TraceEvent>& trace);

}  // namespace pitchime::test
