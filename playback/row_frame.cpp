#include "board/board_port.h"
#include "board/divisor_table.h"
#include "common/console.h"
#include "platform/platform.h"
#include "playback/player.h"
#include "score/score.h"

namespace pitchime {

TempoStats tempoStats;
std::int32_t sixtyFourthMs = 0;

void setTempo() {
    score.bpm = readNumber(score.line(0));
    sixtyFourthMs = sixtyFourthMsFor(score.bpm);
}

namespace rowFrame {

void writeCount(std::int32_t note, int address) {
    writeRegister(divisorTable.low(note), address);
    console::format("WRITE_LOW:\t\t%d\n", divisorTable.low(note));
    writeRegister(divisorTable.high(note), address);
    console::format("WRITE_HIGH:\t\t%d\n", divisorTable.high(note));
}

std::int32_t durationMs(std::int32_t lengthValue) { return (64 / lengthValue) * sixtyFourthMs; }

void finish(std::int32_t lengthValue, std::size_t row) {
    tempoStats.rowEnd = platform::clockMs();
    // The 32-bit millisecond clock wraps after 24.8 days; the difference
    // taken modulo 2^32 is the row's true length across the wrap too.
    const auto elapsed = static_cast<std::int32_t>(static_cast<std::uint32_t>(tempoStats.rowEnd) -
                                                   static_cast<std::uint32_t>(tempoStats.rowStart));
    console::lineInt("REAL:\t", elapsed);
    console::line();
    board::reportWriteFailure(row + 3);
    // elapsed * L / 4 in 32 bits: a huge length value wraps the way 32-bit
    // arithmetic does instead of overflowing into undefined behaviour.
    auto product = static_cast<std::int32_t>(static_cast<std::uint32_t>(elapsed) *
                                             static_cast<std::uint32_t>(lengthValue));
    tempoStats.quarterSum = static_cast<std::int32_t>(static_cast<std::uint32_t>(tempoStats.quarterSum) +
                                                      static_cast<std::uint32_t>(product / 4));
}

}  // namespace rowFrame
}  // namespace pitchime
