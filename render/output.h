// What pitchime-render writes, chosen by the output's name: the board's
// sound as a WAV file, or what the board plays as a MIDI file or a piano
// roll.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "playback/player.h"
#include "render/render.h"

namespace pitchime::render {

enum class Format { unknown, wav, midi, svg };

// The names' endings, as a user is told them.
inline constexpr const char* formatEndings = ".wav, .mid or .svg";

// The format of `path` by its ending, in any letter case.
Format formatOf(std::string_view path);

struct NotesOutcome {
    std::string error;  // "" when the file was made
    std::string bytes;  // the file
    std::int64_t playedUs = 0;
    std::size_t notes = 0;
    int counters = 0;  // counters that sounded
};

// Plays the run's loaded score with `player` as renderToWav does, and makes
// of the tones the board played a MIDI file or a piano roll headed by the
// name of the tune, `tune`. The row and register trace goes to `trace`, or
// nowhere when it is null.
NotesOutcome renderToNotes(Run& run, const Player& player, Format format, const std::string& tune,
                           std::FILE* trace);

// Renders the WAV file to a temporary file, then copies it to standard
// output, which carries bytes unchanged from then on. The temporary file is
// removed in every case.
Outcome renderWavToStdout(Run& run, const Player& player, std::int32_t sampleRate, std::FILE* trace);

}  // namespace pitchime::render
