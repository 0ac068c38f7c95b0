// pitchime-trill: counter 0 alone, alternating the first two voice columns
// every sixty-fourth note.
#include "apps/command_line.h"
#include "session/session.h"
#include "version.h"

namespace {

constexpr const char* usage =
    "Usage: pitchime-trill [SCORE]\n"
    "       pitchime-trill -h | --help | -V | --version\n";

constexpr const char* help =
    "Plays SCORE on counter 0 of the tone board (an 8254 timer behind an\n"
    "FT245R) alone, alternating the notes of voice columns 1 and 2 every\n"
    "sixty-fourth note; note 0 is a low buzz, not a rest. Without SCORE it asks\n"
    "for the file name at \"Open File:\". It waits for a key at READY?, prints\n"
    "every row and count as it plays, then the tempo it kept. Ctrl+C stops it\n"
    "at any moment and brings the board to rest.\n"
    "\n"
    "A score: line 1 the BPM, line 2 PART (2: two note columns, then the\n"
    "length value), then one row per line: the note numbers (MIDI: 60 is\n"
    "middle C) and a length value L (the row lasts a 1/L note), at least three\n"
    "values, separated by commas.\n"
    "\n"
    "Warnings about the score go to standard error before READY?; to see them\n"
    "without a board: pitchime-render --check --trill SCORE. Arguments after\n"
    "SCORE are ignored, which a line on standard error says.\n"
    "\n"
    "  -h, --help     print this help and exit\n"
    "  -V, --version  print the version and exit\n"
    "\n"
    "Exit status: 0; 1 when Ctrl+C cannot be caught; 2 for a wrong command line.\n";

constexpr pitchime::apps::Program program{.name = "pitchime-trill",
                                          .usage = usage,
                                          .help = help,
                                          .version = pitchime::version,
                                          .shortForms = true,
                                          .dashFiles = true};

}  // namespace

int main(int argc, char** argv) {
    const char* score = nullptr;
    if (const int status = pitchime::apps::readScoreArgument(program, argc, argv, score); status >= 0)
        return status;
    pitchime::runProgram(score, pitchime::trillPlayer);
}
