#include "score/check.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>

namespace pitchime {

namespace {

#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
std::string
problem(std::size_t fileLine, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string text = lineMessage("Score error", fileLine, fmt, args);
    va_end(args);
    return text;
}

// Why a first line that starts like this gives no BPM, when the file was
// saved in an encoding other than plain single-byte text.
const char* encodingHint(std::string_view first) {
    if (first.starts_with("\xEF\xBB\xBF"))
        return "; the file begins with a UTF-8 byte-order mark, save it without one";
    if (first.starts_with("\xFF\xFE") || first.starts_with("\xFE\xFF"))
        return "; the file is UTF-16 text, save it as ANSI or UTF-8";
    return "";
}

// Why a first line of plain text gives no BPM: it starts with words.
std::string wordsHint(std::string_view first) {
    const std::size_t start = first.find_first_not_of(" \t");
    if (start == std::string_view::npos || (first[start] >= '0' && first[start] <= '9')) return "";
    if (first[start] == '-' || first[start] == '+' || first.size() > 40) return "";
    for (const char c : first)
        if ((c < 0x20 || c > 0x7E) && c != '\t') return "";
    return "; line 1 is \"" + std::string(first) + "\", which is not a number";
}

bool isBlankLine(std::string_view line) {
    return line.find_first_not_of(" \t\n\v\f\r") == std::string_view::npos;
}

// Whether a line is words rather than numbers, as a comment is: it starts
// with a letter or a comment mark and is all printable text.
bool isTextLine(std::string_view line) {
    const std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string_view::npos) return false;
    const char first = line[start];
    const bool letter = (first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z');
    if (!letter && std::string_view("#;/%").find(first) == std::string_view::npos) return false;
    for (const char c : line)
        if ((c < 0x20 || c > 0x7E) && c != '\t') return false;
    return true;
}

// For a row with too few values: whether it is numbers separated by
// blanks or semicolons rather than commas.
const char* separatorHint(std::string_view line) {
    if (line.find_first_not_of("0123456789+- \t;") != std::string_view::npos) return "";
    const std::size_t digit = line.find_first_of("0123456789");
    const std::size_t gap = line.find_first_not_of("0123456789", digit);
    if (digit == std::string_view::npos || line.find_first_of("0123456789", gap) == std::string_view::npos)
        return "";
    return "; values are separated by commas";
}

// Why row `r` cannot be played, or "".
std::string rowProblem(const Score& s, std::size_t r, std::size_t needed, std::size_t noteColumns) {
    const ScoreRow row = s.row(r);
    const std::size_t fileLine = r + 3;
    if (row.size() < needed && isBlankLine(s.line(r + 2)))
        return problem(fileLine,
                       "the line is blank, a row needs at least %" PRIu64
                       " values: remove blank lines, at the end of the file too",
                       static_cast<std::uint64_t>(needed));
    if (row.size() < needed)
        return problem(fileLine, "%" PRIu64 " value%s, a row needs at least %" PRIu64 "%s",
                       static_cast<std::uint64_t>(row.size()), row.size() == 1 ? "" : "s",
                       static_cast<std::uint64_t>(needed), separatorHint(s.line(r + 2)));
    const std::int32_t length = row[s.part];
    if (length < 1)
        return problem(fileLine, "length value %" PRId32 " in column %" PRId64 ", it must be 1 or more",
                       length, std::int64_t{s.part} + 1);
    for (std::size_t c = 0; c < noteColumns; ++c) {
        if (row[c] < 0 || row[c] > 127)
            return problem(fileLine, "note %" PRId32 " in column %" PRIu64 " is outside 0 to 127", row[c],
                           static_cast<std::uint64_t>(c + 1));
    }
    return {};
}

}  // namespace

std::string lineMessage(const char* kind, std::size_t fileLine, const char* fmt, std::va_list args) {
    char what[240];
    std::vsnprintf(what, sizeof what, fmt, args);
    char text[300];
    std::snprintf(text, sizeof text, "%s: line %" PRIu64 ": %s", kind, static_cast<std::uint64_t>(fileLine),
                  what);
    return text;
}

std::int32_t sixtyFourthMsFor(std::int32_t bpm) {
    // 16 * bpm in 64 bits cannot overflow; the quotient is truncated.
    if (bpm < 1) return 0;
    return static_cast<std::int32_t>(60000.0 / static_cast<double>(std::int64_t{16} * bpm));
}

std::string checkScore(const Score& s, const PlayRules& rules) {
    if (s.lineCount() < 1) return problem(1, "the file is empty; the first line must give the BPM");
    const std::int32_t bpm = s.bpm;
    if (bpm < 1)
        return problem(1, "BPM is %" PRId32 ", it must be 1 or more%s%s", bpm, encodingHint(s.line(0)),
                       wordsHint(s.line(0)).c_str());
    if (s.lineCount() < 2) {
        // A file whose lines end in CR alone is all one line.
        const bool crOnly = s.line(0).find('\r') != std::string_view::npos;
        return problem(2, "no PART line (the number of voices)%s",
                       crOnly ? "; the file's lines end in CR alone, which ends no line" : "");
    }
    if (s.part < 0) return problem(2, "PART is %" PRId32 ", it must be 0 or more", s.part);
    if (s.part > rules.maxPart)
        return problem(2, "PART is %" PRId32 ", this program plays at most %" PRId32 " voices", s.part,
                       rules.maxPart);
    if (s.rowCount() == 0) return problem(3, "no rows to play");

    // Rows need the length column PART and, for the trill player, three values.
    std::size_t needed = static_cast<std::size_t>(s.part) + 1;
    if (needed < static_cast<std::size_t>(rules.minRowValues)) needed = rules.minRowValues;
    const auto noteColumns = static_cast<std::size_t>(rules.trill ? rules.voices : s.part);

    for (std::size_t r = 0; r < s.rowCount(); ++r) {
        const std::string refusal = rowProblem(s, r, needed, noteColumns);
        // A comment reads as a row of zeros or of one value: say what it is.
        if (!refusal.empty() && isTextLine(s.line(r + 2)))
            return problem(r + 3,
                           "the line is text, not a row of numbers: a score has no comment lines, "
                           "remove it");
        if (!refusal.empty()) return refusal;
    }
    return {};
}

}  // namespace pitchime
