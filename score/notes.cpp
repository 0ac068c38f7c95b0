#include "score/notes.h"

namespace pitchime {

std::string noteName(int note) {
    static constexpr const char* names[12] = {"C",  "C#", "D",  "D#", "E",  "F",
                                              "F#", "G",  "G#", "A",  "A#", "B"};
    return names[note % 12] + std::to_string(note / 12 - 1);
}

}  // namespace pitchime
