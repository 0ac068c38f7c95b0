// pitchime: each voice column of the score on its own 8254 counter.
#include "session/session.h"

int main(int argc, char** argv) {
    pitchime::finishProcess(pitchime::runSession(argc, argv, pitchime::threeVoicePlayer));
}
