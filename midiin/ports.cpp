#include "midiin/ports.h"

#include <charconv>

#include "midiin/midi_input.h"

namespace pitchime::midiin {

namespace {
constexpr std::int64_t resyncUs = 1000000;
constexpr const char* apiNames[] = {"automatic", "alsa", "jack", "coremidi", "winmm"};
}  // namespace

bool parseApi(std::string_view text, Api& api) {
    for (int i = 1; i < 5; ++i) {
        if (text == apiNames[i]) {
            api = static_cast<Api>(i);
            return true;
        }
    }
    return false;
}

const char* apiName(Api api) { return apiNames[static_cast<int>(api)]; }

int choosePort(const std::vector<std::string>& names, const std::string& wanted, std::string& error) {
    unsigned long number = 0;
    const char* end = wanted.data() + wanted.size();
    if (!wanted.empty() && std::from_chars(wanted.data(), end, number).ptr == end) {
        if (number < names.size()) return static_cast<int>(number);
        error = "there is no MIDI source " + wanted + " (" + std::to_string(names.size()) + " found)";
        return -1;
    }
    int found = -1;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == wanted) return static_cast<int>(i);
        if (!wanted.empty() && names[i].find(wanted) != std::string::npos) {
            if (found >= 0) {
                error =
                    "several MIDI sources are named like " + wanted + ": " + names[found] + ", " + names[i];
                return -1;
            }
            found = static_cast<int>(i);
        }
    }
    if (found < 0) error = "no MIDI source is named like " + wanted;
    return found;
}

int messageSize(std::uint8_t status) {
    if (status < 0x80) return 0;
    if (status < 0xC0 || (status >= 0xE0 && status < 0xF0)) return 3;
    if (status < 0xE0) return 2;
    switch (status) {
        case 0xF2:
            return 3;  // song position
        case 0xF3:
            return 2;  // song select
        case 0xF6:
        case 0xFA:
        case 0xFB:
        case 0xFC:
        case 0xFF:
            return 1;  // tune request, start, continue, stop, reset
        default:
            return 0;
    }
}

std::int64_t arrivalUs(ArrivalClock& clock, std::int64_t systemUs, std::int64_t nowUs) {
    const std::int64_t offset = nowUs - systemUs;
    if (!clock.started || offset < clock.offsetUs || offset - clock.offsetUs > resyncUs)
        clock.offsetUs = offset;
    clock.started = true;
    return clock.offsetUs + systemUs;
}

}  // namespace pitchime::midiin
