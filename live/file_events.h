// A Standard MIDI File as the live player plays it: the notes, controllers
// and pitch bends that the reader of midi/ keeps, turned back into MIDI
// messages, each at its time in the file through the file's tempo map, in
// the order a synthesizer hearing the file would act on them.
#pragma once

#include <cstdint>
#include <vector>

#include "live/runner.h"
#include "midi/midi_file.h"
#include "midiin/midi_input.h"
#include "voicing/melody.h"

namespace pitchime::live {

// One message of the file: Message::us is microseconds from the file's
// start.
struct FileEvent {
    midiin::Message message;
    bool melody = false;
};

// Every message of `file`, by time. At one time: the note-offs of notes
// that have a length, then controllers and bends in the file's order,
// then the note-ons, then the note-offs of notes of no length, so that a
// key struck again sounds again, a note starts at its bend, and no note
// stays on. The notes of `melody` rank first.
std::vector<FileEvent> fileEvents(const midi::File& file, const voicing::Melody& melody);

// How far ahead of its time a file's message is handed to the playing
// thread, which holds it until then.
inline constexpr std::int64_t fileLeadUs = 200000;

// Plays `events` on `runner`, the file's time 0 at `originUs` on the
// platform::nowUs() clock: hands each message to the playing thread
// fileLeadUs ahead of its time, sleeping in between, then waits until the
// last one's time. The runner is left running.
void feedFile(Runner& runner, const std::vector<FileEvent>& events, std::int64_t originUs);

}  // namespace pitchime::live
