// pitchime-render: plays a score on the virtual tone board in virtual time
// and writes what the board sounds like to a WAV file, or what it plays to
// a MIDI file or a piano roll, as fast as it can be computed.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "apps/command_line.h"
#include "playback/run.h"
#include "render/output.h"
#include "render/piano_roll.h"
#include "render/render.h"
#include "score/warnings.h"
#include "version.h"

namespace {

namespace apps = pitchime::apps;

constexpr const char* usage =
    "Usage: pitchime-render [--trill] [--rate HZ] [--trace] SCORE OUT\n"
    "       pitchime-render --check [--trill] SCORE\n";

constexpr const char* help =
    "Plays SCORE on the virtual tone board with the players of pitchime, in\n"
    "virtual time, and writes to OUT, by its ending:\n"
    "  .wav  what the board sounds like (16-bit mono PCM), ringing on for a\n"
    "        quarter second after the last row; OUT - writes it to standard\n"
    "        output\n"
    "  .mid  a MIDI file of what the board plays: a track per counter (.midi too)\n"
    "  .svg  a piano roll of what the board plays\n"
    "\n"
    "  --trill        play as pitchime-trill does: counter 0 alone, alternating\n"
    "                 the first two voice columns every sixty-fourth note\n"
    "                 (default: one counter per voice, as pitchime does)\n"
    "  --rate HZ      samples a second, 8000 to 192000 (default 48000)\n"
    "  --trace        print the row and register trace the programs print\n"
    "  --check        write nothing: print the score's warnings, or why it is\n"
    "                 refused; exit 0 when it plays, 1 when it is refused\n"
    "  -h, --help     print this help and exit\n"
    "  -V, --version  print the version and exit\n"
    "\n"
    "Exit status: 0 when the file was written, 1 when the score or the file\n"
    "failed, 2 for a wrong command line.\n";

constexpr apps::Program program{.name = "pitchime-render",
                                .usage = usage,
                                .help = help,
                                .version = pitchime::version,
                                .shortForms = true};

constexpr apps::Option options[] = {{"--trill"}, {"--trace"}, {"--check"}, {"--rate", true}};

constexpr std::int32_t minRate = 8000;
constexpr std::int32_t maxRate = 192000;

struct Arguments {
    bool trill = false;
    bool trace = false;
    bool check = false;
    std::int32_t rate = 48000;
    const char* score = nullptr;
    const char* out = nullptr;
};

// Whether `out` names the file `score` is, whichever way it is spelled.
bool sameFile(const char* score, const char* out) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::exists(score, ec) && fs::exists(out, ec)) return fs::equivalent(score, out, ec);
    const auto normal = [](const char* path) {
        std::error_code failed;
        const fs::path absolute = fs::absolute(path, failed);
        return (failed ? fs::path(path) : absolute).lexically_normal();
    };
    return normal(score) == normal(out);
}

// A whole number of samples a second in range, or 0.
std::int32_t parseRate(const char* text) {
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < minRate || value > maxRate) return 0;
    return static_cast<std::int32_t>(value);
}

// --check: the score's warnings or its refusal on standard output.
int checkOnly(const char* score, bool trill, std::size_t operands) {
    if (operands != 1) return apps::commandLineError(program, "--check takes one score and no output file");
    pitchime::Run run;
    const pitchime::Player& player = trill ? pitchime::trillPlayer : pitchime::threeVoicePlayer;
    const std::string problem = pitchime::render::loadScore(run, score, player);
    if (!problem.empty() && !problem.starts_with("Score error:")) return apps::failure(program, problem);
    if (!problem.empty()) {
        std::printf("%s\n", problem.c_str());
        std::fflush(stdout);
        return 1;
    }
    for (const std::string& warning : pitchime::scoreWarnings(run.score, player.rules))
        std::printf("%s\n", warning.c_str());
    return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments args;
    std::vector<const char*> operands;
    const auto take = [&args](std::string_view name, const char* value) -> std::string {
        if (name == "--trill") args.trill = true;
        if (name == "--trace") args.trace = true;
        if (name == "--check") args.check = true;
        if (name == "--rate") args.rate = parseRate(value);
        if (args.rate != 0) return "";
        return std::string("--rate takes a whole number from 8000 to 192000, not '") + value + "'";
    };
    if (const int status = apps::readArguments(program, options, argc, argv, operands, take); status >= 0)
        return status;
    if (!operands.empty()) args.score = operands[0];
    if (operands.size() > 1) args.out = operands[1];
    if (args.check) return checkOnly(args.score, args.trill, operands.size());
    if (operands.size() != 2) {
        return apps::commandLineError(program, operands.size() < 2 ? "needs a score and an output file"
                                                                   : "takes one score and one output file");
    }
    const bool toStdout = std::string_view(args.out) == "-";
    const pitchime::render::Format format =
        toStdout ? pitchime::render::Format::wav : pitchime::render::formatOf(args.out);
    if (!toStdout && sameFile(args.score, args.out)) {
        return apps::commandLineError(program, std::string("the output file ") + args.out + " is the score");
    }
    if (format == pitchime::render::Format::unknown) {
        return apps::commandLineError(program, std::string("cannot write '") + args.out +
                                                   "': OUT must end in " + pitchime::render::formatEndings +
                                                   ", or be - for a WAV on standard output");
    }

    const pitchime::Player& player = args.trill ? pitchime::trillPlayer : pitchime::threeVoicePlayer;
    pitchime::Run run;
    if (std::string problem = pitchime::render::loadScore(run, args.score, player); !problem.empty()) {
        return apps::failure(program, problem);
    }
    // The warnings the players print before READY?, in the same words.
    for (const std::string& warning : pitchime::scoreWarnings(run.score, player.rules))
        std::fprintf(stderr, "%s\n", warning.c_str());
    const std::size_t rows = run.score.rowCount();
    const char* const rowsPlural = rows == 1 ? "" : "s";
    if (format != pitchime::render::Format::wav) {
        const pitchime::render::NotesOutcome outcome = pitchime::render::renderToNotes(
            run, player, format, pitchime::render::tuneName(args.score), args.trace ? stdout : nullptr);
        if (!outcome.error.empty()) return apps::failure(program, outcome.error);
        if (std::string problem = apps::writeWhole(args.out, outcome.bytes); !problem.empty())
            return apps::failure(program, problem);
        std::printf("Wrote %.1f s, %zu row%s to %s (%zu note%s on %d counter%s)\n",
                    static_cast<double>(outcome.playedUs) / 1e6, rows, rowsPlural, args.out, outcome.notes,
                    outcome.notes == 1 ? "" : "s", outcome.counters, outcome.counters == 1 ? "" : "s");
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    // The WAV goes to standard output whole; the trace and the summary then
    // go to standard error.
    std::FILE* const report = toStdout ? stderr : stdout;
    if (!toStdout) {
        // Make sure the output can be written before anything is played.
        if (std::FILE* probe = std::fopen(args.out, "wb"); probe != nullptr) {
            std::fclose(probe);
        } else {
            return apps::failure(program,
                                 std::string("cannot write ") + args.out + ": " + std::strerror(errno));
        }
    }

    std::FILE* const trace = args.trace ? report : nullptr;
    const pitchime::render::Outcome outcome =
        toStdout ? pitchime::render::renderWavToStdout(run, player, args.rate, trace)
                 : pitchime::render::renderToWav(run, player, args.out, args.rate, trace);
    if (!outcome.error.empty()) return apps::failure(program, outcome.error);
    std::fprintf(report, "Wrote %.1f s, %zu row%s to %s (%d Hz)\n",
                 static_cast<double>(outcome.samples) / outcome.sampleRate, rows, rowsPlural,
                 toStdout ? "standard output" : args.out, static_cast<int>(outcome.sampleRate));
    return std::fflush(report) == 0 ? 0 : 1;
}
