// pitchime-trill: counter 0 alone, alternating the first two voice columns
// every sixty-fourth note.
#include "session/info.h"
#include "session/session.h"

int main(int argc, char** argv) {
    if (pitchime::printProgramInfo(argc, argv, pitchime::trillInfo)) return 0;
    pitchime::runProgram(argc, argv, pitchime::trillPlayer);
}
