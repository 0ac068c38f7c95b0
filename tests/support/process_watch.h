// What a test can learn about a running program from outside, and a pipe
// of fixed size: the means of holding a program at one line of its output.
// Available on Linux; elsewhere supported() is false and the rest does nothing.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <vector>

namespace pitchime::test::watch {

bool supported();

// Shrinks a pipe to the smallest size; returns the bytes it then holds
// before a writer blocks, or 0 on failure.
std::size_t shrinkPipe(int fd);

// The threads of process `pid`.
std::vector<pid_t> threads(pid_t pid);

// The system call that thread `tid` of `pid` is in while it sleeps, or -1
// when it runs or is in none.
long blockedIn(pid_t pid, pid_t tid);

// System call numbers of this machine.
long writeCall();
long signalWaitCall();

}  // namespace pitchime::test::watch
