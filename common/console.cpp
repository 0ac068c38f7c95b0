#include "common/console.h"

#include <cinttypes>
#include <cstdarg>

namespace pitchime::console {

namespace {
std::FILE* out = stdout;

// fwrite must not be given the null data of an empty view.
void put(std::string_view s) {
    if (!s.empty()) std::fwrite(s.data(), 1, s.size(), out);
}
}  // namespace

void setStream(std::FILE* stream) { out = stream; }

std::FILE* stream() { return out; }

void bufferFully(std::FILE* stream) { std::setvbuf(stream, nullptr, _IOFBF, BUFSIZ); }

void text(std::string_view s) {
    if (!out) return;
    put(s);
    std::fflush(out);
}

void line(std::string_view s) {
    if (!out) return;
    put(s);
    std::fputc('\n', out);
    std::fflush(out);
}

void lineInt(std::string_view label, std::int64_t value) {
    if (!out) return;
    put(label);
    std::fprintf(out, "%" PRId64 "\n", value);
    std::fflush(out);
}

void lineUnsigned(std::string_view label, std::uint64_t value) {
    if (!out) return;
    put(label);
    std::fprintf(out, "%" PRIu64 "\n", value);
    std::fflush(out);
}

void format(const char* fmt, ...) {
    if (!out) return;
    va_list args;
    va_start(args, fmt);
    std::vfprintf(out, fmt, args);
    va_end(args);
}

}  // namespace pitchime::console
