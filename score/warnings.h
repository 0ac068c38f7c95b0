// Warnings for a score that plays but is probably not what its writer
// meant: text where a number belongs, a PART that sounds nothing, row
// lengths that are cut short, a tempo too fast to time, a score written for
// the other player. Computed from the loaded score's text and rows, after
// checkScore has accepted it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "score/check.h"
#include "score/score.h"

namespace pitchime {

// One line per warning, "Score warning: line N: what", in the order of the
// file's lines. At most `limit` of them; when there are more, a last line
// "Score warning: and N more" says how many were left out.
std::vector<std::string> scoreWarnings(const Score& s, const PlayRules& rules, std::size_t limit = 10);

}  // namespace pitchime
