// What the programs print, for comparing whole transcripts.
#pragma once

#include <string>
#include <vector>

namespace pitchime::test {

std::vector<std::string> splitLines(const std::string& text);

// Compares a transcript line by line. An expected line containing '*'
// matches any line with the text before it followed by a number of at least
// the value given after the '*' (for measured times), e.g. "REAL:\t*16".
void expectTranscript(const std::string& actual, const std::string& expected);

// From "Initializing..." to "Opening FT245R..."; on a terminal the console
// is cleared after "Initializing...".
std::string banner(bool onTerminal = false);

// From "Successed!" to the "... is READY." line and its empty line, as the
// virtual board answers.
std::string deviceReport(int devices = 1);

}  // namespace pitchime::test
