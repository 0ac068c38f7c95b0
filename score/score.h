// The score: a BPM line, a PART line, then one row of comma-separated
// integers per line. Loaded once before play and read-only afterwards.
// Every function here works on the Score it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <span>
#include <string_view>
#include <vector>

namespace pitchime {

// One score line as its comma-separated values, in order.
using ScoreRow = std::span<const std::int32_t>;

struct Score {
    // The file's text lines without their line ends, stored back to back:
    // line i is lineText[lineEnds[i-1] .. lineEnds[i]).
    std::vector<char> lineText;
    std::vector<std::size_t> lineEnds;
    std::int32_t bpm = 0;
    std::int32_t part = 0;
    // All rows' values back to back: row i is values[rowEnds[i-1] .. rowEnds[i]).
    std::vector<std::int32_t> values;
    std::vector<std::size_t> rowEnds;

    std::size_t lineCount() const { return lineEnds.size(); }
    std::string_view line(std::size_t i) const;
    std::size_t rowCount() const { return rowEnds.size(); }
    ScoreRow row(std::size_t i) const;
};

// Reads a number the way atoi does: leading white space, an optional sign,
// decimal digits up to the first other byte (or a NUL); 0 without digits;
// saturated at the signed 32-bit limits. Never fails.
std::int32_t readNumber(std::string_view text);

// Appends every line of `file` (opened in binary, at its start) to
// `into`'s lines, applying the text rules itself: CR LF reads as LF, and a
// byte 0x1A ends the file. A read error ends reading like the end of the
// file. Leaves the file open.
void readScoreLines(std::FILE* file, Score& into);

// The same, for a caller that reads the file itself, block by block: each
// block goes to readScoreBlock in file order, then finishScoreLines stores
// a last line that has no line end.
struct LineReader {
    bool pendingCr = false;  // a CR whose successor is in the next block
    bool lineOpen = false;   // bytes taken since the last line end
    bool ended = false;      // a byte 0x1A ended the file; later blocks are ignored
};
inline constexpr std::size_t scoreBlockSize = 65536;
void readScoreBlock(LineReader& reader, std::string_view block, Score& into);
void finishScoreLines(LineReader& reader, Score& into);

// Sets bpm from line 1 and part from line 2 (0 where the line is missing),
// and turns every line from the third on into a row.
void parseScore(Score& into);

// The score file of a run, opened by name and loaded whole. The interrupt
// release may close it from its own thread at any moment, so it is used
// only under its lock, and whoever closes it closes it for good: the other
// side then finds no file, and a file opened after that is not kept.
struct ScoreFile {
    std::mutex lock;
    std::FILE* file = nullptr;
    bool closed = false;  // closed for good
};

// Opens `path` for reading, in binary. A directory opens for reading on
// some systems but holds no lines: it counts as a file that cannot be
// opened. Returns true when open; otherwise sets `error` to the reason
// (EISDIR for a directory, ECANCELED when the file was closed for good).
bool openScoreFile(ScoreFile& f, const char* path, int& error);

// Closes the file, for good.
void closeScoreFile(ScoreFile& f);

// Back to never opened, closing a file still open. Not while another thread
// may use it.
void resetScoreFile(ScoreFile& f);

// Reads the open file's lines into `into` and parses them (parseScore).
// The lock is taken for one block at a time, so that a release closing the
// file waits for one block at most, never for a whole large file; a file
// closed meanwhile reads as ended there.
void loadScore(ScoreFile& f, Score& into);

}  // namespace pitchime
