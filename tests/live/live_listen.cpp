// Plays what a MIDI input sends on the virtual board, as the live program
// will, printing one trace line for each message, until its standard input
// ends. "ready: WHAT" on standard output says that the input is open.
//   live_listen [API [PORT]]
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "board/board_port.h"
#include "console/console.h"
#include "live/runner.h"
#include "live/trace.h"
#include "midiin/midi_input.h"

using namespace pitchime;

int main(int argc, char** argv) {
    midiin::OpenOptions options;
    if (argc > 1 && !midiin::parseApi(argv[1], options.api)) {
        std::fprintf(stderr, "unknown MIDI system %s\n", argv[1]);
        return 2;
    }
    if (argc > 2) options.port = argv[2];
    console::setStream(nullptr);
    BoardPort port;
    if (board::open(port) != 0) return 1;
    board::configure(port);
    auto runner = std::make_unique<live::Runner>();
    live::start(*runner, port, {});
    options.receiver = live::receive;
    options.context = runner.get();
    std::string error;
    midiin::Input* input = midiin::open(options, error);
    if (input != nullptr) {
        std::printf("ready: %s\n", midiin::describe(*input).c_str());
        std::fflush(stdout);
    }
    std::thread printer([&runner] {
        live::Played played;
        char line[200];
        while (live::nextPlayed(*runner, played)) {
            live::formatPlayed(line, sizeof line, played, 0);
            std::printf("%s\n", line);
            std::fflush(stdout);
        }
    });
    while (input != nullptr && std::getchar() != EOF) {
    }
    midiin::close(input);
    live::stop(*runner);
    printer.join();
    board::restAndClose(port);
    if (input == nullptr) std::fprintf(stderr, "%s\n", error.c_str());
    return input == nullptr ? 1 : 0;
}
