// pitchime: each voice column of the score on its own 8254 counter.
#include "apps/command_line.h"
#include "session/session.h"
#include "version.h"

namespace {

constexpr const char* usage =
    "Usage: pitchime [SCORE]\n"
    "       pitchime -h | --help | -V | --version\n";

constexpr const char* help =
    "Plays SCORE on the tone board (an 8254 timer behind an FT245R), each voice\n"
    "column on its own counter, up to three at once; note 0 is a rest. Without\n"
    "SCORE it asks for the file name at \"Open File:\". It waits for a key at\n"
    "READY?, prints every row and count as it plays, then the tempo it kept.\n"
    "Ctrl+C stops it at any moment and brings the board to rest.\n"
    "\n"
    "A score: line 1 the BPM, line 2 PART (the number of voice columns), then\n"
    "one row per line: PART note numbers (MIDI: 60 is middle C, 0 a rest) and a\n"
    "length value L (the row lasts a 1/L note), separated by commas.\n"
    "\n"
    "Warnings about the score go to standard error before READY?; to see them\n"
    "without a board: pitchime-render --check SCORE. Arguments after SCORE are\n"
    "ignored, which a line on standard error says.\n"
    "\n"
    "  -h, --help     print this help and exit\n"
    "  -V, --version  print the version and exit\n"
    "\n"
    "Exit status: 0; 1 when Ctrl+C cannot be caught; 2 for a wrong command line.\n";

constexpr pitchime::apps::Program program{.name = "pitchime",
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
    pitchime::runProgram(score, pitchime::threeVoicePlayer);
}
