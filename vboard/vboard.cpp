// The virtual tone board: its one Board, power-up, and what tests and the
// renderer may ask of it. Every D2XX call (d2xx_calls.cpp) takes the board's
// lock, so a release thread's FT_Write or FT_Close and the main thread's
// writes come through whole and in some order, as they would through the
// vendor's driver; the sound recording is only touched under it too.
// FT_Write allocates nothing: trace lines are formatted into fixed buffers,
// the record of register writes is reserved when the board is reset, and the
// recording lives in the board from the start.
#include "vboard/vboard.h"

#include <mutex>

#include "platform/platform.h"
#include "vboard/state.h"

namespace pitchime::vboard {

namespace {
#if UINTPTR_MAX > 0xFFFFFFFFu
constexpr std::uintptr_t handleValue = 0x1b0a4d0e0;
#else
constexpr std::uintptr_t handleValue = 0xb0a4d0e0;
#endif
}  // namespace

Board& board() {
    static Board* const instance = new Board;
    return *instance;
}

FT_HANDLE theHandle() { return reinterpret_cast<FT_HANDLE>(handleValue); }

void powerUp(Board& b, const Options& options) {
    // A recording still open ends now, as if the board were unplugged.
    finishSound(b, platform::nowUs() - b.state.epochUs);
    closeTrace(b);
    b.state = State{};
    b.state.configured = true;
    b.state.options = options;
    b.state.record.reserve(options.recordCapacity);
    b.state.writeRecord.reserve(options.writeCallCapacity);
}

void ensureStarted(Board& b) {
    if (!b.state.configured) powerUp(b, optionsFromEnvironment());
    State& s = b.state;
    if (s.started) return;
    s.started = true;
    s.epochUs = platform::nowUs();
    openTrace(b);
}

void reset(const Options& options) {
    Board& b = board();
    std::lock_guard lock(b.mutex);
    powerUp(b, options);
}

Status status() {
    Board& b = board();
    std::lock_guard lock(b.mutex);
    Status st;
    st.counts = b.state.counts;
    if (b.state.recording) st.counts.recordedSamples = b.recording.wav.dataBytes / sizeof(std::int16_t);
    st.open = b.state.open;
    st.bitBang = b.state.bitBang;
    st.lines = b.state.lines;
    st.recording = b.state.recording;
    st.recordingFailed = b.state.recordingFailed;
    return st;
}

std::vector<RegisterWrite> registerWrites() {
    Board& b = board();
    std::lock_guard lock(b.mutex);
    return b.state.record;
}

std::vector<WriteCall> writeCalls() {
    Board& b = board();
    std::lock_guard lock(b.mutex);
    return b.state.writeRecord;
}

std::string lastViolation() {
    Board& b = board();
    std::lock_guard lock(b.mutex);
    return b.state.lastViolation;
}

}  // namespace pitchime::vboard
