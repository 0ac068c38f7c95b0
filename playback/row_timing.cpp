// What both players do for a row: its time, its tempo figures, and the
// writes of a note's count.
#include "console/console.h"
#include "platform/platform.h"
#include "playback/player.h"

namespace pitchime {

void setTempo(Run& run) { run.sixtyFourthMs = sixtyFourthMsFor(run.score.bpm); }

void writeNoteCount(Run& run, std::int32_t note, int address) {
    writeRegister(run.boardPort, run.divisorTable.low(note), address);
    console::format("WRITE_LOW:\t\t%d\n", run.divisorTable.low(note));
    writeRegister(run.boardPort, run.divisorTable.high(note), address);
    console::format("WRITE_HIGH:\t\t%d\n", run.divisorTable.high(note));
}

namespace rowTiming {

std::int32_t durationMs(const Run& run, std::int32_t lengthValue) {
    return rowSixtyFourths(threeVoiceRules, lengthValue) * run.sixtyFourthMs;
}

void finish(Run& run, std::int32_t lengthValue, std::size_t row) {
    TempoStats& stats = run.tempoStats;
    stats.rowEnd = platform::clockMs();
    // The 32-bit millisecond clock wraps after 24.8 days; the difference
    // taken modulo 2^32 is the row's true length across the wrap too.
    const auto elapsed = static_cast<std::int32_t>(static_cast<std::uint32_t>(stats.rowEnd) -
                                                   static_cast<std::uint32_t>(stats.rowStart));
    console::lineInt("REAL:\t", elapsed);
    console::line();
    // Rows are counted from the score's third line.
    board::reportWriteFailure(run.boardPort, row + 3);
    // elapsed * L / 4 in 32 bits: a huge length value wraps the way 32-bit
    // arithmetic does instead of overflowing into undefined behaviour.
    auto product = static_cast<std::int32_t>(static_cast<std::uint32_t>(elapsed) *
                                             static_cast<std::uint32_t>(lengthValue));
    stats.quarterSum = static_cast<std::int32_t>(static_cast<std::uint32_t>(stats.quarterSum) +
                                                 static_cast<std::uint32_t>(product / 4));
}

}  // namespace rowTiming
}  // namespace pitchime
