#include "score/writer.h"

#include <charconv>

namespace pitchime {

namespace {

void appendNumber(std::string& text, std::int32_t value, char after) {
    char digits[12];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
    text.append(digits, end);
    text.push_back(after);
}

}  // namespace

void writeScoreHeader(std::string& text, std::int32_t bpm, std::int32_t part) {
    appendNumber(text, bpm, '\n');
    appendNumber(text, part, '\n');
}

void writeScoreRow(std::string& text, std::span<const std::int32_t> notes, std::int32_t lengthValue) {
    for (const std::int32_t note : notes) appendNumber(text, note, ',');
    appendNumber(text, lengthValue, '\n');
}

}  // namespace pitchime
