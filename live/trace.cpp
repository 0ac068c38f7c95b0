#include "live/trace.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "board/write_frame.h"

namespace pitchime::live {

namespace {
// Appends to out[at...]; returns the new length, never past size - 1.
std::size_t append(char* out, std::size_t size, std::size_t at, const char* format, unsigned a,
                   unsigned b = 0) {
    if (at + 1 >= size) return at;
    const int n = std::snprintf(out + at, size - at, format, a, b);
    return n < 0 ? at : std::min(at + static_cast<std::size_t>(n), size - 1);
}
}  // namespace

std::size_t formatWrites(char* out, std::size_t size, const Writes& w) {
    std::size_t at = 0;
    if (size > 0) out[0] = '\0';
    if (w.count == 0) return append(out, size, at, "-", 0);
    for (int i = 0; i < w.count; ++i) {
        const Write& x = w.items[i];
        const char* space = i == 0 ? "" : " ";
        at = append(out, size, at, space, 0);
        if (x.address == controlWordAddress) {
            const unsigned counter = x.value >> 6;
            const bool run = x.value == runControlWords[counter % 3];
            const bool stop = x.value == stopControlWords[counter % 3];
            at = run || stop ? append(out, size, at, run ? "run%u" : "stop%u", counter)
                             : append(out, size, at, "control=0x%02x", x.value);
        } else if (i + 1 < w.count && w.items[i + 1].address == x.address) {
            at = append(out, size, at, "c%u=%u", x.address, x.value | w.items[i + 1].value << 8);
            ++i;
        } else {
            at = append(out, size, at, "c%u-byte=0x%02x", x.address, x.value);
        }
    }
    return at;
}

std::size_t formatPlayed(char* out, std::size_t size, const Played& p, std::int64_t originUs) {
    const std::int64_t ms = std::max<std::int64_t>(p.message.us - originUs, 0) / 1000;
    std::size_t at = 0;
    if (size > 0) out[0] = '\0';
    if (size > 0) {
        const int n = std::snprintf(out, size, "%4" PRId64 ".%03d ", ms / 1000, static_cast<int>(ms % 1000));
        at = n < 0 ? 0 : std::min(static_cast<std::size_t>(n), size - 1);
    }
    for (int i = 0; i < p.message.size; ++i) at = append(out, size, at, " %02x", p.message.bytes[i]);
    if (p.message.size == 0) at = append(out, size, at, " --", 0);
    at = append(out, size, at, "  ", 0);
    return at + formatWrites(out + at, size - at, p.writes);
}

}  // namespace pitchime::live
