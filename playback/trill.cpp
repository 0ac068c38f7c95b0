// The trill player: counter 0 alone, switching between the
// notes of voice columns 0 and 1 every sixty-fourth note.
#include "console/console.h"
#include "platform/platform.h"
#include "playback/player.h"

namespace pitchime::trill {

namespace {
void sound(Run& run, std::int32_t note) {
    writeNoteCount(run, note, 0);
    console::line();
    platform::sleepMs(run.sixtyFourthMs);
}
}  // namespace

void play(Run& run) {
    const Score& score = run.score;
    for (std::size_t r = 0; r < score.rowCount(); ++r) {
        ScoreRow row = score.row(r);
        const std::int32_t length = row[score.part];
        run.tempoStats.rowStart = platform::clockMs();
        {
            console::Hold wholeLine;
            console::format("%d,%d,%d", static_cast<int>(row[0]), static_cast<int>(row[1]),
                            static_cast<int>(row[2]));
            console::line();
        }
        console::lineInt("", rowTiming::durationMs(run, length));

        // Steps of two sixty-fourth notes, one for each note.
        for (std::int32_t step = rowSteps(trillRules, length); step > 0; --step) {
            sound(run, row[0]);
            sound(run, row[1]);
        }
        rowTiming::finish(run, length, r);
    }
}

}  // namespace pitchime::trill
