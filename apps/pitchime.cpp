// pitchime: each voice column of the score on its own 8254 counter.
#include "session/info.h"
#include "session/session.h"

int main(int argc, char** argv) {
    if (pitchime::printProgramInfo(argc, argv, pitchime::pitchimeInfo)) return 0;
    pitchime::runProgram(argc, argv, pitchime::threeVoicePlayer);
}
