#include "console/console.h"

#include <atomic>
#include <cinttypes>
#include <cstdarg>
#include <mutex>

#include "platform/platform.h"

namespace pitchime::console {

namespace {
std::FILE* out = stdout;
std::FILE* notes = stderr;

// Serialises output. Recursive, so that a Hold can wrap the calls of a line
// and the seizing thread keeps printing while it owns the console for good.
std::recursive_mutex outputLock;
std::atomic<bool> seized{false};
thread_local bool seizedHere = false;
thread_local int holds = 0;  // this thread's nested holds of outputLock

void acquire() {
    outputLock.lock();
    if (holds == 0 && seized.load() && !seizedHere) {
        // The console belongs to the thread that is ending the process: this
        // thread's output would land among its messages, so it stops here.
        // Only at its outermost hold: within one it finishes the piece it
        // began, which the seizing thread waits for.
        outputLock.unlock();
        platform::waitForExit();
    }
    ++holds;
}

void release() {
    --holds;
    outputLock.unlock();
}

// fwrite must not be given the null data of an empty view.
void put(std::string_view s) {
    if (!s.empty()) std::fwrite(s.data(), 1, s.size(), out);
}
}  // namespace

Hold::Hold() { acquire(); }

Hold::~Hold() { release(); }

void seize() {
    // Announced before waiting for the lock: the thread that holds it now
    // finishes its piece and stops at its next one.
    seized.store(true);
    outputLock.lock();
    seizedHere = true;
}

void setStream(std::FILE* stream) { out = stream; }

std::FILE* stream() { return out; }

void bufferFully(std::FILE* stream) { std::setvbuf(stream, nullptr, _IOFBF, BUFSIZ); }

void text(std::string_view s) {
    if (!out) return;
    Hold whole;
    put(s);
    std::fflush(out);
}

void line(std::string_view s) {
    if (!out) return;
    Hold whole;
    put(s);
    std::fputc('\n', out);
    std::fflush(out);
}

void lineInt(std::string_view label, std::int64_t value) {
    if (!out) return;
    Hold whole;
    put(label);
    std::fprintf(out, "%" PRId64 "\n", value);
    std::fflush(out);
}

void lineUnsigned(std::string_view label, std::uint64_t value) {
    if (!out) return;
    Hold whole;
    put(label);
    std::fprintf(out, "%" PRIu64 "\n", value);
    std::fflush(out);
}

void format(const char* fmt, ...) {
    if (!out) return;
    Hold whole;
    va_list args;
    va_start(args, fmt);
    std::vfprintf(out, fmt, args);
    va_end(args);
}

void note(const char* fmt, ...) {
    if (!notes) return;
    Hold whole;
    if (out) std::fflush(out);
    va_list args;
    va_start(args, fmt);
    std::vfprintf(notes, fmt, args);
    va_end(args);
    std::fputc('\n', notes);
    std::fflush(notes);
}

void setNoteStream(std::FILE* stream) { notes = stream; }

void clear() {
    Hold whole;
    platform::clearConsole();
}

}  // namespace pitchime::console
