// What the programs tell the user beside the session's fixed output: the
// usage and version on request, and on standard error the reasons for a
// failure and the warnings about a score.
#pragma once

#include "score/check.h"
#include "score/score.h"

namespace pitchime {

struct ProgramInfo {
    const char* name;
    const char* usage;  // the help text, from its "Usage:" line on
};

extern const ProgramInfo pitchimeInfo;
extern const ProgramInfo trillInfo;

// When the only argument is --help or --version, prints the usage or the
// version on standard output and returns true; the board is never touched.
// Any other argument is left to the session as a score name.
bool printProgramInfo(int argc, char** argv, const ProgramInfo& info);

// Why the score file `name` could not be opened (`error`: the system's
// error number); `name` null when no name was typed at the prompt.
void noteScoreNotOpened(const char* name, int error);

// The score's warnings, each on its own line.
void noteScoreWarnings(const Score& s, const PlayRules& rules);

}  // namespace pitchime
