// Standard output as a byte stream, for a program that writes a binary file
// there: chosen when linking, binary_stdout_posix.cpp or
// binary_stdout_windows.cpp.
#pragma once

namespace pitchime::platform {

// From now on standard output carries bytes unchanged (on Windows, no line
// end translation and no end at a byte 0x1A). Call before writing to it.
void makeStdoutBinary();

}  // namespace pitchime::platform
