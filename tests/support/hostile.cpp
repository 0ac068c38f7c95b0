#include "support/hostile.h"

#include <fstream>

namespace pitchime::test {

std::string hostilePath(const std::string& file) {
    return std::string(PITCHIME_SOURCE_DIR) + "/tests/hostile/" + file;
}

HostileManifest hostileManifest() {
    // Blocks of "[file]", then "pitchime: outcome" and "pitchime-trill:
    // outcome"; lines starting with '#' and blank lines are comments.
    std::ifstream in(hostilePath("expected.txt"));
    HostileManifest m;
    auto& cases = m.cases;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        if (line.front() == '[' && line.back() == ']') {
            cases.push_back({line.substr(1, line.size() - 2), "", ""});
            continue;
        }
        const std::size_t colon = line.find(": ");
        if (cases.empty() || colon == std::string::npos) {
            m.badLines.push_back(line);
            continue;
        }
        const std::string program = line.substr(0, colon);
        const std::string outcome = line.substr(colon + 2);
        if (program == "pitchime") {
            cases.back().pitchime = outcome;
        } else if (program == "pitchime-trill") {
            cases.back().trill = outcome;
        } else {
            m.badLines.push_back(line);
        }
    }
    return m;
}

}  // namespace pitchime::test
