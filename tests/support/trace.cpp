#include "support/trace.h"

#include <fstream>
#include <stdexcept>

namespace pitchime::test {

namespace {

// The trace's objects are flat: string or integer values, no nesting.
TraceEvent parseLine(const std::string& text) {
    TraceEvent event;
    std::size_t i = 0;
    auto expect = [&](char c) {
        if (i >= text.size() || text[i] != c) throw std::runtime_error("bad trace line: " + text);
        ++i;
    };
    auto readString = [&] {
        expect('"');
        std::string s;
        while (i < text.size() && text[i] != '"') {
            if (text[i] == '\\' && i + 1 < text.size()) ++i;
            s += text[i++];
        }
        expect('"');
        return s;
    };
    expect('{');
    while (i < text.size() && text[i] != '}') {
        std::string key = readString();
        expect(':');
        std::string value;
        if (text[i] == '"') {
            value = readString();
        } else {
            while (i < text.size() && text[i] != ',' && text[i] != '}') value += text[i++];
        }
        if (key == "t_us")
            event.tUs = std::stoll(value);
        else if (key == "call")
            event.call = value;
        else
            event.fields[key] = value;
        if (i < text.size() && text[i] == ',') ++i;
    }
    expect('}');
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

std::vector<std::pair<int, int>> registerWrites(const std::vector<TraceEvent>& trace) {
    std::vector<std::pair<int, int>> writes;
    for (const auto& e : trace)
        if (e.isRegister())
            writes.emplace_back(static_cast<int>(e.number("reg")), static_cast<int>(e.number("value")));
    return writes;
}

std::vector<std::string> calls(const std::vector<TraceEvent>& trace) {
    std::vector<std::string> names;
    for (const auto& e : trace)
        if (!e.call.empty()) names.push_back(e.call);
    return names;
}

}  // namespace pitchime::test
