#include "render/output.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

#include "platform/binary_stdout.h"
#include "render/midi_out.h"
#include "render/piano_roll.h"
#include "render/render.h"
#include "render/tones.h"

namespace pitchime::render {

namespace {

// The record of register writes this takes at most (16 bytes each), and the
// longest time a MIDI file's delta times can span in milliseconds.
constexpr std::size_t maxWrites = std::size_t{1} << 24;
constexpr std::int64_t maxMidiTicks = 0x0FFFFFFF;

bool endsWith(std::string_view path, std::string_view ending) {
    return path.size() > ending.size() &&
           std::equal(ending.begin(), ending.end(), path.end() - static_cast<std::ptrdiff_t>(ending.size()),
                      [](char a, char b) { return a == (b >= 'A' && b <= 'Z' ? b - 'A' + 'a' : b); });
}

// At most how many register writes the player makes for `score`:
// the run control words, then per row a control word and a two-byte count
// for each of three counters, or the trill player's two counts every step.
std::size_t writesBound(const Score& score, bool trill) {
    std::size_t bound = 3;
    for (std::size_t r = 0; r < score.rowCount(); ++r) {
        const std::int32_t length = score.row(r)[static_cast<std::size_t>(score.part)];
        bound += trill ? 4 * static_cast<std::size_t>(rowSteps(trillRules, length)) : 9;
    }
    return bound;
}

// A name for a temporary file in the system's temporary directory.
std::string temporaryPath() {
    std::error_code ec;
    const std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
    return (ec ? std::filesystem::path(".") : dir).string() + "/render.pitchime-" +
           std::to_string(std::random_device()()) + ".tmp";
}

std::string copyToStdout(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return std::strerror(errno);
    platform::makeStdoutBinary();
    char block[1 << 16];
    std::size_t n = 0;
    bool ok = true;
    while (ok && (n = std::fread(block, 1, sizeof block, file)) > 0)
        ok = std::fwrite(block, 1, n, stdout) == n;
    ok = ok && !std::ferror(file) && std::fflush(stdout) == 0;
    std::fclose(file);
    return ok ? "" : "writing to standard output failed";
}

}  // namespace

Format formatOf(std::string_view path) {
    if (endsWith(path, ".wav")) return Format::wav;
    if (endsWith(path, ".mid") || endsWith(path, ".midi")) return Format::midi;
    if (endsWith(path, ".svg")) return Format::svg;
    return Format::unknown;
}

NotesOutcome renderToNotes(Run& run, const Player& player, Format format, const std::string& tune,
                           std::FILE* trace) {
    NotesOutcome outcome;
    const std::size_t bound = writesBound(run.score, player.rules.trill);
    if (bound > maxWrites) {
        outcome.error = "the score is too long for a MIDI file or a piano roll";
        return outcome;
    }
    const Outcome played = renderToWrites(run, player, bound, trace);
    if (!played.error.empty()) {
        outcome.error = played.error;
        return outcome;
    }
    outcome.playedUs = played.playedUs;
    if (format == Format::midi && played.playedUs / 1000 > maxMidiTicks) {
        outcome.error = "the score plays too long for a MIDI file";
        return outcome;
    }
    const std::vector<Tone> tones = tonesOf(played.writes, played.playedUs);
    outcome.notes = tones.size();
    bool used[counters] = {};
    for (const Tone& tone : tones) used[tone.counter] = true;
    outcome.counters = static_cast<int>(std::count(used, used + counters, true));
    const RollHeading heading{tune, player.rules.trill ? "pitchime-trill" : "pitchime", run.score.bpm};
    outcome.bytes = format == Format::midi ? midiFile(tones, played.playedUs, run.sixtyFourthMs)
                                           : pianoRoll(tones, played.playedUs, heading);
    return outcome;
}

Outcome renderWavToStdout(Run& run, const Player& player, std::int32_t sampleRate, std::FILE* trace) {
    const std::string temporary = temporaryPath();
    Outcome outcome = renderToWav(run, player, temporary.c_str(), sampleRate, trace);
    if (outcome.error.empty()) {
        if (std::string problem = copyToStdout(temporary); !problem.empty()) outcome.error = problem;
    }
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    return outcome;
}

}  // namespace pitchime::render
