// The C runtime opens standard output in text mode, which would turn every
// byte 0x0A into 0x0D 0x0A.
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "platform/binary_stdout.h"

namespace pitchime::platform {

void makeStdoutBinary() {
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
}

}  // namespace pitchime::platform
