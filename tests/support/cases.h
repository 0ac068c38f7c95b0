// The data files of the table-driven tests in tests/data/: blank lines and
// lines starting with '#' are left out.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace pitchime::test {

inline std::vector<std::string> fileLines(const std::string& path, bool all = true) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (all || (!line.empty() && line[0] != '#')) lines.push_back(line);
    return lines;
}

// A missing or empty file gives one line that no table takes.
inline std::vector<std::string> dataLines(const std::string& name) {
    auto lines = fileLines(std::string(PITCHIME_SOURCE_DIR) + "/tests/data/" + name, false);
    return lines.empty() ? std::vector<std::string>{"[no cases in " + name + "]", "?"} : lines;
}

inline std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

// Cases of several lines, each headed by a line "[name]".
inline std::vector<std::pair<std::string, std::vector<std::string>>> blocks(const std::string& name) {
    std::vector<std::pair<std::string, std::vector<std::string>>> out;
    for (const std::string& line : dataLines(name)) {
        if (line[0] == '[') out.push_back({line.substr(1, line.size() - 2), {}});
        if (line[0] != '[' && !out.empty()) out.back().second.push_back(line);
    }
    return out;
}

}  // namespace pitchime::test
