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

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "board/board_port.h"
#include "board/write_frame.h"
#include "console/console.h"
#include "platform/virtual_time.h"
#include "playback/player.h"
#include "playback/run.h"
#include "score/check.h"
#include "score/score.h"
#include "session/session.h"
#include "vboard/vboard.h"

namespace {

using namespace pitchime;
using Rows = std::vector<std::vector<std::int32_t>>;
using Write = std::pair<int, int>;  // (address, value)

constexpr std::size_t maxPlaySteps = 20000;

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
    std::vector<std::string> lines(1);
    for (std::size_t i = 0; i < size && data[i] != 0x1a; ++i) {
        if (data[i] == '\n') lines.emplace_back();
        if (data[i] != '\n' && !(data[i] == '\r' && i + 1 < size && data[i + 1] == '\n'))
            lines.back() += static_cast<char>(data[i]);
    }
    if (lines.back().empty()) lines.pop_back();  // nothing after the last line end
    return lines;
}

std::int32_t expectedNumber(std::string_view field) {
    std::size_t i = field.find_first_not_of(" \t\n\v\f\r");
    if (i == field.npos) return 0;
    const bool negative = field[i] == '-';
    if (field[i] == '+' || field[i] == '-') ++i;
    long long magnitude = 0;
    for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i)
        magnitude = std::min(magnitude * 10 + (field[i] - '0'), 1LL << 31);
    return static_cast<std::int32_t>(negative ? -magnitude : std::min(magnitude, (1LL << 31) - 1));
}

Rows expectedRows(const std::vector<std::string>& lines) {
    Rows rows;
    for (std::size_t i = 2; i < lines.size(); ++i) {
        rows.emplace_back();
        for (std::size_t begin = 0, at = 0; at <= lines[i].size(); ++at) {
            if (at == lines[i].size() || lines[i][at] == ',') {
                rows.back().push_back(expectedNumber(std::string_view(lines[i]).substr(begin, at - begin)));
                begin = at + 1;
            }
        }
    }
    return rows;
}

// ---- What each program must accept, and what it must write ----

// The file line of the first thing the player cannot play, 0 if none.
std::size_t firstBadLine(const std::vector<std::string>& lines, std::int32_t part, const Rows& rows,
                         const PlayRules& rules) {
    if (lines.empty() || expectedNumber(lines[0]) < 1) return 1;
    if (lines.size() < 2 || part < 0 || part > rules.maxPart) return 2;
    if (rows.empty()) return 3;
    const auto length = static_cast<std::size_t>(part);
    const std::size_t notes = rules.trill ? 2 : length;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        bool bad = rows[r].size() <= length ||
                   rows[r].size() < static_cast<std::size_t>(rules.minRowValues) || rows[r][length] < 1;
        for (std::size_t c = 0; !bad && c < notes; ++c) bad = rows[r][c] < 0 || rows[r][c] > 127;
        if (bad) return r + 3;
    }
    return 0;
}

// A note's 8254 count, low byte then high: notes 14 up from the
// equal-tempered pitch, lower ones at the largest count.
void addCount(std::vector<Write>& out, int address, std::int32_t note) {
    const int count =
        note < 14 ? 0xFFFF
                  : static_cast<int>(std::lround(1193182.0 / (440.0 * std::pow(2.0, (note - 69) / 12.0))));
    out.insert(out.end(), {{address, count & 0xFF}, {address, count >> 8}});
}

// Three voices: a rest stops its counter, the next note resumes it first.
// Trill: 32 / L cycles of column 0's count then column 1's, on counter 0.
std::vector<Write> playWrites(const Rows& rows, std::int32_t part, bool trill) {
    std::vector<Write> out;
    bool silenced[3] = {false, false, false};
    for (const auto& row : rows) {
        for (std::int32_t cycle = trill ? 32 / row[part] : 0; cycle > 0 && out.size() < 4 * maxPlaySteps;
             --cycle) {
            addCount(out, 0, row[0]);
            addCount(out, 0, row[1]);
        }
        for (std::int32_t v = 0; !trill && v < part; ++v) {
            if (silenced[v] && row[v] != 0) out.emplace_back(3, runControlWords[v]);
            if (row[v] != 0) silenced[v] = false;
        }
        for (std::int32_t v = 0; !trill && v < part; ++v) {
            if (row[v] != 0) addCount(out, v, row[v]);
            if (row[v] == 0) out.emplace_back(3, stopControlWords[v]);
            if (row[v] == 0) silenced[v] = true;
        }
    }
    return out;
}

// ---- The run ----

// Never destroyed: the exit handler that removes the file runs after the
// destructors of statics made later than it was registered.
const std::string& scorePath() {
    static const std::string& path = *new std::string([] {
        const char* dir = std::getenv("TMPDIR");
        std::string p = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/pitchime-fuzz-" +
                        std::to_string(static_cast<long>(getpid())) + ".txt";
        std::atexit([] { std::remove(scorePath().c_str()); });
        return p;
    }());
    return path;
}

// One whole session of `player` on the score file, from `startUs` on the
// virtual clock, on a board that fails writes after `failAfter` (-1: never):
// what it printed. The board keeps a few more writes than expected, so that
// an extra one shows.
std::string runProgram(const Player& player, std::size_t writes, std::int64_t startUs,
                       std::int64_t failAfter) {
    Run run;
    vboard::Options options;
    options.recordCapacity = writes + 4;
    options.writeCallCapacity = writes + 6;
    options.failAfter = failAfter;
    vboard::reset(options);
    platform::setVirtualUs(startUs);
    char* buffer = nullptr;
    std::size_t length = 0;
    std::FILE* out = open_memstream(&buffer, &length);
    console::setStream(out);
    // Warnings and failure notes are only computed: printing them for
    // every input would slow the fuzzer down.
    console::setNoteStream(nullptr);
    FUZZ_CHECK(runSession(run, scorePath().c_str(), player) == 0, "exit status not 0");
    console::setStream(nullptr);
    std::fclose(out);
    std::string printed(buffer, length);
    std::free(buffer);
    return printed;
}

// What the board saw: no violation, closed, the rest pattern first and
// last with one whole frame for every register write between, and those
// writes, `want`, decoded; with `failAfter`, only those that got through.
void checkBoard(std::vector<Write> want, std::int64_t failAfter) {
    const vboard::Status c = vboard::status();
    FUZZ_CHECK(c.counts.violations == 0, "board violation: %s", vboard::lastViolation().c_str());
    FUZZ_CHECK(!c.open && c.counts.unrecorded == 0 && c.counts.unrecordedWriteCalls == 0,
               "left open, or more writes");
    const std::vector<vboard::WriteCall> calls = vboard::writeCalls();
    FUZZ_CHECK(calls.size() == want.size() + 2, "%zu FT_Write calls for %zu writes", calls.size(),
               want.size());
    for (std::size_t i = 0; i < calls.size(); ++i) {
        const std::uint32_t size = i == 0 || i + 1 == calls.size() ? idlePattern.size() : writeFrameSize;
        const bool fails = failAfter >= 0 && i >= static_cast<std::size_t>(failAfter);
        FUZZ_CHECK(calls[i].size == size && calls[i].status == (fails ? d2xx::FT_IO_ERROR : d2xx::FT_OK),
                   "FT_Write %zu: %u bytes, status %u", i + 1, calls[i].size, calls[i].status);
    }
    // The first write, the resting lines, carries no register write.
    if (failAfter >= 0)
        want.resize(std::min<std::size_t>(want.size(), std::max<std::int64_t>(failAfter - 1, 0)));
    std::vector<Write> decoded;
    for (const vboard::RegisterWrite& w : vboard::registerWrites()) decoded.emplace_back(w.address, w.value);
    FUZZ_CHECK(decoded == want, "%zu register writes decoded, %zu expected", decoded.size(), want.size());
}

void fuzzPlayer(const Player& player, bool trill, const Score& loaded, const std::vector<std::string>& lines,
                std::int32_t part, const Rows& rows, std::uint64_t seed) {
    // The clock starts up to about 17 minutes before its 32-bit millisecond
    // reading wraps, so that rows spanning the wrap are played often.
    const std::int64_t startUs =
        (std::int64_t{INT32_MAX} + 1 - static_cast<std::int64_t>(seed % (1 << 20))) * 1000;
    const std::string verdict = checkScore(loaded, player.rules);
    if (const std::size_t bad = firstBadLine(lines, part, rows, player.rules); bad != 0) {
        const std::string prefix = "Score error: line " + std::to_string(bad) + ": ";
        FUZZ_CHECK(verdict.starts_with(prefix) && verdict.find('\n') == verdict.npos,
                   "verdict \"%s\", expected line %zu", verdict.c_str(), bad);
        FUZZ_CHECK(runProgram(player, 0, startUs, -1).ends_with("\nOpened!\n\n" + verdict + "\n"),
                   "refusal not printed last");
        return checkBoard({}, -1);
    }
    FUZZ_CHECK(verdict.empty(), "refused a playable score: %s", verdict.c_str());
    std::vector<Write> want = playWrites(rows, part, trill);
    if (want.size() + rows.size() > maxPlaySteps) return;  // too long to play for one input
    want.insert(want.begin(), {{3, runControlWords[0]}, {3, runControlWords[1]}, {3, runControlWords[2]}});
    const std::string printed = runProgram(player, want.size(), startUs, -1);
    std::size_t real = 0;
    for (std::size_t at = 0; (at = printed.find("\nREAL:\t", at)) != printed.npos; ++at) ++real;
    FUZZ_CHECK(real == rows.size() && printed.ends_with("\nClosed\n"), "not every row played, or not closed");
    checkBoard(want, -1);
    // A board that stops taking writes somewhere changes nothing printed:
    // waits are virtual and the programs never look at a write's answer.
    const auto failAfter = static_cast<std::int64_t>(seed % (want.size() + 3));
    FUZZ_CHECK(runProgram(player, want.size(), startUs, failAfter) == printed,
               "a board failing after %lld writes changed the output", static_cast<long long>(failAfter));
    checkBoard(want, failAfter);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> lines = expectedLines(data, size);
    const std::int32_t part = lines.size() >= 2 ? expectedNumber(lines[1]) : 0;
    const Rows rows = expectedRows(lines);

    std::FILE* f = std::fopen(scorePath().c_str(), "wb");
    FUZZ_CHECK(f != nullptr && std::fwrite(data, 1, size, f) == size, "cannot write %s", scorePath().c_str());
    std::fclose(f);
    Score s;
    f = std::fopen(scorePath().c_str(), "rb");
    readScoreLines(f, s);
    std::fclose(f);
    parseScore(s);
    FUZZ_CHECK(s.lineCount() == lines.size() && s.part == part && s.rowCount() == rows.size(),
               "%zu lines, PART %d, %zu rows", s.lineCount(), s.part, s.rowCount());
    for (std::size_t i = 0; i < lines.size(); ++i)
        FUZZ_CHECK(s.line(i) == lines[i], "line %zu differs", i + 1);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const ScoreRow row = s.row(r);
        FUZZ_CHECK(std::vector<std::int32_t>(row.begin(), row.end()) == rows[r], "row %zu differs", r + 1);
    }

    // Where the clock starts and the board fails, from the input's bytes (FNV-1a).
    std::uint64_t seed = 14695981039346656037u;
    for (std::size_t i = 0; i < size; ++i) seed = (seed ^ data[i]) * 1099511628211u;
    fuzzPlayer(threeVoicePlayer, false, s, lines, part, rows, seed);
    fuzzPlayer(trillPlayer, true, s, lines, part, rows, seed >> 32);
    return 0;
}
