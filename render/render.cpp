#include "render/render.h"

#include <cstring>
#include <utility>

#include "common/console.h"
#include "session/run_sequence.h"
#include "vboard/vboard.h"

namespace pitchime::render {

std::string loadScore(const char* path, const Player& player) {
    resetRunState();
    int error = 0;
    if (!openScoreFile(run.scoreFile, path, error)) {
        return std::string("cannot open score ") + path + ": " + std::strerror(error);
    }
    pitchime::loadScore(run.scoreFile, run.score);
    closeScoreFile(run.scoreFile);
    return checkScore(run.score, player.rules);
}

Outcome renderToWav(const Player& player, const char* wavPath, std::int32_t sampleRate, std::FILE* trace) {
    // A fresh run of the loaded score: the board at power-up, everything
    // else as at program start.
    vboard::Options options = vboard::optionsFromEnvironment();
    options.wavPath = wavPath;
    options.wavRate = sampleRate;
    vboard::reset(options);
    Score loaded = std::move(run.score);
    resetRunState();
    run.score = std::move(loaded);
    buildDivisorTable(run.divisorTable);

    Outcome outcome;
    outcome.sampleRate = sampleRate;
    std::FILE* const console = console::stream();
    console::setStream(nullptr);
    const RunPlan plan{.player = &player, .interactive = false, .playTrace = trace, .tailMs = tailMs};
    if (const std::uint32_t status = openRun(plan); status != 0) {
        console::setStream(console);
        outcome.error = "the virtual tone board did not open (status " + std::to_string(status) + ")";
        return outcome;
    }
    if (vboard::status().recording) {
        playRun(plan);
    } else {
        endRun();
    }
    console::setStream(console);

    const vboard::Status status = vboard::status();
    outcome.samples = status.counts.recordedSamples;
    if (status.recordingFailed) outcome.error = std::string("writing ") + wavPath + " failed";
    return outcome;
}

}  // namespace pitchime::render
