// A build without MIDI input: every request says so.
#include "midiin/midi_input.h"

namespace pitchime::midiin {

namespace {
constexpr const char* missing = "this build has no MIDI input (it was built without RtMidi)";
}

bool listSources(Api, std::vector<std::string>&, std::string& error) {
    error = missing;
    return false;
}

Input* open(const OpenOptions&, std::string& error) {
    error = missing;
    return nullptr;
}

std::string describe(const Input&) { return {}; }

bool stillThere(Input&, std::string&) { return true; }

void close(Input*) {}

}  // namespace pitchime::midiin
