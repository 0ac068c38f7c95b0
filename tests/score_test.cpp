#include "score/score.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "playback/player.h"
#include "score/check.h"

namespace pitchime {
namespace {

using namespace std::string_literals;

Score load(const std::string& bytes) {
    std::FILE* f = std::tmpfile();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::rewind(f);
    Score s;
    readScoreLines(f, s);
    std::fclose(f);
    parseScore(s);
    return s;
}

std::vector<std::string> lines(const Score& s) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < s.lineCount(); ++i) out.emplace_back(s.line(i));
    return out;
}

std::vector<std::vector<int>> rows(const Score& s) {
    std::vector<std::vector<int>> out;
    for (std::size_t i = 0; i < s.rowCount(); ++i) out.emplace_back(s.row(i).begin(), s.row(i).end());
    return out;
}

TEST(NumberRule, ReadsLikeAtoiAndSaturatesAtThe32BitLimits) {
    const std::pair<std::string, int> cases[] = {{"120", 120},
                                                 {" 6 0", 6},
                                                 {"\t\n\v\f\r 42", 42},
                                                 {"C4", 0},
                                                 {"12abc", 12},
                                                 {"7.9", 7},
                                                 {"0x10", 0},
                                                 {"+5", 5},
                                                 {"-5", -5},
                                                 {"--5", 0},
                                                 {"- 5", 0},
                                                 {"", 0},
                                                 {"4\0002"s, 4},
                                                 {"\00042"s, 0},
                                                 {"2147483647", INT_MAX},
                                                 {"2147483648", INT_MAX},
                                                 {"-2147483648", INT_MIN},
                                                 {"-2147483649", INT_MIN},
                                                 {"-99999999999", INT_MIN},
                                                 {std::string(5000, '9'), INT_MAX},
                                                 {"00000000000000000000123", 123}};
    for (const auto& [text, number] : cases)
        EXPECT_EQ(readNumber(text), number) << testing::PrintToString(text);
}

TEST(ScoreLoader, FieldsCommasAndBlankLines) {
    // CR LF on the PART line, a trailing comma, an empty line, text fields.
    Score s = load("90 bpm\n2\r\n 60, 64 ,4\n60,64,4,\n\nC4,64,4\n");
    EXPECT_EQ(readNumber(s.line(0)), 90);
    EXPECT_EQ(s.part, 2);
    EXPECT_EQ(rows(s), (std::vector<std::vector<int>>{{60, 64, 4}, {60, 64, 4, 0}, {0}, {0, 64, 4}}));

    Score t = load("1\n3\n,\n1,2,,4\n   \n# 60,4\n60,4\n");
    EXPECT_EQ(rows(t), (std::vector<std::vector<int>>{{0, 0}, {1, 2, 0, 4}, {0}, {0, 4}, {60, 4}}));
}

TEST(ScoreLoader, LineEnds) {
    // CR LF reads as LF; a lone CR stays part of the line.
    EXPECT_EQ(lines(load("1\r\n2\r\n3,4\r\n")), lines(load("1\n2\n3,4\n")));
    EXPECT_EQ(lines(load("a\rb\nc\r")), (std::vector<std::string>{"a\rb", "c\r"}));
    // One final LF adds no line, each further LF does.
    EXPECT_EQ(load("1\n2\n3").rowCount(), 1u);
    EXPECT_EQ(load("1\n2\n3\n").rowCount(), 1u);
    EXPECT_EQ(rows(load("1\n2\n3\n\n")), (std::vector<std::vector<int>>{{3}, {0}}));
    EXPECT_EQ(load("").lineCount(), 0u);
    EXPECT_EQ(lines(load("\n")), (std::vector<std::string>{""}));
}

TEST(ScoreLoader, EndOfFileByteAndNulBytes) {
    EXPECT_EQ(rows(load("120\n1\n60,4\n62,4\03264,4\n66,4\n")),
              (std::vector<std::vector<int>>{{60, 4}, {62, 4}}));
    EXPECT_EQ(load("\032120\n").lineCount(), 0u);
    // A CR right before the end-of-file byte has no LF after it: kept.
    EXPECT_EQ(lines(load("1\r\032")), (std::vector<std::string>{"1\r"}));
    // A NUL byte stays in its line and ends a number.
    const Score n = load("120\n1\n6\0000,4\n"s);
    EXPECT_EQ(n.line(2).size(), 5u);
    EXPECT_EQ(rows(n)[0], (std::vector<int>{6, 4}));
}

TEST(ScoreLoader, CrLfAcrossReadBlocks) {
    // A CR as the last byte of one read block and its LF as the first of
    // the next must still read as one line end.
    const std::string head = "120\n1\n";
    const std::string filler(65536 - head.size() - 1, '7');
    Score s = load(head + filler + "\r\n60,4\n");
    ASSERT_EQ(s.lineCount(), 4u);
    EXPECT_EQ(s.line(2).size(), filler.size());
    EXPECT_EQ(rows(s)[1], (std::vector<int>{60, 4}));
    // A CR at the end of a block that no LF follows stays in its line,
    // whether text, a line end or the end-of-file byte comes next.
    EXPECT_EQ(lines(load(head + filler + "\r7\n60,4\n"))[2], filler + "\r7");
    EXPECT_EQ(lines(load(head + filler + "\r\r\n60,4\n"))[2], filler + "\r");
    EXPECT_EQ(lines(load(head + filler + "\r\03260,4\n")),
              (std::vector<std::string>{"120", "1", filler + "\r"}));
    // The end-of-file byte as the first byte of a later block.
    EXPECT_EQ(load(head + filler + "7\03260,4\n").lineCount(), 3u);
}

TEST(ScoreLoader, BlockBoundariesChangeNothing) {
    // The session reads the file block by block; wherever a block ends, the
    // lines are those of the whole file read at once.
    const std::vector<std::string> files = {
        "120\r\n2\r\n60,64,4\r\n", "1\r\r\n2\r", "120\n1\n60,4\x1a\r\n61,4\n", "1\n\n\n2", "\r\n\r\n",
    };
    for (const std::string& text : files) {
        const Score whole = load(text);
        for (std::size_t size : {1u, 2u, 3u, 5u}) {
            SCOPED_TRACE(testing::Message()
                         << "block size " << size << " of " << testing::PrintToString(text));
            Score pieces;
            LineReader reader;
            for (std::size_t at = 0; at < text.size(); at += size)
                readScoreBlock(reader, std::string_view(text).substr(at, size), pieces);
            finishScoreLines(reader, pieces);
            EXPECT_EQ(lines(pieces), lines(whole));
        }
    }
}

TEST(SixtyFourthNote, FromBpm) {
    EXPECT_EQ(sixtyFourthMsFor(120), 31);
    EXPECT_EQ(sixtyFourthMsFor(3750), 1);
    EXPECT_EQ(sixtyFourthMsFor(3751), 0);
    // 16 x bpm would overflow 32 bits here.
    EXPECT_EQ(sixtyFourthMsFor(INT_MAX), 0);
    EXPECT_EQ(sixtyFourthMsFor(268435456), 0);
}

std::string check(const std::string& text, const PlayRules& rules = threeVoice::rules) {
    return checkScore(load(text), rules);
}

// Each refusal, in its exact words, is in the hostile corpus; these are the
// edges of what each player plays.
TEST(ScoreCheck, EdgesOfWhatEachPlayerPlays) {
    EXPECT_EQ(check("120\n3\n60,64,67,4\n0,0,0,8\n127,1,0,64\n"), "");
    EXPECT_EQ(check("120\n0\n4\n1\n"), "");
    EXPECT_EQ(check("120\n2\n60,64,4,99,99\n"), "");
    EXPECT_EQ(check("2147483647\n1\n60,2147483647\n"), "");
    EXPECT_EQ(check("120\n3\n60,64,67,4\n60,64,67,0\n"),
              "Score error: line 4: length value 0 in column 4, it must be 1 or more");
    EXPECT_EQ(check("120\n2\n60,64,4\n0,0,1\n", trill::rules), "");
    EXPECT_EQ(check("120\n1\n60,200,4\n", trill::rules),
              "Score error: line 3: note 200 in column 2 is outside 0 to 127");
    // With PART 0 the length value is also the first note the trill plays.
    EXPECT_EQ(check("120\n0\n300,60,4\n", trill::rules),
              "Score error: line 3: note 300 in column 1 is outside 0 to 127");
}

}  // namespace
}  // namespace pitchime
