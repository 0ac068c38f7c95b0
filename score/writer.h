// Writing a score as text, the reverse of reading it (score.h): the BPM
// line, the PART line, then one row of comma-separated values per line,
// each line ended by LF.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace pitchime {

// Appends the BPM and PART lines to `text`.
void writeScoreHeader(std::string& text, std::int32_t bpm, std::int32_t part);

// Appends one row: the values of its note columns, then its length value.
void writeScoreRow(std::string& text, std::span<const std::int32_t> notes, std::int32_t lengthValue);

}  // namespace pitchime
