// The virtual board's sound: a recording (recording.h) and the live sound
// (live_audio.h), both started with the session at FT_Open, fed every
// decoded register write, and ended at FT_Close, also when the close comes
// from the interrupt release.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "vboard/live_audio.h"
#include "vboard/state.h"

namespace pitchime::vboard {

namespace {
// How far each output swings the mix, in full scale. Through the coupling
// capacitor a mix that settled with every counter parked by a rest is
// three swings off centre, and three outputs starting in unison then add
// their swings to that offset; near the top of the band each square wave's
// edges ring up to its fundamental's peak, 4 / pi of its swing. The worst
// case found, three voices in unison on a note just below the sample rate's
// band edge after a long rest, peaks at 7.8 swings: 0.12 leaves it at 0.94
// of full scale, so no sum of the three outputs clips.
constexpr double outputSwing = 0.12;

// A WAV file that stops taking writes (a full disk, a pipe whose reader has
// gone) ends the recording there, with one line; the board plays on.
void abandonRecording(Board& b) {
    const int error = errno;
    State& s = b.state;
    s.recording = false;
    s.recordingFailed = true;
    s.counts.recordedSamples = b.recording.wav.dataBytes / sizeof(std::int16_t);
    std::fclose(b.recording.file);
    b.recording.file = nullptr;
    std::fprintf(stderr,
                 "virtual tone board: writing WAV file %s failed: %s; the recording stops here, the tune "
                 "plays on\n",
                 s.options.wavPath.c_str(), std::strerror(error));
}
}  // namespace

void startSound(Board& b, std::int64_t tUs) {
    State& s = b.state;
    if (s.options.liveAudio) liveStart(outputSwing, s.options.lowLatency);
    if (s.options.wavPath.empty()) return;
    audio::SpeakerOptions speaker;
    speaker.sampleRate = s.options.wavRate;
    speaker.outputLevel = outputSwing;
    if (audio::recordingStart(b.recording, s.options.wavPath.c_str(), tUs, speaker)) {
        s.recording = true;
        s.counts.recordedSamples = 0;
        return;
    }
    s.recordingFailed = true;
    std::fprintf(stderr, "virtual tone board: cannot create WAV file %s: %s\n", s.options.wavPath.c_str(),
                 std::strerror(errno));
}

void soundRegisterWrite(Board& b, std::int64_t tUs, int address, std::uint8_t value) {
    liveWrite(b.state.epochUs + tUs, address, value);
    if (!b.state.recording) return;
    audio::recordingWrite(b.recording, tUs, address, value);
    if (b.recording.wav.failed) abandonRecording(b);
}

void finishSound(Board& b, std::int64_t tUs) {
    State& s = b.state;
    liveStop(s.epochUs + tUs);
    if (!s.recording) return;
    s.recording = false;
    const bool ok = audio::recordingFinish(b.recording, tUs);
    s.counts.recordedSamples = b.recording.wav.dataBytes / sizeof(std::int16_t);
    if (ok) return;
    s.recordingFailed = true;
    std::fprintf(stderr, "virtual tone board: writing WAV file %s failed\n", s.options.wavPath.c_str());
}

}  // namespace pitchime::vboard
