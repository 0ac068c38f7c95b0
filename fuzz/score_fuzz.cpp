// Fuzz target: any bytes as a score file, through loading, checking and a
// whole session of each program against the virtual board in virtual time.
//
// Beyond "no crash, no sanitizer report" it aborts when
// - the loader's lines, PART or rows differ from a plain reading of the
//   text rules written here independently;
// - the checker accepts what a player cannot play, refuses what it can,
//   names another line than the first bad one, or says it in more than one
//   line;
// - a session does not end with status 0, or a refused score does not end
//   with its "Score error:" line, or an accepted one does not print one
//   "REAL:" line per row and "Closed";
// - any FT_Write of play is not one whole 21-byte frame;
// - the register writes the board decoded differ from what the player must
//   write, computed here from the rows;
// - the board saw a protocol violation;
// - a board that fails every write from some point on changes anything of
//   the console output or keeps the session from ending normally.
//
// Play cost cap: an accepted score whose play would take more than
// maxPlaySteps register writes and rows is loaded and checked but not
// played, so that one input never takes seconds. Virtual time makes long
// waits free; only writes and trace lines cost.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "board/board_port.h"
#include "board/write_frame.h"
#include "common/console.h"
#include "platform/virtual_time.h"
#include "playback/player.h"
#include "playback/run_state.h"
#include "score/check.h"
#include "score/score.h"
#include "session/session.h"
#include "vboard/vboard.h"

namespace {

using namespace pitchime;

constexpr std::size_t maxPlaySteps = 20000;

// Where the virtual clock stands when each session of an input starts:
// up to about 17 minutes before its 32-bit millisecond reading wraps, so
// that rows spanning the wrap are played often.
std::int64_t sessionStartUs = 0;

#define FUZZ_CHECK(condition, ...)                                                           \
    do {                                                                                     \
        if (!(condition)) {                                                                  \
            std::fprintf(stderr, "score_fuzz: %s:%d: %s: ", __FILE__, __LINE__, #condition); \
            std::fprintf(stderr, __VA_ARGS__);                                               \
            std::fputc('\n', stderr);                                                        \
            std::abort();                                                                    \
        }                                                                                    \
    } while (0)

// ---- What the loader must give, read straight from the text rules ----

std::vector<std::string> expectedLines(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> lines;
    std::string current;
    bool open = false;
    for (std::size_t i = 0; i < size; ++i) {
        const char c = static_cast<char>(data[i]);
        if (c == '\x1a') break;
        if (c == '\r' && i + 1 < size && data[i + 1] == '\n') continue;
        if (c == '\n') {
            lines.push_back(current);
            current.clear();
            open = false;
        } else {
            current.push_back(c);
            open = true;
        }
    }
    if (open) lines.push_back(current);
    return lines;
}

std::int32_t expectedNumber(std::string_view field) {
    std::size_t i = 0;
    while (i < field.size() && (field[i] == ' ' || (field[i] >= '\t' && field[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
    std::string digits;
    while (i < field.size() && field[i] >= '0' && field[i] <= '9') {
        if (!(digits.empty() && field[i] == '0')) digits.push_back(field[i]);
        ++i;
    }
    const std::string_view limit = negative ? "2147483648" : "2147483647";
    if (digits.size() > limit.size() || (digits.size() == limit.size() && digits > limit))
        return negative ? INT32_MIN : INT32_MAX;
    const long long magnitude = digits.empty() ? 0 : std::stoll(digits);
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

std::vector<std::vector<std::int32_t>> expectedRows(const std::vector<std::string>& lines) {
    std::vector<std::vector<std::int32_t>> rows;
    for (std::size_t i = 2; i < lines.size(); ++i) {
        std::vector<std::int32_t> row;
        std::size_t begin = 0;
        for (std::size_t at = 0; at <= lines[i].size(); ++at) {
            if (at == lines[i].size() || lines[i][at] == ',') {
                row.push_back(expectedNumber(std::string_view(lines[i]).substr(begin, at - begin)));
                begin = at + 1;
            }
        }
        rows.push_back(row);
    }
    return rows;
}

struct Expected {
    std::vector<std::string> lines;
    std::int32_t part = 0;
    std::vector<std::vector<std::int32_t>> rows;
};

// ---- What each program must accept, and what it must write ----

// The file line of the first thing that keeps `rules`' player from playing
// the score, 0 when it can play it all.
std::size_t firstBadLine(const Expected& e, const PlayRules& rules) {
    if (e.lines.empty() || expectedNumber(e.lines[0]) < 1) return 1;
    if (e.lines.size() < 2 || e.part < 0 || e.part > rules.maxPart) return 2;
    if (e.rows.empty()) return 3;
    const std::size_t lengthColumn = static_cast<std::size_t>(e.part);
    const std::size_t notes = rules.noteColumns == NoteColumns::voiceColumns ? lengthColumn : 2;
    for (std::size_t r = 0; r < e.rows.size(); ++r) {
        const auto& row = e.rows[r];
        bool bad = row.size() <= lengthColumn || row.size() < static_cast<std::size_t>(rules.minRowValues);
        bad = bad || row[lengthColumn] < 1;
        for (std::size_t c = 0; !bad && c < notes; ++c) bad = row[c] < 0 || row[c] > 127;
        if (bad) return r + 3;
    }
    return 0;
}

// The 8254 count of a note: notes 14 up from the equal-tempered pitch,
// lower ones at the largest count.
std::uint16_t countOf(std::int32_t note) {
    if (note < 14) return 0xFFFF;
    const double hz = 440.0 * std::pow(2.0, (note - 69) / 12.0);
    return static_cast<std::uint16_t>(std::lround(1193182.0 / hz));
}

using Write = std::pair<int, int>;  // (address, value)

void addCount(std::vector<Write>& out, int address, std::int32_t note) {
    const std::uint16_t count = countOf(note);
    out.emplace_back(address, count & 0xFF);
    out.emplace_back(address, count >> 8);
}

// Three voices: resumes first, then each voice's count or its stop word.
std::vector<Write> threeVoiceWrites(const Expected& e) {
    std::vector<Write> out;
    bool silenced[3] = {false, false, false};
    for (const auto& row : e.rows) {
        for (std::int32_t v = 0; v < e.part; ++v) {
            if (silenced[v] && row[v] != 0) {
                out.emplace_back(3, runControlWords[v]);
                silenced[v] = false;
            }
        }
        for (std::int32_t v = 0; v < e.part; ++v) {
            if (row[v] != 0) {
                addCount(out, v, row[v]);
            } else {
                out.emplace_back(3, stopControlWords[v]);
                silenced[v] = true;
            }
        }
    }
    return out;
}

// Trill: 32 / L cycles of column 0's count then column 1's, on counter 0.
std::vector<Write> trillWrites(const Expected& e) {
    std::vector<Write> out;
    for (const auto& row : e.rows) {
        for (std::int32_t cycle = 32 / row[e.part]; cycle > 0; --cycle) {
            addCount(out, 0, row[0]);
            addCount(out, 0, row[1]);
        }
    }
    return out;
}

// The play writes of a score, counted before building them, so that a
// score past the cost cap is never expanded.
std::size_t playSteps(const Expected& e, bool trill) {
    std::size_t steps = e.rows.size();
    for (const auto& row : e.rows) {
        if (trill) {
            steps += 4 * static_cast<std::size_t>(32 / row[e.part]);
        } else {
            steps += 2 * static_cast<std::size_t>(e.part);
        }
        if (steps > maxPlaySteps) break;
    }
    return steps;
}

// ---- The run ----

const std::string& scorePath() {
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        std::string p = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/pitchime-fuzz-" +
                        std::to_string(static_cast<long>(getpid())) + ".txt";
        std::atexit([] { std::remove(scorePath().c_str()); });
        return p;
    }();
    return path;
}

void writeScoreFile(const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(scorePath().c_str(), "wb");
    FUZZ_CHECK(f != nullptr, "cannot write %s", scorePath().c_str());
    if (size > 0) FUZZ_CHECK(std::fwrite(data, 1, size, f) == size, "short write");
    std::fclose(f);
}

Score loadFromFile() {
    Score s;
    std::FILE* f = std::fopen(scorePath().c_str(), "rb");
    FUZZ_CHECK(f != nullptr, "cannot read %s", scorePath().c_str());
    readScoreLines(f, s);
    std::fclose(f);
    parseScore(s);
    return s;
}

void checkLoader(const Score& s, const Expected& e) {
    FUZZ_CHECK(s.lineCount() == e.lines.size(), "%zu lines, expected %zu", s.lineCount(), e.lines.size());
    for (std::size_t i = 0; i < e.lines.size(); ++i)
        FUZZ_CHECK(s.line(i) == e.lines[i], "line %zu differs", i + 1);
    FUZZ_CHECK(s.part == e.part, "PART %d, expected %d", s.part, e.part);
    FUZZ_CHECK(s.rowCount() == e.rows.size(), "%zu rows, expected %zu", s.rowCount(), e.rows.size());
    for (std::size_t r = 0; r < e.rows.size(); ++r) {
        const ScoreRow row = s.row(r);
        FUZZ_CHECK(std::vector<std::int32_t>(row.begin(), row.end()) == e.rows[r], "row %zu differs", r + 1);
    }
}

std::size_t countLinesStartingWith(const std::string& text, std::string_view prefix) {
    std::size_t n = 0;
    for (std::size_t at = 0; at < text.size();) {
        if (text.compare(at, prefix.size(), prefix) == 0) ++n;
        const std::size_t end = text.find('\n', at);
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return n;
}

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// One whole session of `player` on the score file: what it printed.
std::string runProgram(const Player& player, std::size_t expectedWrites, std::int64_t failAfter = -1) {
    resetRunState();
    // Room for more writes than expected, so that an extra one is seen.
    vboard::Options options;
    options.recordCapacity = expectedWrites + 4;
    options.writeCallCapacity = expectedWrites + 6;
    options.failAfter = failAfter;
    vboard::reset(options);
    platform::setVirtualUs(sessionStartUs);

    char* buffer = nullptr;
    std::size_t length = 0;
    std::FILE* out = open_memstream(&buffer, &length);
    FUZZ_CHECK(out != nullptr, "open_memstream failed");
    console::setStream(out);
    // Warnings and failure notes are only computed: printing them for
    // every input would slow the fuzzer down.
    console::setNoteStream(nullptr);
    std::string name = player.playScore == trill::playScore ? "pitchime-trill" : "pitchime";
    std::string path = scorePath();
    char* argv[] = {name.data(), path.data(), nullptr};
    const int status = runSession(2, argv, player);
    console::setStream(nullptr);
    std::fclose(out);
    std::string printed(buffer, length);
    std::free(buffer);
    FUZZ_CHECK(status == 0, "exit status %d", status);
    return printed;
}

// What the board saw of a session: nothing for a refused score, else the
// session's run control words and the player's writes. With `failAfter`
// 0 or more, only that many FT_Write calls succeed.
void checkBoard(bool accepted, const std::vector<Write>& played, std::int64_t failAfter = -1) {
    const vboard::Status c = vboard::status();
    FUZZ_CHECK(c.counts.violations == 0, "board violation: %s", vboard::lastViolation().c_str());
    FUZZ_CHECK(!c.open, "board left open");
    FUZZ_CHECK(c.counts.unrecorded == 0 && c.counts.unrecordedWriteCalls == 0, "more writes than expected");

    std::vector<Write> want;
    if (accepted) {
        for (std::int32_t word : runControlWords) want.emplace_back(controlWordAddress, word);
        want.insert(want.end(), played.begin(), played.end());
    }

    // Resting the lines when configuring and at the end, one frame per
    // register write in between.
    const std::vector<vboard::WriteCall> calls = vboard::writeCalls();
    FUZZ_CHECK(calls.size() == want.size() + 2, "%zu FT_Write calls, expected %zu", calls.size(),
               want.size() + 2);
    for (std::size_t i = 0; i < calls.size(); ++i) {
        const bool rest = i == 0 || i + 1 == calls.size();
        const std::uint32_t size = rest ? idlePattern.size() : writeFrameSize;
        const bool fails = failAfter >= 0 && i >= static_cast<std::size_t>(failAfter);
        const std::uint32_t status = fails ? d2xx::FT_IO_ERROR : d2xx::FT_OK;
        FUZZ_CHECK(calls[i].size == size && calls[i].status == status, "FT_Write %zu: %u bytes, status %u",
                   i + 1, calls[i].size, calls[i].status);
    }
    // The first write, the resting lines, carries no register write.
    if (failAfter >= 0)
        want.resize(
            std::min(want.size(), static_cast<std::size_t>(std::max<std::int64_t>(failAfter - 1, 0))));

    std::vector<Write> decoded;
    for (const vboard::RegisterWrite& w : vboard::registerWrites()) decoded.emplace_back(w.address, w.value);
    FUZZ_CHECK(decoded.size() == want.size(), "%zu register writes, expected %zu", decoded.size(),
               want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        FUZZ_CHECK(decoded[i] == want[i], "register write %zu: %d to %d, expected %d to %d", i + 1,
                   decoded[i].second, decoded[i].first, want[i].second, want[i].first);
    }
}

void fuzzPlayer(const Player& player, bool isTrill, const Score& loaded, const Expected& e,
                std::uint64_t seed) {
    const std::string verdict = checkScore(loaded, player.rules);
    const std::size_t bad = firstBadLine(e, player.rules);
    if (bad != 0) {
        const std::string prefix = "Score error: line " + std::to_string(bad) + ": ";
        FUZZ_CHECK(verdict.compare(0, prefix.size(), prefix) == 0, "verdict \"%s\", expected line %zu",
                   verdict.c_str(), bad);
        FUZZ_CHECK(verdict.find('\n') == std::string::npos, "verdict of more than one line");
        const std::string printed = runProgram(player, 0);
        FUZZ_CHECK(endsWith(printed, "\nOpened!\n\n" + verdict + "\n"), "refusal not printed last");
        checkBoard(false, {});
        return;
    }
    FUZZ_CHECK(verdict.empty(), "refused a playable score: %s", verdict.c_str());
    if (playSteps(e, isTrill) > maxPlaySteps) return;

    const std::vector<Write> played = isTrill ? trillWrites(e) : threeVoiceWrites(e);
    const std::string printed = runProgram(player, played.size() + runControlWords.size());
    FUZZ_CHECK(countLinesStartingWith(printed, "REAL:\t") == e.rows.size(), "not every row played");
    FUZZ_CHECK(endsWith(printed, "\nClosed\n"), "did not close");
    checkBoard(true, played);

    // The same session on a board that stops taking writes somewhere in
    // it: the run ends just as normally and prints exactly the same, as
    // waits are virtual and the programs never look at a write's answer.
    const std::size_t calls = played.size() + runControlWords.size() + 2;
    const auto failAfter = static_cast<std::int64_t>(seed % (calls + 1));
    FUZZ_CHECK(runProgram(player, played.size() + runControlWords.size(), failAfter) == printed,
               "a board failing after %lld writes changed the console output",
               static_cast<long long>(failAfter));
    checkBoard(true, played, failAfter);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Expected e;
    e.lines = expectedLines(data, size);
    e.part = e.lines.size() >= 2 ? expectedNumber(e.lines[1]) : 0;
    e.rows = expectedRows(e.lines);

    writeScoreFile(data, size);
    const Score loaded = loadFromFile();
    checkLoader(loaded, e);

    // Where the clock starts and the board fails, from the input's bytes (FNV-1a).
    std::uint64_t seed = 14695981039346656037u;
    for (std::size_t i = 0; i < size; ++i) seed = (seed ^ data[i]) * 1099511628211u;
    sessionStartUs = (std::int64_t{INT32_MAX} + 1 - static_cast<std::int64_t>(seed % (1 << 20))) * 1000;
    fuzzPlayer(threeVoicePlayer, false, loaded, e, seed);
    fuzzPlayer(trillPlayer, true, loaded, e, seed >> 32);
    return 0;
}
