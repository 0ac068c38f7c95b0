// The live player's engine: MIDI messages in, the board's register writes
// out. Pure and deterministic: it keeps no clock (every call carries its
// time, and nextChangeUs says when it next needs one), allocates nothing,
// and never waits.
//
// Voices. Three, one on each counter; or, for the trill player, two
// taking turns on counter 0, each sounding for Settings::trillTurnUs. A note
// struck while every voice is busy is ranked with the sounding notes
// (live/ranking.h) and the last one gives up its voice. A note that loses
// its voice while its key is down is remembered: when a voice frees, the
// best of the remembered notes takes it and sounds again.
//
// What it plays: note-on and note-off (velocity 0 is a note-off); the
// sustain pedal (controller 64), all sound off (120), reset all
// controllers (121), all notes off (123); pitch bend, its range set by
// registered parameter 0 (controllers 101 and 100 select it, 6 and 38 set
// semitones and cents; 2 semitones until then). Notes are transposed, then
// moved by whole octaves into the board's range; percussion (channel 10)
// plays short blips, or nothing without Settings::drums.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <span>

#include "board/divisor_table.h"

namespace pitchime::live {

inline constexpr std::int64_t never = std::numeric_limits<std::int64_t>::max();
inline constexpr int maxNotes = 128;  // notes sounding or remembered at once
inline constexpr std::int64_t drumBlipUs = 25000;

struct Settings {
    bool trill = false;
    std::int64_t trillTurnUs = 30000;
    std::array<bool, 16> channels{true, true, true, true, true, true, true, true,
                                  true, true, true, true, true, true, true, true};
    bool drums = false;      // channel 10 as short blips
    int transpose = 0;       // semitones, for every note but percussion
    int melodyChannel = -1;  // 0 to 15: its notes rank first
};

// One register write: address 0 to 2 a counter's count byte, 3 a control word.
struct Write {
    std::uint8_t address = 0;
    std::uint8_t value = 0;
};

// The register writes of one instant, in the order they go to the board: at
// most a control word and a count for each counter.
struct Writes {
    std::array<Write, 9> items{};
    int count = 0;
};

struct Note {
    std::int64_t endsUs = never;  // a drum blip's end
    std::uint8_t channel = 0;
    std::uint8_t key = 0;
    std::uint8_t velocity = 0;
    std::uint8_t pitch = 0;  // as played
    std::int8_t voice = -1;  // -1: remembered, waiting for a voice
    bool keyDown = true;     // false: held by the pedal alone
    bool drum = false;
    bool melody = false;
};

struct Channel {
    std::int32_t bend = 8192;  // 14 bits, centred at 8192
    std::int32_t bendRangeCents = 200;
    std::uint8_t parameterMsb = 127;  // the registered parameter selected; 127 none
    std::uint8_t parameterLsb = 127;
    bool pedal = false;
};

// What a counter was last given.
struct Counter {
    bool running = false;  // its run control word written
    std::uint16_t count = 0;
};

struct Engine {
    Settings settings;
    DivisorTable table;
    int voices = 3;
    std::array<Channel, 16> channels{};
    std::array<Note, maxNotes> notes{};  // in the order they were struck
    int noteCount = 0;
    std::array<Counter, 3> counters{};
    // The trill player: the voice sounding on counter 0, until when.
    int turn = 0;
    std::int64_t turnEndsUs = never;
    int started = -1;  // a voice given a note in the current call
};

// Ready to play with `settings`, every counter taken to be stopped.
void start(Engine& engine, const Settings& settings);

// One complete MIDI message at `us` (a melodic note of a melody track, when
// `melody`), after the changes due by then; `out` gets the writes.
void receive(Engine& engine, std::int64_t us, std::span<const std::uint8_t> message, Writes& out,
             bool melody = false);

// The changes due by `us`: alternating turns, drum blips ending.
void advance(Engine& engine, std::int64_t us, Writes& out);

// When advance has something to do next; never when nothing is timed.
std::int64_t nextChangeUs(const Engine& engine);

// Forgets every note and stops every counter that runs.
void silence(Engine& engine, Writes& out);

}  // namespace pitchime::live
