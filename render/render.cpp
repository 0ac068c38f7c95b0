#include "render/render.h"

#include <cstring>

#include "console/console.h"
#include "platform/platform.h"
#include "session/run_sequence.h"
#include "vboard/vboard.h"

namespace pitchime::render {

std::string loadScore(Run& run, const char* path, const Player& player) {
    int error = 0;
    if (!openScoreFile(run.scoreFile, path, error)) {
        return std::string("cannot open score ") + path + ": " + std::strerror(error);
    }
    pitchime::loadScore(run.scoreFile, run.score);
    closeScoreFile(run.scoreFile);
    return checkScore(run.score, player.rules);
}

namespace {

// A fresh play of the run's loaded score on a board with `options`: the
// board at power-up, the rest of the run as before its first play.
Outcome play(Run& run, const Player& player, const vboard::Options& options, std::FILE* trace) {
    vboard::reset(options);
    rewindRun(run);
    buildDivisorTable(run.divisorTable);

    Outcome outcome;
    outcome.sampleRate = options.wavRate;
    std::FILE* const console = console::stream();
    console::setStream(nullptr);
    const RunPlan plan{.player = &player, .interactive = false, .playTrace = trace, .tailMs = tailMs};
    if (const std::uint32_t status = openRun(run, plan); status != 0) {
        console::setStream(console);
        outcome.error = "the virtual tone board did not open (status " + std::to_string(status) + ")";
        return outcome;
    }
    // A WAV file that could not be created: nothing is played into it.
    if (options.wavPath.empty() || vboard::status().recording) {
        // In virtual time opening takes no time: the rows start now, and
        // the run ends one tail after the last row.
        const std::int64_t startUs = platform::nowUs();
        playRun(run, plan);
        outcome.playedUs = platform::nowUs() - startUs - std::int64_t{tailMs} * 1000;
    } else {
        endRun(run);
    }
    console::setStream(console);

    const vboard::Status status = vboard::status();
    outcome.samples = status.counts.recordedSamples;
    if (status.recordingFailed) outcome.error = "writing " + options.wavPath + " failed";
    return outcome;
}

}  // namespace

Outcome renderToWav(Run& run, const Player& player, const char* wavPath, std::int32_t sampleRate,
                    std::FILE* trace) {
    vboard::Options options = vboard::optionsFromEnvironment();
    options.wavPath = wavPath;
    options.wavRate = sampleRate;
    return play(run, player, options, trace);
}

Outcome renderToWrites(Run& run, const Player& player, std::size_t capacity, std::FILE* trace) {
    vboard::Options options = vboard::optionsFromEnvironment();
    options.wavPath.clear();
    options.recordCapacity = capacity;
    Outcome outcome = play(run, player, options, trace);
    if (!outcome.error.empty()) return outcome;
    if (vboard::status().counts.unrecorded > 0) {
        outcome.error = "the board decoded more register writes than the score has room for";
    }
    outcome.writes = vboard::registerWrites();
    return outcome;
}

}  // namespace pitchime::render
