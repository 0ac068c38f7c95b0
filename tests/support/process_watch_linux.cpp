#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/process_watch.h"

namespace pitchime::test::watch {

bool supported() { return true; }

std::size_t shrinkPipe(int fd) {
    // The kernel rounds up to one page, and a write that does not fit in
    // what is left of that page waits until a reader has emptied it.
    if (fcntl(fd, F_SETPIPE_SZ, 1) < 0) return 0;
    const int size = fcntl(fd, F_GETPIPE_SZ);
    return size > 0 ? static_cast<std::size_t>(size) : 0;
}

std::vector<pid_t> threads(pid_t pid) {
    std::vector<pid_t> ids;
    std::error_code ignored;
    const std::string dir = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& entry : std::filesystem::directory_iterator(dir, ignored))
        ids.push_back(static_cast<pid_t>(std::stol(entry.path().filename().string())));
    return ids;
}

long blockedIn(pid_t pid, pid_t tid) {
    // "running", "-1 ..." outside a system call, or its number and arguments.
    std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(tid) + "/syscall");
    std::string first;
    if (!(in >> first)) return -1;
    char* end = nullptr;
    const long number = std::strtol(first.c_str(), &end, 10);
    return end != first.c_str() && *end == '\0' ? number : -1;
}

long writeCall() { return SYS_write; }
long signalWaitCall() { return SYS_rt_sigtimedwait; }

}  // namespace pitchime::test::watch
