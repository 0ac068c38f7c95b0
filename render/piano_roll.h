// The tones the board played as a piano roll in SVG, for a musician: time
// across in beats and bars (or seconds), pitch up with note names, one
// colour per counter.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "render/tones.h"

namespace pitchime::render {

// What heads the roll: the tune, the program that plays it, and the
// score's tempo line.
struct RollHeading {
    std::string tune;     // tuneName of the score
    std::string program;  // "pitchime" or "pitchime-trill"
    std::int32_t bpm = 0;
};

// A tempo a musician counts in: 30 to 300 quarter notes a minute. Scores
// made by pitchime-import mostly have a BPM far above it, chosen for its
// grid of whole-millisecond sixty-fourths rather than for the tune's beat.
inline bool musicalTempo(std::int32_t bpm) { return bpm >= 30 && bpm <= 300; }

// Every tone is a bar of its own (class "note cN" for counter N) in the row
// of its nearest key, so the trill player's sixty-fourths show as two
// interleaved lanes of short bars. The count of notes below the board's
// range (the trill player's rest, note 0) is no key: it is drawn as a
// rest, as is any stretch where no counter sounds a note (a faint band,
// class "rest"). Rows of black keys are shaded, every C has a line and a
// name (C4 is MIDI key 60, middle C), as does every key played.
//
// At a musical tempo, time is counted in beats of a quarter note as played
// (16 whole-millisecond sixty-fourths) and bars of four beats (4/4 is
// assumed: a score does not say its metre), numbered from 1; the seconds
// are ticked below. Otherwise a line marks every second. At 160 pixels a
// second, a tune longer than ten seconds is wrapped into systems of about
// ten seconds, whole bars each at a musical tempo, one below the other.
std::string pianoRoll(std::span<const Tone> tones, std::int64_t endUs, const RollHeading& heading);

// A tune's name from its score's path: the file name without its
// extension, dashes and underscores as blanks, the first letter a capital
// ("examples/ode-to-joy.txt" is "Ode to joy").
std::string tuneName(std::string_view scorePath);

}  // namespace pitchime::render
