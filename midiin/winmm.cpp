// MIDI input through WinMM, Windows' MIDI input devices. A program cannot
// offer a port of its own there: with no source named, the first device is
// opened. The system calls onData on a thread of its own with each short
// message packed into one value, status in the low byte, and the time since
// midiInStart in milliseconds; it must call no other MIDI function there.
#include <windows.h>
// After windows.h, whose types it uses.
#include <mmsystem.h>

#include "midiin/midi_input.h"
#include "midiin/ports.h"
#include "platform/platform.h"

namespace pitchime::midiin {

struct Input {
    HMIDIIN handle = nullptr;
    std::string description;
    Receiver receiver = nullptr;
    void* context = nullptr;
    ArrivalClock clock;  // the system's thread's
};

namespace {

std::string utf8(const wchar_t* text) {
    char out[4 * MAXPNAMELEN] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof out - 1, nullptr, nullptr);
    return out;
}

std::string errorText(MMRESULT result) {
    wchar_t text[MAXERRORLENGTH] = {};
    midiInGetErrorTextW(result, text, MAXERRORLENGTH);
    return utf8(text);
}

void CALLBACK onData(HMIDIIN, UINT kind, DWORD_PTR instance, DWORD_PTR packed, DWORD_PTR ms) {
    if (kind != MIM_DATA) return;
    Input& input = *reinterpret_cast<Input*>(instance);
    const std::int64_t now = platform::nowUs();
    Message message;
    for (int i = 0; i < 3; ++i) message.bytes[i] = static_cast<std::uint8_t>(packed >> (8 * i));
    message.size = static_cast<std::uint8_t>(messageSize(message.bytes[0]));
    if (message.size == 0) return;
    message.us = arrivalUs(input.clock, static_cast<std::int64_t>(ms) * 1000, now);
    input.receiver(input.context, message);
}

bool onlyWinmm(Api api, std::string& error) {
    if (api == Api::automatic || api == Api::winmm) return true;
    error = std::string("MIDI system ") + apiName(api) + " is not in this build (it has winmm)";
    return false;
}

}  // namespace

bool listSources(Api api, std::vector<std::string>& names, std::string& error) {
    names.clear();
    if (!onlyWinmm(api, error)) return false;
    const UINT count = midiInGetNumDevs();
    for (UINT i = 0; i < count; ++i) {
        MIDIINCAPSW caps{};
        const MMRESULT result = midiInGetDevCapsW(i, &caps, sizeof caps);
        if (result != MMSYSERR_NOERROR) {
            error = "cannot read MIDI input device " + std::to_string(i) + ": " + errorText(result);
            return false;
        }
        names.push_back(utf8(caps.szPname));
    }
    return true;
}

Input* open(const OpenOptions& options, std::string& error) {
    std::vector<std::string> names;
    if (!listSources(options.api, names, error)) return nullptr;
    if (names.empty()) {
        error = "there is no MIDI input device";
        return nullptr;
    }
    const int n = options.port.empty() ? 0 : choosePort(names, options.port, error);
    if (n < 0) return nullptr;
    auto* input = new Input;
    input->receiver = options.receiver;
    input->context = options.context;
    input->description = "source " + std::to_string(n) + " (" + names[n] + ") of winmm";
    MMRESULT result = midiInOpen(&input->handle, static_cast<UINT>(n), reinterpret_cast<DWORD_PTR>(&onData),
                                 reinterpret_cast<DWORD_PTR>(input), CALLBACK_FUNCTION);
    if (result == MMSYSERR_NOERROR) {
        result = midiInStart(input->handle);
        if (result == MMSYSERR_NOERROR) return input;
        midiInClose(input->handle);
    }
    error = "cannot open MIDI input device " + names[n] + ": " + errorText(result);
    delete input;
    return nullptr;
}

std::string describe(const Input& input) { return input.description; }

// Windows tells a program of a device unplugged only by failing its calls;
// the device stays open until it is closed.
bool stillThere(Input&, std::string&) { return true; }

void close(Input* input) {
    if (input == nullptr) return;
    midiInStop(input->handle);
    midiInReset(input->handle);
    midiInClose(input->handle);
    delete input;
}

}  // namespace pitchime::midiin
