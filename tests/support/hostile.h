// The committed corpus of hostile scores and the outcome each must get,
// read from tests/hostile/expected.txt.
#pragma once

#include <string>
#include <vector>

namespace pitchime::test {

struct HostileCase {
    std::string file;      // name inside tests/hostile
    std::string pitchime;  // the line pitchime prints last, or "plays"
    std::string trill;     // the same for pitchime-trill
};

struct HostileManifest {
    std::vector<HostileCase> cases;
    std::vector<std::string> badLines;  // lines the manifest should not have
};

HostileManifest hostileManifest();

// Path of a file of the corpus.
std::string hostilePath(const std::string& file);

}  // namespace pitchime::test
