// MIDI input from the system's MIDI sources: list them, open one (or a port
// of our own that keyboards and sequencers connect to), and receive every
// complete message on the MIDI system's own thread. What answers is chosen
// when linking (pitchime_choose_midi_input): RtMidi (rtmidi.cpp: the ALSA
// sequencer and JACK on Linux, CoreMIDI on macOS), WinMM (winmm.cpp: the
// MIDI input devices of Windows) or none (none.cpp: a build without MIDI
// input, which says so). An open input is a handle, as a device library's.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pitchime::midiin {

// The MIDI system: automatic picks the system's own (ALSA, CoreMIDI, WinMM)
// where it works, else another that this build has.
enum class Api : std::uint8_t { automatic, alsa, jack, coremidi, winmm };

// "alsa", "jack", "coremidi" or "winmm"; false for any other text.
bool parseApi(std::string_view text, Api& api);
const char* apiName(Api api);

// One complete message of 1 to 3 bytes (system exclusive, clock and active
// sensing never come), with the time the MIDI system stamped its arrival
// on the platform::nowUs() clock.
struct Message {
    std::int64_t us = 0;
    std::array<std::uint8_t, 3> bytes{};
    std::uint8_t size = 0;
};

// Called on the MIDI system's thread for each message, in the order they
// arrive. It must not block: on JACK it runs in the server's process cycle.
using Receiver = void (*)(void* context, const Message& message);

struct Input;

// The names of the sources `api` offers, numbered from 0; false, with one
// line saying why in `error`, when it cannot tell.
bool listSources(Api api, std::vector<std::string>& names, std::string& error);

struct OpenOptions {
    Api api = Api::automatic;
    // Empty: a port of our own named `portName` where the MIDI system offers
    // one (not WinMM: there, the first source). Else a source by its number
    // in listSources, its whole name, or the one name that contains it.
    std::string port;
    std::string portName = "pitchime";
    Receiver receiver = nullptr;
    void* context = nullptr;
};

// An open input that delivers to options.receiver from now on, or nullptr
// with one line saying why in `error`.
Input* open(const OpenOptions& options, std::string& error);

// What was opened, for the user: "port pitchime of jack", "source 1 (USB
// Keyboard) of alsa".
std::string describe(const Input& input);

// Whether the source that `input` was connected to (OpenOptions::port) is
// still there; false, with one line saying why in `why`, once it has gone
// (a keyboard unplugged, a sequencer ended). An input on a port of our own
// is always there. Called from one thread only, never the receiver's.
bool stillThere(Input& input, std::string& why);

// Closes `input` and frees it: once this returns, the receiver is not
// running and will not be called again. Null does nothing.
void close(Input* input);

}  // namespace pitchime::midiin
