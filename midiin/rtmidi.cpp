// MIDI input through RtMidi: the ALSA sequencer and JACK on Linux, CoreMIDI
// on macOS. RtMidi reports errors as exceptions and on std::cerr, or to an
// error callback once one is set; all of them stop here, and become the one
// line open and listSources give back. The ALSA and JACK libraries' own
// messages are silenced: that line says what matters. Its input thread (JACK's process thread, on JACK)
// calls onMessage with the time since the previous message; their sum is
// the MIDI system's clock, turned into ours by the arrival clock.
#include <RtMidi.h>
#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <iostream>
#include <memory>
#include <sstream>

#include "midiin/midi_input.h"
#include "midiin/ports.h"
#include "platform/platform.h"

namespace pitchime::midiin {

struct Input {
    std::unique_ptr<RtMidiIn> midi;
    Api api = Api::automatic;
    std::string description;
    std::string error;       // the last error RtMidi reported, empty when none
    std::string warning;     // the last warning: often why an error came
    std::string passedOver;  // automatic: why the systems before this one could not be used
    Receiver receiver = nullptr;
    void* context = nullptr;
    // The source connected to, and a second client of the same MIDI system
    // that lists the sources for stillThere: the input's own client is the
    // input thread's.
    std::string source;
    std::unique_ptr<Input> lister;
    // The input thread's.
    double systemSeconds = 0;
    ArrivalClock clock;
};

namespace {

constexpr const char* clientName = "pitchime";

RtMidi::Api rtmidiApi(Api api) {
    switch (api) {
        case Api::alsa:
            return RtMidi::LINUX_ALSA;
        case Api::jack:
            return RtMidi::UNIX_JACK;
        case Api::coremidi:
            return RtMidi::MACOSX_CORE;
        case Api::winmm:
            return RtMidi::WINDOWS_MM;
        case Api::automatic:
            break;
    }
    return RtMidi::UNSPECIFIED;
}

Api ourApi(RtMidi::Api api) {
    for (Api a : {Api::alsa, Api::jack, Api::coremidi, Api::winmm}) {
        if (rtmidiApi(a) == api) return a;
    }
    return Api::automatic;
}

// RtMidi's text without its leading "MidiInJack::openPort: " and blank lines.
std::string reason(const std::string& text) {
    std::string out = text;
    out.erase(0, out.find_first_not_of(" \n"));
    out.erase(out.find_last_not_of(" \n") + 1);
    if (out.rfind("Midi", 0) == 0 && out.find(": ") != std::string::npos) out.erase(0, out.find(": ") + 2);
    return out;
}

// The one line for a failure of `input`: what failed, why, and why the
// systems tried before it were passed over.
std::string failure(const Input& input, const std::string& what) {
    std::string line = what + ": " + reason(input.warning.empty() ? input.error : input.warning);
    return input.passedOver.empty() ? line : line + " (" + input.passedOver + ")";
}

void onError(RtMidiError::Type type, const std::string& text, void* user) {
    Input& input = *static_cast<Input*>(user);
    // Warnings (no sources, no server) are not failures, but may explain one.
    if (type == RtMidiError::WARNING || type == RtMidiError::DEBUG_WARNING) {
        input.warning = text;
    } else {
        input.error = text;
    }
}

void ignoreAlsa(const char*, int, const char*, int, const char*, ...) {}
void ignoreJack(const char*) {}

// The ALSA and JACK libraries print their own lines on standard error when
// there is no sequencer or no server; RtMidi has loaded them, where this
// system has them.
void quietLibraries() {
    using AlsaHandler = void (*)(const char*, int, const char*, int, const char*, ...);
    using JackHandler = void (*)(const char*);
    if (void* set = dlsym(RTLD_DEFAULT, "snd_lib_error_set_handler"))
        reinterpret_cast<int (*)(AlsaHandler)>(set)(ignoreAlsa);
    for (const char* name : {"jack_set_error_function", "jack_set_info_function"}) {
        if (void* set = dlsym(RTLD_DEFAULT, name)) reinterpret_cast<void (*)(JackHandler)>(set)(ignoreJack);
    }
}

// Keeps what RtMidi prints on std::cerr while it has no error callback.
struct CerrKept {
    std::ostringstream text;
    std::streambuf* saved = std::cerr.rdbuf(text.rdbuf());
    ~CerrKept() { std::cerr.rdbuf(saved); }
};

void onMessage(double deltaSeconds, std::vector<unsigned char>* bytes, void* user) {
    Input& input = *static_cast<Input*>(user);
    const std::int64_t now = platform::nowUs();
    input.systemSeconds += deltaSeconds;
    if (bytes->empty() || bytes->size() > 3 || messageSize((*bytes)[0]) != static_cast<int>(bytes->size()))
        return;
    Message message;
    message.size = static_cast<std::uint8_t>(bytes->size());
    for (std::size_t i = 0; i < bytes->size(); ++i) message.bytes[i] = (*bytes)[i];
    message.us = arrivalUs(input.clock, std::llround(input.systemSeconds * 1e6), now);
    input.receiver(input.context, message);
}

// A client of `api`, or of the first API of this build that can make one;
// the input with no client and the reason in `error` when none can. The
// receiver is in place before the client starts the thread that calls it.
std::unique_ptr<Input> connect(Api api, Receiver receiver = nullptr, void* context = nullptr) {
    auto input = std::make_unique<Input>();
    input->receiver = receiver;
    input->context = context;
    quietLibraries();
    std::vector<RtMidi::Api> apis;
    RtMidi::getCompiledApi(apis);
    std::string built;
    for (RtMidi::Api a : apis) built += std::string(built.empty() ? "" : ", ") + apiName(ourApi(a));
    if (api != Api::automatic) {
        if (std::find(apis.begin(), apis.end(), rtmidiApi(api)) == apis.end()) {
            input->error =
                std::string("MIDI system ") + apiName(api) + " is not in this build (it has " + built + ")";
            return input;
        }
        apis = {rtmidiApi(api)};
    }
    for (RtMidi::Api a : apis) {
        CerrKept said;
        try {
            input->midi = std::make_unique<RtMidiIn>(a, clientName);
            input->midi->setErrorCallback(onError, input.get());
            input->api = ourApi(a);
            input->warning = said.text.str();
            return input;
        } catch (const std::exception& e) {
            input->error =
                std::string("cannot use MIDI system ") + apiName(ourApi(a)) + ": " + reason(e.what());
            input->passedOver += (input->passedOver.empty() ? "" : "; ") + input->error;
        }
    }
    input->passedOver.clear();
    return input;
}

// The sources, or false: an error, or none with a warning (no server).
bool sources(Input& input, std::vector<std::string>& names) {
    const unsigned count = input.midi->getPortCount();
    for (unsigned i = 0; i < count && input.error.empty(); ++i) names.push_back(input.midi->getPortName(i));
    return input.error.empty() && (count > 0 || input.warning.empty());
}

}  // namespace

bool listSources(Api api, std::vector<std::string>& names, std::string& error) {
    names.clear();
    try {
        std::unique_ptr<Input> input = connect(api);
        if (input->midi && sources(*input, names)) return true;
        error = input->midi
                    ? failure(*input, std::string("cannot list the sources of ") + apiName(input->api))
                    : input->error;
    } catch (const std::exception& e) {
        error = std::string("cannot list the MIDI sources: ") + e.what();
    }
    return false;
}

Input* open(const OpenOptions& options, std::string& error) {
    try {
        std::unique_ptr<Input> input = connect(options.api, options.receiver, options.context);
        if (!input->midi) {
            error = input->error;
            return nullptr;
        }
        RtMidiIn& midi = *input->midi;
        const std::string api = apiName(input->api);
        midi.ignoreTypes(true, true, true);
        midi.setCallback(onMessage, input.get());
        if (options.port.empty()) {
            midi.openVirtualPort(options.portName);
            input->description = "port " + options.portName + " of " + api;
        } else {
            std::vector<std::string> names;
            if (!sources(*input, names)) {
                error = failure(*input, "cannot list the sources of " + api);
                return nullptr;
            }
            const int n = choosePort(names, options.port, error);
            if (n < 0) return nullptr;
            midi.openPort(static_cast<unsigned>(n), options.portName);
            input->description = "source " + std::to_string(n) + " (" + names[n] + ") of " + api;
            input->source = names[n];
        }
        // A port of our own is not "open" to RtMidi, only a connection is.
        if (input->error.empty() && (options.port.empty() || midi.isPortOpen())) return input.release();
        error = failure(*input, "cannot open the MIDI input of " + api);
    } catch (const std::exception& e) {
        error = std::string("cannot open the MIDI input: ") + e.what();
    }
    return nullptr;
}

std::string describe(const Input& input) { return input.description; }

bool stillThere(Input& input, std::string& why) {
    if (input.source.empty()) return true;
    try {
        if (!input.lister) input.lister = connect(input.api);
        std::vector<std::string> names;
        input.lister->warning.clear();
        if (!input.lister->midi || !sources(*input.lister, names)) return true;  // cannot tell: still there
        if (std::find(names.begin(), names.end(), input.source) != names.end()) return true;
    } catch (const std::exception&) {
        return true;
    }
    why = "MIDI source " + input.source + " has gone";
    return false;
}

void close(Input* input) {
    if (input == nullptr) return;
    try {
        // Closing the port and the client waits for the input thread.
        input->midi.reset();
    } catch (const std::exception&) {
        // The client is gone either way; nothing more can be done.
    }
    delete input;
}

}  // namespace pitchime::midiin
