// The three-voice player: voice column v on 8254 counter v, a rest stops
// the counter, a note after a rest starts it again.
#include <array>

#include "board/board_port.h"
#include "board/write_frame.h"
#include "common/console.h"
#include "platform/platform.h"
#include "playback/player.h"
#include "score/score.h"

namespace pitchime::threeVoice {

std::array<int, 3> voiceSilenced{};

namespace {
void printTrace(ScoreRow row, std::int32_t part) {
    console::Hold wholeLine;
    for (std::int32_t c = 0; c <= part; ++c) console::format(c == 0 ? "%d" : ",%d", static_cast<int>(row[c]));
    console::line();
}
}  // namespace

void playScore() {
    const std::int32_t part = score.part;
    for (std::size_t r = 0; r < score.rowCount(); ++r) {
        ScoreRow row = score.row(r);
        const std::int32_t length = row[part];
        tempoStats.rowStart = platform::clockMs();
        printTrace(row, part);
        const std::int32_t wait = rowFrame::durationMs(length);
        console::lineInt("", wait);

        // Every counter that comes back from a rest gets its run control
        // word before any count of the row goes out.
        for (std::int32_t v = 0; v < part; ++v) {
            if (voiceSilenced[v] == 1 && row[v] != 0) {
                writeRegister(runControlWords[v], controlWordAddress);
                voiceSilenced[v] = 0;
            }
        }
        for (std::int32_t v = 0; v < part; ++v) {
            const std::int32_t note = row[v];
            if (note != 0) {
                rowFrame::writeCount(note, v);
            } else {
                writeRegister(stopControlWords[v], controlWordAddress);
                voiceSilenced[v] = 1;
            }
            console::line();
        }
        console::line();

        platform::sleepMs(wait);
        rowFrame::finish(length, r);
    }
}

}  // namespace pitchime::threeVoice
