// The virtual board's sound played live on the computer's default audio
// output while a program runs, from the same 8254 model and speaker as the
// WAV recording, fed the same register writes.
//
// The board calls these under its lock: liveStart when the device is
// opened, liveWrite for every register write it decodes, liveStop when the
// device is closed. Which implementation is linked decides whether anything
// sounds: live_audio_sdl.cpp plays through SDL2; live_audio_off.cpp is
// silent (builds without SDL2, offline rendering, the in-process boards of
// tests, the Windows stand-in DLL). Times are platform::nowUs() values.
#pragma once

#include <array>
#include <cstdint>

namespace pitchime::vboard {

// Starts the sound of a session whose device has just been opened, each
// 8254 output swinging `outputLevel` of full scale; in small blocks, heard
// sooner after each write, when `lowLatency`. When no audio output can be
// opened it says so once on standard error, and the board plays on
// silently.
void liveStart(double outputLevel, bool lowLatency);

// One decoded register write (address 0 to 3) made at `us`. Never waits or
// allocates; does nothing unless started.
void liveWrite(std::int64_t us, int address, std::uint8_t value);

// Ends the session closed at `us`: the sound plays up to then, fades out,
// and the audio output is closed before it returns (within a fraction of a
// second, even when the output has stalled). Does nothing unless started.
void liveStop(std::int64_t us);

// What the last session's sound did, for benchmarks and diagnostics; read
// it after liveStop. The latency of a write is the time from the write to
// the time its sample enters the audio stream.
inline constexpr int latencyBins = 600;  // of 0.1 ms; the last one holds the rest
inline constexpr std::int64_t latencyBinUs = 100;
struct LiveStats {
    bool played = false;         // an audio output was opened
    std::int64_t events = 0;     // register writes that reached the sound
    std::int64_t dropped = 0;    // register writes lost to a full queue
    std::int64_t late = 0;       // writes that came after their place in the stream had been rendered
    std::int64_t callbacks = 0;  // blocks of samples the output asked for
    std::int64_t latencyMaxUs = 0;
    std::array<std::int64_t, latencyBins> latency{};  // how many writes had each latency
};
LiveStats liveStats();

}  // namespace pitchime::vboard
