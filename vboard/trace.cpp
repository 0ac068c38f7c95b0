// The virtual board's trace: one JSON object per line for every D2XX call,
// every decoded register write and every violation, appended to the file of
// PITCHIME_VBOARD_TRACE through a fixed buffer, so that tracing never
// allocates. Each call's lines reach the file when the call returns.
#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "vboard/state.h"

namespace pitchime::vboard {

void openTrace(Board& b) {
    State& s = b.state;
    if (s.options.tracePath.empty()) return;
    s.trace = std::fopen(s.options.tracePath.c_str(), "a");
    if (s.trace != nullptr) {
        std::setvbuf(s.trace, b.traceBuffer, _IOFBF, sizeof b.traceBuffer);
    } else {
        std::fprintf(stderr, "virtual tone board: cannot open trace file %s\n", s.options.tracePath.c_str());
    }
}

void closeTrace(Board& b) {
    if (b.state.trace != nullptr) std::fclose(b.state.trace);
    b.state.trace = nullptr;
}

void traceBytes(State& s, const char* text, std::size_t size) {
    if (s.trace != nullptr) std::fwrite(text, 1, size, s.trace);
}

void traceFlush(State& s) {
    if (s.trace != nullptr) std::fflush(s.trace);
}

void tracePart(State& s, const char* format, ...) {
    if (s.trace == nullptr) return;
    char text[256];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n > 0) traceBytes(s, text, std::min(static_cast<std::size_t>(n), sizeof text - 1));
}

void traceWrite(State& s, std::int64_t tUs, const std::uint8_t* bytes, std::uint32_t size, FT_STATUS status,
                std::uint32_t written) {
    if (s.trace == nullptr) return;
    tracePart(s, "{\"t_us\":%lld,\"call\":\"FT_Write\",\"bytes\":\"", asLL(tUs));
    static constexpr char hexDigits[] = "0123456789abcdef";
    constexpr std::uint32_t chunk = 128;
    char hex[2 * chunk];
    for (std::uint32_t at = 0; at < size; at += chunk) {
        const std::uint32_t n = std::min(chunk, size - at);
        for (std::uint32_t i = 0; i < n; ++i) {
            hex[2 * i] = hexDigits[bytes[at + i] >> 4];
            hex[2 * i + 1] = hexDigits[bytes[at + i] & 0x0F];
        }
        traceBytes(s, hex, 2 * std::size_t{n});
    }
    tracePart(s, "\",\"status\":%u,\"written\":%u}\n", asU(status), asU(written));
}

}  // namespace pitchime::vboard
