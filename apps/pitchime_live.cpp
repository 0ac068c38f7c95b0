// pitchime-live: plays on the tone board what a MIDI keyboard or sequencer
// sends, or a Standard MIDI File in real time, through the live player
// (live/): the engine on its playing thread, fed by the MIDI input or by
// the file's messages at their times.
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "apps/command_line.h"
#include "console/console.h"
#include "d2xx/d2xx.h"
#include "live/file_events.h"
#include "live/runner.h"
#include "live/trace.h"
#include "midi/midi_file.h"
#include "midiin/midi_input.h"
#include "platform/platform.h"
#include "session/run_sequence.h"
#include "version.h"
#include "voicing/melody.h"

namespace {

using namespace pitchime;

constexpr const char* usage =
    "Usage: pitchime-live [OPTION]... [FILE.mid]\n"
    "       pitchime-live --list [--api API]\n"
    "       pitchime-live -h | --help | -V | --version\n";

constexpr const char* help =
    "Plays on the tone board (an 8254 timer behind an FT245R) what a MIDI\n"
    "keyboard or sequencer sends, until Ctrl+C; or, given FILE.mid, the file in\n"
    "real time with its own tempo, bends and pedal, to its end. It opens the\n"
    "board as pitchime does, then offers a MIDI input port named \"pitchime\"\n"
    "(on Windows: opens the first MIDI input device) and prints one line for\n"
    "each event it plays: the time in seconds, the message, and the counts\n"
    "written (runN and stopN start and stop counter N, cN=COUNT loads it).\n"
    "Ctrl+C stops it at any moment and brings the board to rest.\n"
    "\n"
    "  --port NAME|N     connect to this MIDI source (its number in --list, its\n"
    "                    name, or a part of it) instead of offering a port;\n"
    "                    the program ends when the source goes away\n"
    "  --list            list the MIDI sources and exit\n"
    "  --api API         the MIDI system: alsa, jack, coremidi or winmm\n"
    "  --trill           two voices taking turns on counter 0 (pitchime-trill)\n"
    "  --turn MS         how long each turn of --trill lasts (1 to 1000; 30)\n"
    "  --channels LIST   play only these channels, e.g. 1-9,11 (1 to 16)\n"
    "  --drums           play channel 10 as short blips (left out by default)\n"
    "  --transpose N     move every note N semitones (-48 to 48)\n"
    "  --melody TRACK[.CHANNEL]|none\n"
    "                    with FILE: the notes of this track (from 1), or of one\n"
    "                    channel of it, keep their voice first (default: the\n"
    "                    melody pitchime-import --info finds; none: no melody)\n"
    "  --quiet           print no line per event\n"
    "  -h, --help        print this help and exit\n"
    "  -V, --version     print the version and exit\n"
    "\n"
    "Exit status: 0; 1 when the board, the MIDI input or FILE cannot be opened\n"
    "or read, or Ctrl+C cannot be caught; 2 for a wrong command line.\n";

constexpr apps::Program program{.name = "pitchime-live",
                                .usage = usage,
                                .help = help,
                                .version = pitchime::version,
                                .shortForms = true,
                                .dashFiles = true};

constexpr apps::Option options[] = {
    {"--port", true},     {"--list"},  {"--api", true},       {"--trill"},        {"--turn", true},
    {"--channels", true}, {"--drums"}, {"--transpose", true}, {"--melody", true}, {"--quiet"}};

// From the start of playing to the file's time 0.
constexpr std::int64_t fileStartUs = 100000;
// How often the program looks whether the source it connected to is there.
constexpr std::int32_t sourceCheckMs = 500;

enum class MelodyChoice { automatic, none, named };

struct Arguments {
    live::Settings settings;
    midiin::OpenOptions input;
    bool list = false;
    bool quiet = false;
    bool portGiven = false;
    MelodyChoice melodyChoice = MelodyChoice::automatic;
    voicing::Melody melody;
    const char* file = nullptr;
};

// "TRACK" or "TRACK.CHANNEL", from 1.
bool parseMelody(const std::string& text, voicing::Melody& melody) {
    const std::size_t dot = text.find('.');
    int track = 0;
    int channel = 0;
    if (!apps::parseNumber(text.substr(0, dot).c_str(), 1, 65535, track)) return false;
    if (dot != std::string::npos && !apps::parseNumber(text.substr(dot + 1).c_str(), 1, 16, channel))
        return false;
    melody = {track - 1, channel - 1, "named by --melody"};
    return true;
}

std::string take(Arguments& args, std::string_view name, const char* text) {
    bool ok = true;
    std::vector<int> numbers;
    int value = 0;
    if (name == "--port") {
        args.input.port = text;
        args.portGiven = true;
    }
    if (name == "--list") args.list = true;
    if (name == "--api") ok = midiin::parseApi(text, args.input.api);
    if (name == "--trill") args.settings.trill = true;
    if (name == "--turn" && (ok = apps::parseNumber(text, 1, 1000, value)))
        args.settings.trillTurnUs = value * 1000;
    if (name == "--channels" && (ok = apps::parseNumberList(text, 16, numbers))) {
        args.settings.channels.fill(false);
        for (const int c : numbers) args.settings.channels[static_cast<std::size_t>(c - 1)] = true;
    }
    if (name == "--drums") args.settings.drums = true;
    if (name == "--transpose") ok = apps::parseNumber(text, -48, 48, args.settings.transpose);
    if (name == "--melody") {
        args.melodyChoice = std::string_view(text) == "none" ? MelodyChoice::none : MelodyChoice::named;
        ok = args.melodyChoice == MelodyChoice::none || parseMelody(text, args.melody);
    }
    if (name == "--quiet") args.quiet = true;
    return ok ? "" : "bad value '" + std::string(text) + "' for " + std::string(name);
}

// Returns -1 to go on, else the exit status.
int parseArguments(int argc, char** argv, Arguments& args) {
    std::vector<const char*> operands;
    const auto handle = [&args](std::string_view name, const char* text) { return take(args, name, text); };
    if (const int status = apps::readArguments(program, options, argc, argv, operands, handle); status >= 0)
        return status;
    if (operands.size() > 1) return apps::commandLineError(program, "plays one MIDI file");
    if (!operands.empty()) args.file = operands[0];
    if (args.file != nullptr && (args.list || args.portGiven))
        return apps::commandLineError(program, "a MIDI file plays without a MIDI input: no --port or --list");
    if (args.file == nullptr && args.melodyChoice != MelodyChoice::automatic)
        return apps::commandLineError(program, "--melody names a track of a MIDI file");
    return -1;
}

int listSources(const Arguments& args) {
    std::vector<std::string> names;
    std::string error;
    if (!midiin::listSources(args.input.api, names, error)) return apps::failure(program, error);
    for (std::size_t i = 0; i < names.size(); ++i) std::printf("%zu: %s\n", i, names[i].c_str());
    if (names.empty()) std::printf("no MIDI sources\n");
    return std::fflush(stdout) == 0 ? 0 : 1;
}

// The file's messages; false, with the reason told, when it cannot be read.
bool readEvents(const Arguments& args, std::vector<live::FileEvent>& events) {
    midi::File file;
    std::string error;
    if (!apps::readMidiFile(args.file, file, error)) return apps::failure(program, error), false;
    if (file.cutTrack >= 0)
        std::fprintf(stderr, "%s: %s; playing what comes before it\n", program.name,
                     apps::cutShort(args.file, file).c_str());
    // Without --melody, the part the importer would take for the tune, of
    // the channels played.
    voicing::Melody melody;
    if (args.melodyChoice == MelodyChoice::named) melody = args.melody;
    if (args.melodyChoice == MelodyChoice::automatic)
        melody = voicing::findMelody(file, [&](int, int channel) { return args.settings.channels[channel]; });
    events = live::fileEvents(file, melody);
    return true;
}

// Prints what the playing thread played, one line each, until it stops.
void printPlayed(live::Runner& runner, std::int64_t originUs) {
    live::Played played;
    char line[160];
    while (live::nextPlayed(runner, played)) {
        const std::size_t n = live::formatPlayed(line, sizeof line, played, originUs);
        console::line(std::string_view(line, n));
    }
}

}  // namespace

int main(int argc, char** argv) {
    Arguments args;
    if (const int status = parseArguments(argc, argv, args); status >= 0) return status;
    if (args.list) return listSources(args);
    std::vector<live::FileEvent> events;
    if (args.file != nullptr && !readEvents(args, events)) return 1;

    // Alive until the process ends, as the interrupt release needs it:
    // finishProcess never returns.
    Run run;
    console::bufferFully(stdout);
    if (!installRelease(run)) return apps::failure(program, "cannot catch Ctrl+C");
    auto runner = std::make_unique<live::Runner>();
    midiin::Input* input = nullptr;
    if (args.file == nullptr) {
        args.input.receiver = live::receive;
        args.input.context = runner.get();
        std::string error;
        if ((input = midiin::open(args.input, error)) == nullptr) {
            apps::failure(program, error);
            finishProcess(run, 1);
        }
    }
    console::line("Opening FT245R...");
    if (const std::uint32_t status = openRun(run, RunPlan{}); status != 0) {
        console::lineUnsigned("Failed... Code: ", status);
        console::note("Cannot open the board (code %u): %s", static_cast<unsigned>(status),
                      d2xx::openFailureReason(status));
        midiin::close(input);
        finishProcess(run, 1);
    }
    live::start(*runner, run.boardPort, args.settings);
    std::thread printer;
    const auto startPrinter = [&](std::int64_t originUs) {
        if (!args.quiet) printer = std::thread(printPlayed, std::ref(*runner), originUs);
    };
    if (input != nullptr) {
        startPrinter(platform::nowUs());
        console::line("Playing what comes to " + midiin::describe(*input) + "; Ctrl+C stops.");
        // Until Ctrl+C, whose release rests the board and ends the process,
        // or until the source connected to has gone.
        std::string why;
        while (midiin::stillThere(*input, why)) platform::sleepMs(sourceCheckMs);
        console::note("%s", why.c_str());
        midiin::close(input);
    } else {
        console::line(std::string("Playing ") + args.file);
        // The file's time 0 a little ahead, so that the first messages are
        // handed over before they are due, each instant's together.
        const std::int64_t originUs = platform::nowUs() + fileStartUs;
        startPrinter(originUs);
        live::feedFile(*runner, events, originUs);
    }
    live::stop(*runner);
    if (printer.joinable()) printer.join();
    board::reportWriteFailure(run.boardPort, 0);
    endRun(run);
    console::line("Closed");
    finishProcess(run, 0);
}
