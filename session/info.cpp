#include "session/info.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "console/console.h"
#include "score/warnings.h"
#include "version.h"

namespace pitchime {

const ProgramInfo pitchimeInfo{"pitchime",
                               "Usage: pitchime [SCORE]\n"
                               "       pitchime --help | --version\n"
                               "\n"
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
                               "without a board: pitchime-render --check SCORE.\n"
                               "Exit status: 0, or 1 when Ctrl+C cannot be caught.\n"};

const ProgramInfo trillInfo{"pitchime-trill",
                            "Usage: pitchime-trill [SCORE]\n"
                            "       pitchime-trill --help | --version\n"
                            "\n"
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
                            "without a board: pitchime-render --check --trill SCORE.\n"
                            "Exit status: 0, or 1 when Ctrl+C cannot be caught.\n"};

bool printProgramInfo(int argc, char** argv, const ProgramInfo& info) {
    if (argc != 2) return false;
    const std::string_view arg = argv[1];
    if (arg == "--help") {
        std::fputs(info.usage, stdout);
    } else if (arg == "--version") {
        std::printf("%s %s\n", info.name, version);
    } else {
        return false;
    }
    std::fflush(stdout);
    return true;
}

void noteScoreNotOpened(const char* name, int error) {
    if (name == nullptr) {
        console::note("No score opened: no file name was typed");
    } else {
        console::note("Cannot open score %s: %s", name, std::strerror(error));
    }
}

void noteScoreWarnings(const Score& s, const PlayRules& rules) {
    for (const std::string& warning : scoreWarnings(s, rules)) console::note("%s", warning.c_str());
}

}  // namespace pitchime
