// pitchime-trill: counter 0 alone, alternating the first two voice columns
// every sixty-fourth note.
#include "session/session.h"

int main(int argc, char** argv) {
    pitchime::finishProcess(pitchime::runSession(argc, argv, pitchime::trillPlayer));
}
