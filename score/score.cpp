#include "score/score.h"

#include <array>
#include <limits>

namespace pitchime {

Score score;

std::string_view Score::line(std::size_t i) const {
    std::size_t begin = i == 0 ? 0 : lineEnds[i - 1];
    return {lineText.data() + begin, lineEnds[i] - begin};
}

ScoreRow Score::row(std::size_t i) const {
    std::size_t begin = i == 0 ? 0 : rowEnds[i - 1];
    return {values.data() + begin, rowEnds[i] - begin};
}

std::int32_t readNumber(std::string_view text) {
    std::size_t i = 0;
    auto isSpace = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (i < text.size() && isSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    // Accumulate as a negative number so that INT32_MIN is reachable, and
    // stop accumulating once past the limit (saturation).
    constexpr std::int64_t limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (magnitude <= limit) magnitude = magnitude * 10 + (text[i] - '0');
    }
    if (negative)
        return magnitude >= limit ? std::numeric_limits<std::int32_t>::min()
                                  : static_cast<std::int32_t>(-magnitude);
    return magnitude >= limit ? std::numeric_limits<std::int32_t>::max()
                              : static_cast<std::int32_t>(magnitude);
}

void readScoreBlock(LineReader& reader, std::string_view block, Score& into) {
    // The text rules applied here, so that every platform gives the same
    // lines: CR LF is one LF, 0x1A ends the file, any other byte (a lone CR,
    // a NUL) is kept as it is.
    for (char c : block) {
        if (reader.ended) return;
        if (reader.pendingCr) {
            reader.pendingCr = false;
            if (c != '\n') into.lineText.push_back('\r');
        }
        if (c == '\x1a') {
            reader.ended = true;
        } else if (c == '\r') {
            reader.pendingCr = true;
            reader.lineOpen = true;
        } else if (c == '\n') {
            into.lineEnds.push_back(into.lineText.size());
            reader.lineOpen = false;
        } else {
            into.lineText.push_back(c);
            reader.lineOpen = true;
        }
    }
}

void finishScoreLines(LineReader& reader, Score& into) {
    if (reader.pendingCr) into.lineText.push_back('\r');
    reader.pendingCr = false;
    if (reader.lineOpen) into.lineEnds.push_back(into.lineText.size());
    reader.lineOpen = false;
}

void readScoreLines(std::FILE* file, Score& into) {
    std::array<char, scoreBlockSize> block;
    LineReader reader;
    while (!reader.ended) {
        const std::size_t got = std::fread(block.data(), 1, block.size(), file);
        if (got == 0) break;
        readScoreBlock(reader, {block.data(), got}, into);
    }
    finishScoreLines(reader, into);
}

void parseScore(Score& into) {
    into.part = into.lineCount() >= 2 ? readNumber(into.line(1)) : 0;
    if (into.lineCount() <= 2) return;
    into.rowEnds.reserve(into.lineCount() - 2);
    for (std::size_t i = 2; i < into.lineCount(); ++i) {
        std::string_view rest = into.line(i);
        for (;;) {
            std::size_t comma = rest.find(',');
            into.values.push_back(readNumber(rest.substr(0, comma)));
            if (comma == std::string_view::npos) break;
            rest.remove_prefix(comma + 1);
        }
        into.rowEnds.push_back(into.values.size());
    }
}

}  // namespace pitchime
