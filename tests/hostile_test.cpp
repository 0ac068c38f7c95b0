// Hostile scores: the committed corpus and its expected outcomes (which the
// end-to-end tests give the programs), and a large file made at run time.
#include "support/hostile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

#include "playback/player.h"
#include "score/check.h"
#include "score/score.h"

namespace pitchime {
namespace {

using test::hostileManifest;
using test::hostilePath;

TEST(HostileScores, EveryFileHasItsOutcomeAndEveryRefusalIsCovered) {
    const test::HostileManifest m = hostileManifest();
    EXPECT_TRUE(m.badLines.empty()) << m.badLines.front();
    ASSERT_FALSE(m.cases.empty());
    std::set<std::string> listed;
    for (const auto& c : m.cases) {
        EXPECT_FALSE(c.pitchime.empty()) << c.file;
        EXPECT_FALSE(c.trill.empty()) << c.file;
        listed.insert(c.file);
    }
    std::set<std::string> present;
    for (const auto& entry : std::filesystem::directory_iterator(hostilePath("")))
        if (entry.path().filename() != "expected.txt") present.insert(entry.path().filename().string());
    EXPECT_EQ(listed, present);

    // Each reason the checker can give appears at least once.
    for (const char* reason : {"the file is empty", "BPM is", "no PART line", "it must be 0 or more",
                               "plays at most", "no rows to play", "a row needs at least", "length value",
                               "is outside 0 to 127", "lines end in CR alone", "byte-order mark", "UTF-16",
                               "separated by commas", "the line is blank", "which is not a number"}) {
        EXPECT_TRUE(std::any_of(m.cases.begin(), m.cases.end(), [&](const test::HostileCase& c) {
            return c.pitchime.find(reason) != std::string::npos || c.trill.find(reason) != std::string::npos;
        })) << reason;
    }
}

TEST(HostileScores, LargeGarbageFileOf100MegabytesLoadsWhole) {
    // A good header, then 100 MB of pseudo-random bytes: what a user gets
    // by giving a recording or a video as the score. One mebibyte of them,
    // written 100 times; no 0x1A among them, so that all must be read, and
    // no CR at the end of the block, so that no CR LF spans two blocks.
    std::string block(1 << 20, '\0');
    std::uint32_t state = 8254;
    for (char& c : block) {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>(state >> 24);
        if (c == '\x1a') c = '\x1b';
    }
    block.back() = 'x';
    std::size_t blockLines = 0, blockCrLf = 0;
    for (std::size_t i = 0; i < block.size(); ++i) {
        if (block[i] != '\n') continue;
        ++blockLines;
        if (i > 0 && block[i - 1] == '\r') ++blockCrLf;
    }
    constexpr std::size_t blocks = 100;

    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    std::fputs("3750\n3\n", f);
    for (std::size_t b = 0; b < blocks; ++b) std::fwrite(block.data(), 1, block.size(), f);
    std::rewind(f);
    Score s;
    readScoreLines(f, s);
    std::fclose(f);
    parseScore(s);
    // The header's two lines, every LF of the blocks, and the last line.
    EXPECT_EQ(s.lineCount(), 2 + blocks * blockLines + 1);
    // Every byte but the line ends: LF, and the CR of each CR LF.
    EXPECT_EQ(s.lineText.size(), 5 + blocks * (block.size() - blockLines - blockCrLf));
    EXPECT_EQ(s.rowCount(), s.lineCount() - 2);
    EXPECT_EQ(checkScore(s, threeVoice::rules).rfind("Score error: line 3: ", 0), 0u);
}

}  // namespace
}  // namespace pitchime
