// The virtual board's sound: a recording (recording.h) opened with the
// session at FT_Open, fed every decoded register write, and completed at
// FT_Close, also when the close comes from the interrupt release.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "vboard/state.h"

namespace pitchime::vboard {

namespace {
// How far each output swings the mix, in full scale. Through the coupling
// capacitor one output can reach twice its swing away from where the mix
// settled (a counter that sat high through a rest and then starts swinging
// low), so three of them need 6 x 0.15 = 0.9 of full scale, and the ringing
// of band-limited edges fits in the rest: a three-voice board never clips.
constexpr double outputSwing = 0.15;
}  // namespace

void startRecording(Board& b, std::int64_t tUs) {
    State& s = b.state;
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

void finishRecording(Board& b, std::int64_t tUs) {
    State& s = b.state;
    if (!s.recording) return;
    s.recording = false;
    const bool ok = audio::recordingFinish(b.recording, tUs);
    s.counts.recordedSamples = b.recording.wav.dataBytes / sizeof(std::int16_t);
    if (ok) return;
    s.recordingFailed = true;
    std::fprintf(stderr, "virtual tone board: writing WAV file %s failed\n", s.options.wavPath.c_str());
}

}  // namespace pitchime::vboard
