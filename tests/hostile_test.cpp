// Hostile scores through the loader and the checker: the committed corpus
// with its expected outcomes, and large files made here at run time.
#include "support/hostile.h"

#include <gtest/gtest.h>

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

Score loadFile(const std::string& path) {
    Score s;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    EXPECT_NE(f, nullptr) << path;
    if (f == nullptr) return s;
    readScoreLines(f, s);
    std::fclose(f);
    parseScore(s);
    return s;
}

std::string verdict(const std::string& outcome) { return outcome == "plays" ? "" : outcome; }

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
    const char* reasons[] = {"the file is empty",     "BPM is",          "no PART line",
                             "it must be 0 or more",  "plays at most",   "no rows to play",
                             "a row needs at least",  "length value",    "is outside 0 to 127",
                             "lines end in CR alone", "byte-order mark", "UTF-16"};
    for (const char* reason : reasons) {
        bool found = false;
        for (const auto& c : m.cases)
            found = found || c.pitchime.find(reason) != std::string::npos ||
                    c.trill.find(reason) != std::string::npos;
        EXPECT_TRUE(found) << reason;
    }
}

TEST(HostileScores, LoaderAndCheckerGiveEachItsOutcome) {
    for (const auto& c : hostileManifest().cases) {
        SCOPED_TRACE(c.file);
        const Score s = loadFile(hostilePath(c.file));
        EXPECT_EQ(checkScore(s, threeVoice::rules), verdict(c.pitchime));
        EXPECT_EQ(checkScore(s, trill::rules), verdict(c.trill));
    }
}

// A file made by the test, removed when the test ends.
struct MadeFile {
    std::string path;
    explicit MadeFile(const std::string& name) : path(::testing::TempDir() + name) {}
    ~MadeFile() { std::remove(path.c_str()); }
};

// Writes `head`, then `body` `times` times, then `tail`.
void writeRepeated(const std::string& path, const std::string& head, const std::string& body,
                   std::size_t times, const std::string& tail) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(head.data(), 1, head.size(), f);
    // Whole blocks of the body at a time: a 100 MB file in a few hundred writes.
    std::string block;
    const std::size_t perBlock = std::max<std::size_t>(1, (1 << 20) / body.size());
    for (std::size_t i = 0; i < perBlock; ++i) block += body;
    for (std::size_t left = times; left > 0;) {
        const std::size_t n = std::min(left, perBlock);
        std::fwrite(block.data(), 1, n * body.size(), f);
        left -= n;
    }
    std::fwrite(tail.data(), 1, tail.size(), f);
    ASSERT_EQ(std::fclose(f), 0);
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

    MadeFile file("hostile-100mb.bin");
    std::FILE* f = std::fopen(file.path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("3750\n3\n", f);
    for (std::size_t b = 0; b < blocks; ++b) std::fwrite(block.data(), 1, block.size(), f);
    ASSERT_EQ(std::fclose(f), 0);

    const Score s = loadFile(file.path);
    // The header's two lines, every LF of the blocks, and the last line.
    EXPECT_EQ(s.lineCount(), 2 + blocks * blockLines + 1);
    // Every byte but the line ends: LF, and the CR of each CR LF.
    EXPECT_EQ(s.lineText.size(), 5 + blocks * (block.size() - blockLines - blockCrLf));
    EXPECT_EQ(s.rowCount(), s.lineCount() - 2);
    EXPECT_EQ(checkScore(s, threeVoice::rules).rfind("Score error: line 3: ", 0), 0u);
}

TEST(HostileScores, LargeLineOfAMillionCommas) {
    MadeFile file("hostile-commas.txt");
    writeRepeated(file.path, "3750\n3\n", ",", 1'000'000, "\n");
    const Score s = loadFile(file.path);
    ASSERT_EQ(s.rowCount(), 1u);
    EXPECT_EQ(s.row(0).size(), 1'000'001u);
    const std::string refusal = "Score error: line 3: length value 0 in column 4, it must be 1 or more";
    EXPECT_EQ(checkScore(s, threeVoice::rules), refusal);
    EXPECT_EQ(checkScore(s, trill::rules), refusal);
}

TEST(HostileScores, LargeScoreOfAMillionRows) {
    MadeFile file("hostile-million-rows.txt");
    writeRepeated(file.path, "3750\n2\n", "60,64,4\n", 1'000'000, "");
    const Score s = loadFile(file.path);
    EXPECT_EQ(s.rowCount(), 1'000'000u);
    EXPECT_EQ(checkScore(s, threeVoice::rules), "");
    EXPECT_EQ(checkScore(s, trill::rules), "");
}

}  // namespace
}  // namespace pitchime
