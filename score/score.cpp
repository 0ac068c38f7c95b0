#include "score/score.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>

namespace pitchime {

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
    // a NUL) is kept as it is. Each line's text is copied as one run, found
    // with memchr, so loading stays fast on large files.
    if (reader.ended || block.empty()) return;
    const char* p = block.data();
    const char* end = p + block.size();
    if (const void* eof = std::memchr(p, '\x1a', block.size())) {
        end = static_cast<const char*>(eof);
        reader.ended = true;
    }
    if (reader.pendingCr && p < end) {
        reader.pendingCr = false;
        if (*p != '\n') into.lineText.push_back('\r');
    }
    while (p < end) {
        const auto* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        const char* stop = lf != nullptr ? lf : end;
        const char* textEnd = stop;
        if (stop > p && stop[-1] == '\r') {
            // A CR right before an LF goes with it; one that ends the block
            // waits for the next block's first byte.
            --textEnd;
            if (lf == nullptr) reader.pendingCr = true;
        }
        into.lineText.insert(into.lineText.end(), p, textEnd);
        if (stop > p) reader.lineOpen = true;
        if (lf == nullptr) break;
        into.lineEnds.push_back(into.lineText.size());
        reader.lineOpen = false;
        p = lf + 1;
    }
}

void finishScoreLines(LineReader& reader, Score& into) {
    if (reader.pendingCr) into.lineText.push_back('\r');
    reader.pendingCr = false;
    if (reader.lineOpen) into.lineEnds.push_back(into.lineText.size());
    reader.lineOpen = false;
}

void parseScore(Score& into) {
    into.bpm = into.lineCount() >= 1 ? readNumber(into.line(0)) : 0;
    into.part = into.lineCount() >= 2 ? readNumber(into.line(1)) : 0;
    if (into.lineCount() <= 2) return;
    // Every row has one value more than its line has commas: reserving
    // exactly spares the doubling's slack and copies on large scores.
    const std::size_t rowsText = into.lineEnds[1];
    const auto commas = static_cast<std::size_t>(
        std::count(into.lineText.begin() + static_cast<std::ptrdiff_t>(rowsText), into.lineText.end(), ','));
    into.rowEnds.reserve(into.rowEnds.size() + into.lineCount() - 2);
    into.values.reserve(into.values.size() + into.lineCount() - 2 + commas);
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

namespace {
// Reads blocks while the file is open, each under the lock.
void readBlocks(ScoreFile& f, Score& into) {
    std::array<char, scoreBlockSize> block;
    LineReader reader;
    while (!reader.ended) {
        std::size_t got = 0;
        {
            std::lock_guard guard(f.lock);
            if (f.file) got = std::fread(block.data(), 1, block.size(), f.file);
        }
        if (got == 0) break;
        readScoreBlock(reader, {block.data(), got}, into);
    }
    finishScoreLines(reader, into);
}
}  // namespace

bool openScoreFile(ScoreFile& f, const char* path, int& error) {
    std::error_code ignored;
    std::FILE* file = nullptr;
    if (std::filesystem::is_directory(path, ignored)) {
        error = EISDIR;
    } else {
        file = std::fopen(path, "rb");
        error = errno;
    }
    std::lock_guard guard(f.lock);
    if (f.closed && file) {
        std::fclose(file);
        file = nullptr;
        error = ECANCELED;
    }
    f.file = file;
    return file != nullptr;
}

void closeScoreFile(ScoreFile& f) {
    std::lock_guard guard(f.lock);
    if (f.file) std::fclose(f.file);
    f.file = nullptr;
    f.closed = true;
}

void resetScoreFile(ScoreFile& f) {
    std::lock_guard guard(f.lock);
    if (f.file) std::fclose(f.file);
    f.file = nullptr;
    f.closed = false;
}

void loadScore(ScoreFile& f, Score& into) {
    readBlocks(f, into);
    parseScore(into);
}

void readScoreLines(std::FILE* file, Score& into) {
    ScoreFile whole;
    whole.file = file;
    readBlocks(whole, into);
}

}  // namespace pitchime
