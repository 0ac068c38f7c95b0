// POSIX streams carry bytes unchanged already.
#include "platform/binary_stdout.h"

namespace pitchime::platform {

void makeStdoutBinary() {}

}  // namespace pitchime::platform
