// What the players tell the user beside the session's fixed output, on
// standard error: the reasons for a failure and the warnings about a score.
#pragma once

#include "score/check.h"
#include "score/score.h"

namespace pitchime {

// Why the score file `name` could not be opened (`error`: the system's
// error number); `name` null when no name was typed at the prompt.
void noteScoreNotOpened(const char* name, int error);

// The score's warnings, each on its own line.
void noteScoreWarnings(const Score& s, const PlayRules& rules);

}  // namespace pitchime
