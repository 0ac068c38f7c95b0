// What the backends of midi_input.h share: finding the source a user named,
// the length of a message, and the arrival clock. Pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pitchime::midiin {

// Which of `names` `wanted` is: a number below names.size(), a whole name,
// or the only name that contains it. -1, with the reason in `error`, when
// none or several are.
int choosePort(const std::vector<std::string>& names, const std::string& wanted, std::string& error);

// The length of the message that `status` begins, 1 to 3; 0 for what the
// input leaves out: data bytes without a status, system exclusive, time
// code quarter frames, clock and active sensing.
int messageSize(std::uint8_t status);

// Turns the MIDI system's timestamps (its own clock, any origin) into
// platform::nowUs() times. Each message arrives at our clock no earlier
// than the system stamped it, so the smallest difference seen between the
// two clocks is the closest to their true offset; a gap of over a second
// more than that means the system's clock started again, and is taken as
// the new offset.
struct ArrivalClock {
    bool started = false;
    std::int64_t offsetUs = 0;
};
std::int64_t arrivalUs(ArrivalClock& clock, std::int64_t systemUs, std::int64_t nowUs);

}  // namespace pitchime::midiin
