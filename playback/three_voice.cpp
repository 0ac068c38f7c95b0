// The three-voice player: voice column v on 8254 counter v, a rest stops
// the counter, a note after a rest starts it again.
#include <array>

#include "console/console.h"
#include "platform/platform.h"
#include "playback/player.h"

namespace pitchime::threeVoice {

namespace {
void printTrace(ScoreRow row, std::int32_t part) {
    console::Hold wholeLine;
    for (std::int32_t c = 0; c <= part; ++c) console::format(c == 0 ? "%d" : ",%d", static_cast<int>(row[c]));
    console::line();
}
}  // namespace

void play(Run& run) {
    const Score& score = run.score;
    std::array<bool, 3>& stopped = run.counterStopped;
    const std::int32_t part = score.part;
    for (std::size_t r = 0; r < score.rowCount(); ++r) {
        ScoreRow row = score.row(r);
        const std::int32_t length = row[part];
        run.tempoStats.rowStart = platform::clockMs();
        printTrace(row, part);
        const std::int32_t wait = rowTiming::durationMs(run, length);
        console::lineInt("", wait);

        // Every counter that comes back from a rest gets its run control
        // word before any count of the row goes out.
        for (std::int32_t v = 0; v < part; ++v) {
            if (stopped[v] && row[v] != 0) {
                writeRegister(run.boardPort, runControlWords[v], controlWordAddress);
                stopped[v] = false;
            }
        }
        for (std::int32_t v = 0; v < part; ++v) {
            const std::int32_t note = row[v];
            if (note != 0) {
                writeNoteCount(run, note, v);
            } else {
                writeRegister(run.boardPort, stopControlWords[v], controlWordAddress);
                stopped[v] = true;
            }
            console::line();
        }
        console::line();

        platform::sleepMs(wait);
        rowTiming::finish(run, length, r);
    }
}

}  // namespace pitchime::threeVoice
