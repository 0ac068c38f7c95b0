#include "support/trace.h"

#include <fstream>
#include <stdexcept>

namespace pitchime::test {

namespace {

// The trace's objects are flat: "key":"text" or "key":number, and no text
// holds a quote.
TraceEvent parseLine(const std::string& text) {
    TraceEvent event;
    for (std::size_t at = text.find('"'); at != std::string::npos;) {
        const std::size_t keyEnd = text.find('"', at + 1);
        const std::string key = text.substr(at + 1, keyEnd - at - 1);
        const bool quoted = text.at(keyEnd + 2) == '"';
        const std::size_t from = keyEnd + (quoted ? 3 : 2);
        const std::size_t to = quoted ? text.find('"', from) : text.find_first_of(",}", from);
        if (to == std::string::npos) throw std::runtime_error("bad trace line: " + text);
        const std::string value = text.substr(from, to - from);
        if (key == "t_us") {
            event.tUs = std::stoll(value);
        } else if (key == "call") {
            event.call = value;
        } else {
            event.fields[key] = value;
        }
        at = text.find('"', to + (quoted ? 1 : 0));
    }
    return event;
}

}  // namespace

std::vector<TraceEvent> readTrace(const std::string& path) {
    std::vector<TraceEvent> events;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) events.push_back(parseLine(line));
    return events;
}

std::vector<std::string> calls(const std::vector<TraceEvent>& trace) {
    std::vector<std::string> names;
    for (const auto& e : trace)
        if (!e.call.empty()) names.push_back(e.call);
    return names;
}

}  // namespace pitchime::test
