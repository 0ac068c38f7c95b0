// The tests' MIDI keyboard: a JACK client that connects its MIDI output to
// the input PORT (its whole JACK name; "-": it waits to be connected to)
// and sends every MESSAGE (hex bytes joined by commas: 90,3c,64) in the
// first process cycle that finds the connection made, so that none is sent
// before the connection carries data; then it keeps the connection until
// its standard input ends.
//   jack_send PORT MESSAGE...
#include <jack/jack.h>
#include <jack/midiport.h>

#include <atomic>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {
struct Sender {
    jack_port_t* port = nullptr;
    std::vector<std::vector<unsigned char>> messages;
    std::atomic<bool> sent{false};
};

int process(jack_nframes_t frames, void* context) {
    Sender& s = *static_cast<Sender*>(context);
    void* buffer = jack_port_get_buffer(s.port, frames);
    jack_midi_clear_buffer(buffer);
    if (s.sent.load() || jack_port_connected(s.port) == 0) return 0;
    for (const auto& m : s.messages) jack_midi_event_write(buffer, 0, m.data(), m.size());
    s.sent.store(true);
    return 0;
}
}  // namespace

int main(int argc, char** argv) {
    Sender s;
    for (int i = 2; i < argc; ++i) {
        std::istringstream bytes(argv[i]);
        s.messages.emplace_back();
        for (std::string byte; std::getline(bytes, byte, ',');)
            s.messages.back().push_back(static_cast<unsigned char>(std::stoi(byte, nullptr, 16)));
    }
    jack_client_t* client = jack_client_open("pitchime-test-sender", JackNoStartServer, nullptr);
    if (client == nullptr || argc < 2) return 2;
    s.port = jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    jack_set_process_callback(client, process, &s);
    if (s.port == nullptr || jack_activate(client) != 0 ||
        (std::string(argv[1]) != "-" && jack_connect(client, jack_port_name(s.port), argv[1]) != 0)) {
        std::fprintf(stderr, "jack_send: cannot connect to %s\n", argv[1]);
        return 1;
    }
    while (std::getchar() != EOF) {
    }
    jack_client_close(client);
    return s.sent.load() ? 0 : 1;
}
