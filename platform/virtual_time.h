// Controls of the virtual clock (virtual_time.cpp) beyond the platform
// interface, for tests and the fuzz target.
#pragma once

#include <cstdint>

namespace pitchime::platform {

// Sets the virtual clock to `us` microseconds; clockMs() then reads
// us / 1000 in 32 bits, wrapping as a real clock does after 24.8 days.
void setVirtualUs(std::int64_t us);

}  // namespace pitchime::platform
