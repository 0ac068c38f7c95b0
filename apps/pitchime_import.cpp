// pitchime-import: reads a MIDI file and writes a score that pitchime (or,
// with --trill, pitchime-trill) plays, telling the user what it could not
// play as written.
#include <bitset>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "apps/command_line.h"
#include "importer/importer.h"
#include "midi/midi_file.h"
#include "version.h"

namespace {

namespace importer = pitchime::importer;
namespace apps = pitchime::apps;

constexpr const char* usage =
    "Usage: pitchime-import [options] IN.mid OUT.txt\n       pitchime-import --info IN.mid\n";

constexpr const char* help =
    "Writes a score of the MIDI file IN.mid to OUT.txt for pitchime (three\n"
    "voices, one counter each) or, with --trill, for pitchime-trill (two\n"
    "voices alternating on one counter). A summary goes to standard error,\n"
    "with a line for every note moved by octaves, cut short, merged or\n"
    "dropped: its time in the file (m:ss.mmm), track, channel, note and why.\n"
    "\n"
    "  --trill           a score for pitchime-trill: columns 1 and 2 alternate\n"
    "  --gap MS          silence before a note repeated at the same pitch,\n"
    "                    1 to 1000 ms, rounded to the grid, at least one step\n"
    "                    (default 25)\n"
    "  --transpose N     shift every note by N semitones (-127 to 127)\n"
    "  --transpose auto  shift by the whole octaves that fit the most notes\n"
    "  --tracks LIST     import only these tracks, e.g. 1,3-4 (from 1)\n"
    "  --channels LIST   import only these channels, e.g. 1-9,11 (1 to 16)\n"
    "  --melody PART     rank the notes of this part first: TRACK or\n"
    "                    TRACK.CHANNEL (from 1); none for no melody. Without\n"
    "                    it the part named for the tune (melody, lead, vocal,\n"
    "                    ...) or else the line on top is taken\n"
    "  --drums           play channel 10 (percussion) as short blips in voices\n"
    "                    that are free; without it channel 10 is left out\n"
    "  --bpm N           use the grid of this BPM (1 to 3750) instead of the\n"
    "                    one chosen\n"
    "  --report FILE     write the per-note lines to FILE, not standard error\n"
    "  --info            print per track and channel the notes, their range,\n"
    "                    the most at once and what importing would lose; writes\n"
    "                    nothing\n"
    "  --help            print this help and exit\n"
    "  --version         print the version and exit\n"
    "\n"
    "Time: every note is placed on a grid of whole-millisecond sixty-fourth\n"
    "notes, at absolute times through the file's tempo map, so errors do not\n"
    "add up. The BPM is chosen among 125 to 3750 (a sixty-fourth of 30 ms down\n"
    "to 1 ms): the grids that keep every onset within 5 ms of the file, and\n"
    "among them the one with the fewest rows, each 2 ms of timing error on a\n"
    "note counting as one more row.\n"
    "\n"
    "Voices: when more notes sound than there are voices, the melody keeps\n"
    "its voice, then the highest and the lowest other note (the top line and\n"
    "the bass; with two voices the bass first), then new notes, then\n"
    "notes whose key is held, then notes held by the sustain pedal; the\n"
    "louder note wins a tie. A note keeps its column, and a new note takes\n"
    "the free column whose last note is nearest in pitch. A note that finds\n"
    "no voice starts late where one frees while its key is down; a note is\n"
    "never started only to be cut within 40 ms.\n"
    "\n"
    "Range: notes below 14 or above 127 are moved by octaves into range.\n"
    "\n"
    "pitchime-trill cannot stop its counter: there a voice that rests gives\n"
    "its turn to the other, and a rest of both voices, like the silence before\n"
    "a repeated note, is note 0, a count too slow to be heard as a tone.\n"
    "\n"
    "Exit status: 0 when the score was written (or --info printed), 1 when the\n"
    "MIDI file was refused or a file failed, 2 for a wrong command line.\n";

constexpr apps::Program program{"pitchime-import", usage, help, pitchime::version};

constexpr apps::Option options[] = {
    {"--trill"},        {"--drums"},          {"--info"},      {"--gap", true},    {"--transpose", true},
    {"--tracks", true}, {"--channels", true}, {"--bpm", true}, {"--report", true}, {"--melody", true}};

struct Arguments {
    importer::Options options;
    bool info = false;
    const char* in = nullptr;
    const char* out = nullptr;
    const char* report = nullptr;
};

// "1,3-5" into marks from index 0 (first = 1), each from 1 to `high`.
template <std::size_t size>
bool parseList(std::string_view text, int high, std::bitset<size>& marks) {
    std::vector<int> numbers;
    if (!apps::parseNumberList(text, high, numbers)) return false;
    marks.reset();
    for (int n : numbers) marks[static_cast<std::size_t>(n - 1)] = true;
    return true;
}

// "none", TRACK or TRACK.CHANNEL, from 1.
bool parseMelody(std::string_view text, importer::Options& options) {
    options.melodyChannel = -1;
    if (text == "none") {
        options.melodyTrack = -2;
        return true;
    }
    const std::size_t dot = text.find('.');
    int track = 0;
    int channel = 0;
    if (!apps::parseNumber(std::string(text.substr(0, dot)).c_str(), 1, 65535, track)) return false;
    if (dot != std::string_view::npos &&
        !apps::parseNumber(std::string(text.substr(dot + 1)).c_str(), 1, 16, channel))
        return false;
    options.melodyTrack = track - 1;
    options.melodyChannel = channel - 1;
    return true;
}

// Why OUT must not be written: it is IN, however named, or a MIDI file
// (a score written over it would lose the music). "" when it may.
std::string outputRefusal(const char* in, const char* out) {
    std::error_code error;
    if (std::filesystem::equivalent(in, out, error)) return "is the MIDI file read";
    std::FILE* f = std::fopen(out, "rb");
    if (f == nullptr) return "";
    char head[4] = {};
    const bool midi = std::fread(head, 1, sizeof head, f) == sizeof head && std::memcmp(head, "MThd", 4) == 0;
    std::fclose(f);
    return midi ? "is a MIDI file" : "";
}

// Parses the command line; returns -1 to go on, else the exit status.
int parseArguments(int argc, char** argv, Arguments& args) {
    std::vector<const char*> operands;
    const auto take = [&args](std::string_view name, const char* text) -> std::string {
        bool ok = true;
        if (name == "--trill") args.options.trill = true;
        if (name == "--drums") args.options.drums = true;
        if (name == "--info") args.info = true;
        if (name == "--gap") ok = apps::parseNumber(text, 1, 1000, args.options.gapMs);
        if (name == "--bpm") ok = apps::parseNumber(text, 1, 3750, args.options.bpm);
        if (name == "--transpose") {
            args.options.autoTranspose = std::string_view(text) == "auto";
            ok = args.options.autoTranspose || apps::parseNumber(text, -127, 127, args.options.transpose);
        }
        if (name == "--tracks") ok = parseList(text, 65535, args.options.tracks);
        if (name == "--channels") ok = parseList(text, 16, args.options.channels);
        if (name == "--report") args.report = text;
        if (name == "--melody") ok = parseMelody(text, args.options);
        return ok ? "" : "bad value '" + std::string(text) + "' for " + std::string(name);
    };
    if (const int status = apps::readArguments(program, options, argc, argv, operands, take); status >= 0)
        return status;
    if (!operands.empty()) args.in = operands[0];
    if (operands.size() > 1) args.out = operands[1];
    const std::size_t wanted = args.info ? 1 : 2;
    if (operands.size() != wanted) {
        return apps::commandLineError(
            program, args.info ? "--info takes one MIDI file"
                               : (operands.size() < 2 ? "needs a MIDI file and an output file"
                                                      : "takes one MIDI file and one output file"));
    }
    if (!args.info) {
        if (std::string why = outputRefusal(args.in, args.out); !why.empty()) {
            std::fprintf(stderr, "%s: will not write %s: it %s\n", program.name, args.out, why.c_str());
            return 2;
        }
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments args;
    if (const int status = parseArguments(argc, argv, args); status >= 0) return status;

    pitchime::midi::File file;
    std::string error;
    if (!apps::readMidiFile(args.in, file, error)) return apps::failure(program, error);

    if (file.cutTrack >= 0) {
        // A file cut short (a download that stopped): what it holds is played.
        const std::string cut = apps::cutShort(args.in, file);
        if (file.notes.empty() && !args.info) return apps::failure(program, cut + ", before any note");
        std::fprintf(stderr, "%s: %s; importing the notes before it\n", program.name, cut.c_str());
    }

    if (args.info) {
        std::fputs(importer::describe(file, args.options).c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }

    const importer::Result result = importer::plan(file, args.options);
    if (!result.refusal.empty()) return apps::failure(program, std::string(args.in) + ": " + result.refusal);
    if (std::string problem = apps::writeWhole(args.out, result.score); !problem.empty())
        return apps::failure(program, problem);

    std::FILE* report = stderr;
    if (args.report != nullptr) {
        report = std::fopen(args.report, "w");
        if (report == nullptr)
            return apps::failure(program,
                                 std::string("cannot write ") + args.report + ": " + std::strerror(errno));
    }
    for (const importer::Entry& e : result.entries)
        std::fprintf(report, "%s\n", importer::entryLine(e).c_str());
    const bool reportFailed = report != stderr && std::fclose(report) != 0;
    std::fprintf(stderr, "%s: %s: %s\n", program.name, args.in,
                 importer::summaryLine(result.summary).c_str());
    if (reportFailed) return apps::failure(program, std::string("cannot write ") + args.report);
    return 0;
}
