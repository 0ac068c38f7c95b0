#include "render/render.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "board/board_port.h"
#include "board/divisor_table.h"
#include "common/console.h"
#include "platform/platform.h"
#include "score/check.h"
#include "score/score.h"
#include "vboard/vboard.h"

namespace pitchime::render {

std::string loadScore(const char* path, const Player& player) {
    score = Score{};
    // As in the programs: a directory is a file that cannot be opened, and
    // the loader applies the text rules itself to the file's bytes.
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        return std::string("cannot open score ") + path + ": " + std::strerror(EISDIR);
    }
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return std::string("cannot open score ") + path + ": " + std::strerror(errno);
    readScoreLines(file);
    std::fclose(file);
    parseScore();
    if (std::string problem = checkScore(score, player.rules); !problem.empty()) return problem;
    setTempo();
    return "";
}

namespace {

Outcome play(const Player& player, const vboard::Options& options, std::FILE* trace) {
    // A fresh run: the board at power-up, the session and the players' state
    // as at program start.
    vboard::reset(options);
    boardPort = BoardPort{};
    threeVoice::voiceSilenced = {};
    tempoStats = TempoStats{};
    buildDivisorTable();

    Outcome outcome;
    outcome.sampleRate = options.wavRate;
    const std::int64_t startUs = platform::nowUs();
    std::FILE* const console = console::stream();
    console::setStream(nullptr);
    if (const std::uint32_t status = board::open(); status != 0) {
        console::setStream(console);
        outcome.error = "the virtual tone board did not open (status " + std::to_string(status) + ")";
        return outcome;
    }
    board::configure();
    if (options.wavPath.empty() || vboard::counters().recording) {
        startCounters();
        console::setStream(trace);
        player.playScore();
        console::setStream(nullptr);
        outcome.playedUs = platform::nowUs() - startUs;
        platform::sleepMs(tailMs);
    }
    board::writeIdle();
    board::close();
    console::setStream(console);

    const vboard::Counters c = vboard::counters();
    outcome.samples = c.recordedSamples;
    if (c.recordingFailed) outcome.error = "writing " + options.wavPath + " failed";
    return outcome;
}

}  // namespace

Outcome renderToWav(const Player& player, const char* wavPath, std::int32_t sampleRate, std::FILE* trace) {
    vboard::Options options = vboard::optionsFromEnvironment();
    options.wavPath = wavPath;
    options.wavRate = sampleRate;
    return play(player, options, trace);
}

Outcome renderToWrites(const Player& player, std::size_t capacity, std::FILE* trace) {
    vboard::Options options = vboard::optionsFromEnvironment();
    options.wavPath.clear();
    options.recordCapacity = capacity;
    Outcome outcome = play(player, options, trace);
    if (!outcome.error.empty()) return outcome;
    if (vboard::counters().unrecorded > 0) {
        outcome.error = "the board decoded more register writes than the score has room for";
    }
    outcome.writes = vboard::registerWrites();
    return outcome;
}

}  // namespace pitchime::render
