#include "session/info.h"

#include <cstring>

#include "console/console.h"
#include "score/warnings.h"

namespace pitchime {

void noteScoreNotOpened(const char* name, int error) {
    if (name == nullptr) {
        console::note("No score opened: no file name was typed");
    } else {
        console::note("Cannot open score %s: %s", name, std::strerror(error));
    }
}

void noteScoreWarnings(const Score& s, const PlayRules& rules) {
    for (const std::string& warning : scoreWarnings(s, rules)) console::note("%s", warning.c_str());
}

}  // namespace pitchime
