// The virtual board's options from the PITCHIME_VBOARD_* variables.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "vboard/state.h"
#include "vboard/vboard.h"

namespace pitchime::vboard {

namespace {
// A non-negative integer from the environment within [0, limit], or
// `fallback` when the variable is unset or not such a number.
std::int64_t environmentNumber(const char* name, std::int64_t fallback, std::int64_t limit) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return fallback;
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < 0 || value > limit) return fallback;
    return value;
}
}  // namespace

Options optionsFromEnvironment() {
    Options options;
    if (const char* path = std::getenv("PITCHIME_VBOARD_TRACE")) options.tracePath = path;
    if (const char* path = std::getenv("PITCHIME_VBOARD_WAV")) options.wavPath = path;
    const char* audio = std::getenv("PITCHIME_VBOARD_AUDIO");
    options.liveAudio = audio == nullptr || std::strcmp(audio, "off") != 0;
    options.lowLatency = audio != nullptr && std::strcmp(audio, "lowlatency") == 0;
    options.devices =
        static_cast<int>(environmentNumber("PITCHIME_VBOARD_DEVICES", options.devices, maxDevices));
    options.failAfter = environmentNumber("PITCHIME_VBOARD_FAIL_AFTER", options.failAfter, INT64_MAX);
    options.openDelayMs =
        static_cast<int>(environmentNumber("PITCHIME_VBOARD_OPEN_DELAY_MS", options.openDelayMs, INT_MAX));
    return options;
}

}  // namespace pitchime::vboard
