#include "score/warnings.h"

#include <cstdarg>
#include <cstdio>
#include <string_view>

namespace pitchime {

namespace {

bool isBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// How a value's text reads by the rule of readNumber.
enum class Reading { number, empty, notANumber, textAfterNumber };

Reading classify(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i])) ++i;
    if (i == text.size()) return Reading::empty;
    if (text[i] == '+' || text[i] == '-') ++i;
    const std::size_t digits = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    if (i == digits) return Reading::notANumber;
    while (i < text.size() && isBlank(text[i])) ++i;
    return i == text.size() ? Reading::number : Reading::textAfterNumber;
}

// A value's text in quotes, fit for one line of a terminal: blanks around
// it dropped, bytes other than printable ASCII as \xNN, long text cut.
std::string quoted(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    constexpr std::size_t shown = 24;
    std::string q = "\"";
    for (std::size_t i = 0; i < text.size() && i < shown; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            q.push_back(static_cast<char>(c));
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned>(c));
            q += escaped;
        }
    }
    if (text.size() > shown) q += "...";
    return q + "\"";
}

struct Collector {
    std::vector<std::string> lines;
    std::size_t limit = 0;
    std::size_t left = 0;  // warnings past the limit

    bool full() const { return lines.size() >= limit; }

#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    void
    add(std::size_t fileLine, const char* fmt, ...) {
        if (full()) {
            ++left;
            return;
        }
        va_list args;
        va_start(args, fmt);
        lines.push_back(lineMessage("Score warning", fileLine, fmt, args));
        va_end(args);
    }
};

int asInt(std::int32_t v) { return static_cast<int>(v); }

// Whether the player sounds column c (from 0) of a row.
bool isPlayed(std::size_t c, std::int32_t part, bool trill) {
    const auto length = static_cast<std::size_t>(part);
    return trill ? c < 2 || c == length : c <= length;
}

void headerWarnings(Collector& out, const Score& s, bool trill) {
    const std::int32_t bpm = readNumber(s.line(0));
    if (sixtyFourthMsFor(bpm) == 0)
        out.add(1, "BPM is %d, above 3750: a sixty-fourth note lasts 0 ms, so every row lasts 0 ms",
                asInt(bpm));

    const bool partIsText = classify(s.line(1)) == Reading::notANumber;
    const std::string partText = partIsText ? "PART " + quoted(s.line(1)) + " is not a number, it reads as 0"
                                            : "PART is " + std::to_string(s.part);
    if (!trill && s.part == 0) out.add(2, "%s, so no voice sounds", partText.c_str());
    if (trill && s.part < 2)
        out.add(2, "%s: the length value is read from column %d, which this program also plays as a note",
                partText.c_str(), asInt(s.part) + 1);
    if (trill && s.part == 3)
        out.add(2, "PART is 3: this program alternates columns 1 and 2 and does not play column 3");
    if (trill && s.part > 3)
        out.add(2, "PART is %d: this program alternates columns 1 and 2 and does not play columns 3 to %d",
                asInt(s.part), asInt(s.part));

    // Note 0 is no rest for the trill player: a column of nothing
    // but zeros is the lowest count the board plays.
    for (std::size_t c = 0; trill && c < 2; ++c) {
        if (c == static_cast<std::size_t>(s.part)) continue;
        bool allZero = true;
        for (std::size_t r = 0; r < s.rowCount() && allZero; ++r) allZero = s.row(r)[c] == 0;
        if (allZero)
            out.add(3,
                    "column %d is 0 in every row: this program plays it as note 0, a buzz of about 18 Hz, "
                    "not as a rest",
                    static_cast<int>(c) + 1);
    }
}

void lengthWarning(Collector& out, std::size_t fileLine, std::int32_t length, const PlayRules& rules) {
    // The sixty-fourth notes the row really lasts: the trill player
    // sounds them in pairs.
    const std::int32_t sixtyFourths = rowSixtyFourths(rules, length);
    const bool trill = rules.trill;
    if (static_cast<std::int64_t>(sixtyFourths) * length == 64) return;
    if (sixtyFourths == 0 && !trill) {
        out.add(fileLine, "length value %d is above 64: the row lasts 0 ms", asInt(length));
    } else if (sixtyFourths == 0) {
        out.add(fileLine,
                "length value %d is above 32: this program plays sixty-fourth notes in pairs, so the row "
                "lasts 0 ms",
                asInt(length));
    } else if (!trill) {
        out.add(fileLine,
                "length value %d does not divide 64: the row lasts %d sixty-fourth note%s (64 / %d, "
                "rounded down)",
                asInt(length), asInt(sixtyFourths), sixtyFourths == 1 ? "" : "s", asInt(length));
    } else {
        out.add(fileLine,
                "length value %d does not divide 32: this program plays sixty-fourth notes in pairs, so the "
                "row lasts %d sixty-fourth notes",
                asInt(length), asInt(sixtyFourths));
    }
}

void rowWarnings(Collector& out, const Score& s, std::size_t r, const PlayRules& rules) {
    const bool trill = rules.trill;
    const std::size_t fileLine = r + 3;
    std::string_view rest = s.line(r + 2);
    for (std::size_t c = 0;; ++c) {
        const std::size_t comma = rest.find(',');
        const std::string_view text = rest.substr(0, comma);
        if (isPlayed(c, s.part, trill)) {
            const Reading reading = classify(text);
            if (reading == Reading::notANumber) {
                out.add(fileLine, "column %d is %s, not a number: it reads as 0, %s", static_cast<int>(c) + 1,
                        quoted(text).c_str(),
                        trill ? "note 0 (a buzz of about 18 Hz), not a rest" : "a rest");
            } else if (reading == Reading::textAfterNumber) {
                out.add(fileLine, "column %d is %s: it reads as %d, the text after the number is ignored",
                        static_cast<int>(c) + 1, quoted(text).c_str(), asInt(readNumber(text)));
            }
        }
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    lengthWarning(out, fileLine, s.row(r)[static_cast<std::size_t>(s.part)], rules);
}

}  // namespace

std::vector<std::string> scoreWarnings(const Score& s, const PlayRules& rules, std::size_t limit) {
    // The trill player names the note columns it plays; the
    // three-voice player plays the PART columns, where 0 is a rest.
    Collector out;
    out.limit = limit;
    headerWarnings(out, s, rules.trill);
    for (std::size_t r = 0; r < s.rowCount(); ++r) rowWarnings(out, s, r, rules);
    if (out.left > 0) out.lines.push_back("Score warning: and " + std::to_string(out.left) + " more");
    return out.lines;
}

}  // namespace pitchime
