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

TEST(NumberRule, ReadsLikeAtoi) {
    EXPECT_EQ(readNumber("120"), 120);
    EXPECT_EQ(readNumber(" 6 0"), 6);
    EXPECT_EQ(readNumber("\t\n\v\f\r 42"), 42);
    EXPECT_EQ(readNumber("C4"), 0);
    EXPECT_EQ(readNumber("12abc"), 12);
    EXPECT_EQ(readNumber("7.9"), 7);
    EXPECT_EQ(readNumber("0x10"), 0);
    EXPECT_EQ(readNumber("+5"), 5);
    EXPECT_EQ(readNumber("-5"), -5);
    EXPECT_EQ(readNumber("--5"), 0);
    EXPECT_EQ(readNumber("- 5"), 0);
    EXPECT_EQ(readNumber(""), 0);
    EXPECT_EQ(readNumber(std::string_view("4\0"
                                          "2",
                                          3)),
              4);
    EXPECT_EQ(readNumber(std::string_view("\0"
                                          "42",
                                          3)),
              0);
}

TEST(NumberRule, SaturatesAtThe32BitLimits) {
    EXPECT_EQ(readNumber("2147483647"), INT_MAX);
    EXPECT_EQ(readNumber("2147483648"), INT_MAX);
    EXPECT_EQ(readNumber("99999999999"), INT_MAX);
    EXPECT_EQ(readNumber("-2147483648"), INT_MIN);
    EXPECT_EQ(readNumber("-2147483649"), INT_MIN);
    EXPECT_EQ(readNumber("-99999999999"), INT_MIN);
    EXPECT_EQ(readNumber(std::string(5000, '9')), INT_MAX);
    EXPECT_EQ(readNumber("00000000000000000000123"), 123);
}

TEST(ScoreLoader, WorkedExampleWithFourRows) {
    Score s = load("120\n3\n60,64,67,4\n62,0,0,8\n0,0,0,8\n72,76,79,2\n");
    EXPECT_EQ(readNumber(s.line(0)), 120);
    EXPECT_EQ(s.part, 3);
    EXPECT_EQ(rows(s),
              (std::vector<std::vector<int>>{{60, 64, 67, 4}, {62, 0, 0, 8}, {0, 0, 0, 8}, {72, 76, 79, 2}}));
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

TEST(ScoreLoader, EndOfFileByte) {
    Score s = load(
        "120\n1\n60,4\n62,4\x1a"
        "64,4\n66,4\n");
    EXPECT_EQ(rows(s), (std::vector<std::vector<int>>{{60, 4}, {62, 4}}));
    EXPECT_EQ(load("\x1a"
                   "120\n")
                  .lineCount(),
              0u);
    // A CR right before the end-of-file byte has no LF after it: kept.
    EXPECT_EQ(lines(load("1\r\x1a")), (std::vector<std::string>{"1\r"}));
}

TEST(ScoreLoader, KeepsNulBytesAndCrLfAcrossReadBlocks) {
    // A CR as the last byte of one read block and its LF as the first of
    // the next must still read as one line end.
    std::string head = "120\n1\n";
    std::string filler(65536 - head.size() - 1, '7');
    Score s = load(head + filler + "\r\n60,4\n");
    ASSERT_EQ(s.lineCount(), 4u);
    EXPECT_EQ(s.line(2).size(), filler.size());
    EXPECT_EQ(rows(s)[1], (std::vector<int>{60, 4}));
    // A CR at the end of a block that no LF follows stays in its line,
    // whether text, a line end or the end-of-file byte comes next.
    EXPECT_EQ(lines(load(head + filler + "\r7\n60,4\n"))[2], filler + "\r7");
    EXPECT_EQ(lines(load(head + filler + "\r\r\n60,4\n"))[2], filler + "\r");
    EXPECT_EQ(lines(load(head + filler +
                         "\r\x1a"
                         "60,4\n")),
              (std::vector<std::string>{"120", "1", filler + "\r"}));
    // The end-of-file byte as the first byte of a later block.
    EXPECT_EQ(load(head + filler +
                   "7\x1a"
                   "60,4\n")
                  .lineCount(),
              3u);

    Score n =
        load(std::string("120\n1\n6\0"
                         "0,4\n",
                         13));
    EXPECT_EQ(n.line(2).size(), 5u);
    EXPECT_EQ(rows(n)[0], (std::vector<int>{6, 4}));
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

TEST(ScoreLoader, HeaderOnlyAndShortFiles) {
    Score two = load("120\n3\n");
    EXPECT_EQ(two.part, 3);
    EXPECT_EQ(two.rowCount(), 0u);
    Score one = load("120\n");
    EXPECT_EQ(one.part, 0);
    EXPECT_EQ(one.rowCount(), 0u);
}

TEST(SixtyFourthNote, FromBpm) {
    EXPECT_EQ(sixtyFourthMsFor(120), 31);
    EXPECT_EQ(sixtyFourthMsFor(100), 37);
    EXPECT_EQ(sixtyFourthMsFor(150), 25);
    EXPECT_EQ(sixtyFourthMsFor(60), 62);
    EXPECT_EQ(sixtyFourthMsFor(3750), 1);
    EXPECT_EQ(sixtyFourthMsFor(3751), 0);
    // 16 x bpm would overflow 32 bits here.
    EXPECT_EQ(sixtyFourthMsFor(INT_MAX), 0);
    EXPECT_EQ(sixtyFourthMsFor(268435456), 0);
}

std::string check(const std::string& text, const PlayRules& rules = threeVoice::rules) {
    return checkScore(load(text), rules);
}

TEST(ScoreCheck, AcceptsPlayableScores) {
    EXPECT_EQ(check("120\n3\n60,64,67,4\n0,0,0,8\n127,1,0,64\n"), "");
    EXPECT_EQ(check("120\n0\n4\n1\n"), "");
    EXPECT_EQ(check("120\n2\n60,64,4,99,99\n"), "");
    EXPECT_EQ(check("120\n2\n60,64,4\n0,0,1\n", trill::rules), "");
    EXPECT_EQ(check("2147483647\n1\n60,2147483647\n"), "");
}

TEST(ScoreCheck, RefusesHeaderProblemsWithTheirLine) {
    EXPECT_EQ(check(""), "Score error: line 1: the file is empty; the first line must give the BPM");
    EXPECT_EQ(check("fast\n3\n60,64,67,4\n"), "Score error: line 1: BPM is 0, it must be 1 or more");
    EXPECT_EQ(check("-5\n3\n60,64,67,4\n"), "Score error: line 1: BPM is -5, it must be 1 or more");
    EXPECT_EQ(check("120\n"), "Score error: line 2: no PART line (the number of voices)");
    EXPECT_EQ(check("120\n-1\n4\n"), "Score error: line 2: PART is -1, it must be 0 or more");
    EXPECT_EQ(check("120\n4\n60,60,60,60,4\n"),
              "Score error: line 2: PART is 4, this program plays at most 3 voices");
    EXPECT_EQ(check("120\n4\n60,60,60,60,4\n", trill::rules), "");
    EXPECT_EQ(check("120\n3\n"), "Score error: line 3: no rows to play");
}

TEST(ScoreCheck, NamesTheFileFormatThatHidesTheHeader) {
    EXPECT_EQ(check("120\r3\r60,64,67,4\r"),
              "Score error: line 2: no PART line (the number of voices); the file's lines end in CR alone, "
              "which ends no line");
    EXPECT_EQ(check("\xEF\xBB\xBF"
                    "120\n3\n60,64,67,4\n"),
              "Score error: line 1: BPM is 0, it must be 1 or more; the file begins with a UTF-8 byte-order "
              "mark, save it without one");
    EXPECT_EQ(check(std::string("\xFF\xFE"
                                "1\0"
                                "2\0"
                                "0\0\n\0",
                                10)),
              "Score error: line 1: BPM is 0, it must be 1 or more; the file is UTF-16 text, save it as ANSI "
              "or UTF-8");
}

TEST(ScoreCheck, RefusesRowsThePlayerCannotPlay) {
    EXPECT_EQ(check("120\n3\n60,64,67,4\n60,4\n"), "Score error: line 4: 2 values, a row needs at least 4");
    EXPECT_EQ(check("120\n3\n60,64,67,4\n\n"), "Score error: line 4: 1 value, a row needs at least 4");
    EXPECT_EQ(check("120\n3\n60,64,67,0\n"),
              "Score error: line 3: length value 0 in column 4, it must be 1 or more");
    EXPECT_EQ(check("120\n1\n60,-8\n"),
              "Score error: line 3: length value -8 in column 2, it must be 1 or more");
    EXPECT_EQ(check("120\n3\n60,128,67,4\n"),
              "Score error: line 3: note 128 in column 2 is outside 0 to 127");
    EXPECT_EQ(check("120\n3\n60,64,-1,4\n"), "Score error: line 3: note -1 in column 3 is outside 0 to 127");
    // The trill player needs three values and plays columns 1 and 2 only.
    EXPECT_EQ(check("120\n1\n60,4\n", trill::rules), "Score error: line 3: 2 values, a row needs at least 3");
    EXPECT_EQ(check("120\n3\n60,64,999,4\n", trill::rules), "");
    EXPECT_EQ(check("120\n1\n60,200,4\n", trill::rules),
              "Score error: line 3: note 200 in column 2 is outside 0 to 127");
    // With PART 0 the length value is also the first note the trill plays.
    EXPECT_EQ(check("120\n0\n300,60,4\n", trill::rules),
              "Score error: line 3: note 300 in column 1 is outside 0 to 127");
}

}  // namespace
}  // namespace pitchime
