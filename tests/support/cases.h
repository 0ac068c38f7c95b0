// The tables of the table-driven tests: blank lines and lines starting with
// '#' are left out. Each row is a test case of its own, named after it, so
// that ctest lists, runs and reports the rows one by one.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <ostream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace pitchime::test {

inline std::vector<std::string> fileLines(const std::string& path, bool all = true) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (all || (!line.empty() && line[0] != '#')) lines.push_back(line);
    return lines;
}

// The lines of tests/`name`. A missing or empty file gives lines that no
// table takes.
inline std::vector<std::string> dataLines(const std::string& name) {
    auto lines = fileLines(std::string(PITCHIME_SOURCE_DIR) + "/tests/" + name, false);
    return lines.empty() ? std::vector<std::string>{"[no cases in " + name + "]", "? no cases"} : lines;
}

inline std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

// A row: one line of a table, or a block of lines headed by "[text]". Its
// name is the text's letters and digits, each other run of characters
// between them '_', as tests/CMakeLists.txt names the rows of its tables.
struct Row {
    std::string name, text;
    std::vector<std::string> lines;  // a block's lines after its heading
};

inline Row row(const std::string& text) {
    const std::string trimmed = std::regex_replace(text, std::regex("^[^A-Za-z0-9]+|[^A-Za-z0-9]+$"), "");
    return {std::regex_replace(trimmed, std::regex("[^A-Za-z0-9]+"), "_"), text, {}};
}

inline std::vector<Row> rows(const std::string& name) {
    std::vector<Row> out;
    for (const std::string& line : dataLines(name)) out.push_back(row(line));
    return out;
}

inline std::vector<Row> blocks(const std::string& name) {
    std::vector<Row> out;
    for (const std::string& line : dataLines(name)) {
        if (line[0] == '[') out.push_back(row(line.substr(1, line.size() - 2)));
        if (line[0] != '[' && !out.empty()) out.back().lines.push_back(line);
    }
    return out;
}

inline void PrintTo(const Row& r, std::ostream* os) { *os << r.text; }

}  // namespace pitchime::test

// A test run for each row of `table` (rows() or blocks()), as SUITE.TEST/ROW.
#define TABLE_TEST(Suite, Test, table)                                                                       \
    class Suite : public testing::TestWithParam<pitchime::test::Row> {};                                     \
    INSTANTIATE_TEST_SUITE_P(, Suite, testing::ValuesIn(table), [](const auto& r) { return r.param.name; }); \
    TEST_P(Suite, Test)
