// The score is read block by block; wherever a block ends, the lines must be
// those of the whole text read at once. What the lines of a text are is the
// fuzz target's model of the text rules; this holds the block ends to it.
#include "score/score.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace pitchime {
namespace {

// The lines of `text` read in blocks of `size` bytes, or from a file.
std::vector<std::string> linesOf(const std::string& text, std::size_t size, bool fromFile = false) {
    Score s;
    LineReader reader;
    if (fromFile) {
        std::FILE* f = std::tmpfile();
        std::fwrite(text.data(), 1, text.size(), f);
        std::rewind(f);
        readScoreLines(f, s);
        std::fclose(f);
    }
    for (std::size_t at = 0; !fromFile && at < text.size(); at += size)
        readScoreBlock(reader, std::string_view(text).substr(at, size), s);
    if (!fromFile) finishScoreLines(reader, s);
    std::vector<std::string> out;
    for (std::size_t i = 0; i < s.lineCount(); ++i) out.emplace_back(s.line(i));
    return out;
}

TEST(ScoreLoader, BlockEndsChangeNoLine) {
    // A file is read in blocks of this length: a CR that ends one, and
    // what begins the next.
    const std::string filled = "120\n1\n" + std::string(65536 - 7, '7');
    for (const std::string& text : std::vector<std::string>{
             "120\r\n2\r\n60,64,4\r\n", "1\r\r\n2\r", "120\n1\n60,4\032\r\n61,4\n", "1\n\n\n2", "\r\n\r\n",
             filled + "\r\n60,4\n", filled + "\r7\n", filled + "\r\r\n", filled + "\r\03260,4\n",
             filled + "7\03260,4\n", filled + "\r"}) {
        SCOPED_TRACE(
            testing::PrintToString(text.substr(text.size() - std::min<std::size_t>(text.size(), 20))));
        const std::vector<std::string> whole = linesOf(text, text.size());
        EXPECT_EQ(linesOf(text, 1), whole);
        EXPECT_EQ(linesOf(text, 0, true), whole);
    }
}

}  // namespace
}  // namespace pitchime
