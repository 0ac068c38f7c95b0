// Tones that found no voice at their start, started later where a voice
// frees while their keys are still down.
#include <algorithm>
#include <utility>

#include "importer/allocator.h"

namespace pitchime::importer::allocation {

// Tones that found no voice at their start take one that frees before
// `before`, while their keys are down and a playable part is left: the
// earliest start first, then the melody's, then the highest.
void Allocator::startLate(std::int64_t before) {
    while (!waiting.empty()) {
        int bestVoice = -1;
        int best = -1;
        std::int64_t bestAt = before;
        for (int v = 0; v < static_cast<int>(voices.size()); ++v) {
            const Voice& voice = voices[v];
            const std::int64_t freeAt = voice.segments.empty() ? 0 : voice.segments.back().end;
            if (voice.tone >= 0 && freeAt >= before) continue;
            for (int t : waiting) {
                const std::int64_t at = std::max(freeAt, grid[t].start);
                if (at >= before || at > bestAt || grid[t].keyEnd - at < shortest) continue;
                // Only where no planned tone starts before it has played
                // its shortest: it never takes a voice the plan needs.
                const auto next = std::lower_bound(plan.starts.begin(), plan.starts.end(), at);
                if (next != plan.starts.end() && *next < at + shortest) continue;
                if (at == bestAt && best >= 0 &&
                    std::pair(tones[t].melody, tones[t].pitch) <=
                        std::pair(tones[best].melody, tones[best].pitch))
                    continue;
                bestAt = at;
                best = t;
                bestVoice = v;
            }
        }
        // What can no longer start usefully stays dropped.
        std::erase_if(waiting, [&](int t) { return t != best && grid[t].keyEnd - bestAt < shortest; });
        if (best < 0) return;
        std::erase(waiting, best);
        for (Voice& voice : voices) {
            if (voice.tone >= 0 && voice.segments.back().end <= bestAt) voice.tone = -1;
        }
        start(best, bestVoice, bestAt);
        Entry& e = out.entries[entryOf[best]];
        e.fate = Fate::late;
        e.lostUs = bestAt * unitUs - tones[best].startUs;
        ++out.late;
    }
}

}  // namespace pitchime::importer::allocation
