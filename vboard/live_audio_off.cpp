// The silent live audio: builds without SDL2, offline rendering, the
// in-process boards of tests and the Windows stand-in DLL.
#include "vboard/live_audio.h"

namespace pitchime::vboard {

void liveStart(double, bool) {}
void liveWrite(std::int64_t, int, std::uint8_t) {}
void liveStop(std::int64_t) {}
LiveStats liveStats() { return {}; }

}  // namespace pitchime::vboard
