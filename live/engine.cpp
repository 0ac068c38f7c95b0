#include "live/engine.h"

#include <algorithm>
#include <cmath>

#include "board/write_frame.h"
#include "voicing/ranking.h"

namespace pitchime::live {

namespace {

constexpr std::int32_t bendCentre = 8192;
constexpr int percussionChannel = 9;

enum Controller {
    dataEntry = 6,
    dataEntryFine = 38,
    sustainPedal = 64,
    parameterFine = 98,
    parameterCoarse = 99,
    registeredFine = 100,
    registeredCoarse = 101,
    allSoundOff = 120,
    resetControllers = 121,
    allNotesOff = 123,
};

bool accepted(const Engine& e, int channel) {
    return e.settings.channels[channel] && (channel != percussionChannel || e.settings.drums);
}

int find(const Engine& e, int channel, int key) {
    for (int i = 0; i < e.noteCount; ++i) {
        if (e.notes[i].channel == channel && e.notes[i].key == key) return i;
    }
    return -1;
}

int noteOfVoice(const Engine& e, int voice) {
    for (int i = 0; i < e.noteCount; ++i) {
        if (e.notes[i].voice == voice) return i;
    }
    return -1;
}

int freeVoice(const Engine& e) {
    for (int v = 0; v < e.voices; ++v) {
        if (noteOfVoice(e, v) < 0) return v;
    }
    return -1;
}

void remove(Engine& e, int i) {
    std::copy(e.notes.begin() + i + 1, e.notes.begin() + e.noteCount, e.notes.begin() + i);
    --e.noteCount;
}

void removeWhere(Engine& e, int channel, bool pedalOnly) {
    for (int i = e.noteCount; i-- > 0;) {
        if (e.notes[i].channel == channel && (!pedalOnly || !e.notes[i].keyDown)) remove(e, i);
    }
}

void give(Engine& e, int i, int voice) {
    e.notes[i].voice = static_cast<std::int8_t>(voice);
    e.started = voice;
}

ranking::Candidate candidate(const Engine& e, int i, bool fresh) {
    const Note& n = e.notes[i];
    ranking::Rank rank = ranking::Rank::keyed;
    if (n.drum) {
        rank = fresh ? ranking::Rank::drumFresh : ranking::Rank::drumSounding;
    } else if (n.melody) {
        rank = ranking::Rank::melody;
    } else if (fresh) {
        rank = ranking::Rank::fresh;
    } else if (!n.keyDown) {
        rank = ranking::Rank::pedal;
    }
    return {i, rank, n.velocity, n.pitch};
}

// Free voices go to the best of the remembered notes.
void refill(Engine& e) {
    if (freeVoice(e) < 0) return;
    std::array<ranking::Candidate, maxNotes> all;
    for (int i = 0; i < e.noteCount; ++i) all[i] = candidate(e, i, false);
    const std::span<ranking::Candidate> candidates(all.data(), static_cast<std::size_t>(e.noteCount));
    ranking::order(candidates, static_cast<std::size_t>(e.voices));
    for (const ranking::Candidate& c : candidates) {
        const int voice = freeVoice(e);
        if (voice < 0) return;
        if (e.notes[c.id].voice < 0) give(e, c.id, voice);
    }
}

void noteOn(Engine& e, std::int64_t us, int channel, int key, int velocity, bool melody) {
    const bool drum = channel == percussionChannel;
    if (const int i = find(e, channel, key); i >= 0) {
        Note& n = e.notes[i];
        if (drum) {
            n.endsUs = us + drumBlipUs;  // struck again: the blip starts over
            return;
        }
        if (n.voice >= 0) {  // struck again while it sounds: it goes on
            n.keyDown = true;
            n.velocity = static_cast<std::uint8_t>(velocity);
            return;
        }
        remove(e, i);
    }
    if (e.noteCount == maxNotes) {
        // Full of remembered notes: the one struck longest ago is forgotten.
        const auto* old =
            std::find_if(e.notes.begin(), e.notes.end(), [](const Note& n) { return n.voice < 0; });
        remove(e, static_cast<int>(old - e.notes.begin()));
    }
    const int shifted = key + e.settings.transpose;
    Note& n = e.notes[e.noteCount];
    n = Note{};
    n.channel = static_cast<std::uint8_t>(channel);
    n.key = static_cast<std::uint8_t>(key);
    n.velocity = static_cast<std::uint8_t>(velocity);
    n.pitch = drum ? ranking::drumPitch(key)
                   : static_cast<std::uint8_t>(shifted + 12 * ranking::octavesIntoRange(shifted));
    n.drum = drum;
    n.melody = !drum && (melody || channel == e.settings.melodyChannel);
    n.endsUs = drum ? us + drumBlipUs : never;
    const int fresh = e.noteCount++;
    if (const int voice = freeVoice(e); voice >= 0) {
        give(e, fresh, voice);
        return;
    }
    // Every voice is busy: the sounding notes and this one are ranked, and
    // the last gives up its voice.
    std::array<ranking::Candidate, 4> all;
    std::size_t count = 0;
    for (int i = 0; i < e.noteCount; ++i) {
        if (e.notes[i].voice >= 0 || i == fresh) all[count++] = candidate(e, i, i == fresh);
    }
    ranking::order(std::span(all.data(), count), static_cast<std::size_t>(e.voices));
    const int loser = all[count - 1].id;
    if (loser != fresh) {
        give(e, fresh, e.notes[loser].voice);
        e.notes[loser].voice = -1;
    }
    // Remembered while its key is down; a drum blip or a pedal-held note is gone.
    if (e.notes[loser].drum || !e.notes[loser].keyDown) remove(e, loser);
}

void noteOff(Engine& e, int channel, int key) {
    const int i = find(e, channel, key);
    if (i < 0 || e.notes[i].drum) return;
    if (e.channels[channel].pedal && e.notes[i].voice >= 0) {
        e.notes[i].keyDown = false;
    } else {
        remove(e, i);
    }
}

void controller(Engine& e, int channel, int number, int value) {
    Channel& c = e.channels[channel];
    const bool bendRange = c.parameterMsb == 0 && c.parameterLsb == 0;
    switch (number) {
        case sustainPedal:
            c.pedal = value >= 64;
            if (!c.pedal) removeWhere(e, channel, true);
            break;
        case allSoundOff:
        case allNotesOff:
            removeWhere(e, channel, false);
            break;
        case resetControllers:
            c.pedal = false;
            removeWhere(e, channel, true);
            c.bend = bendCentre;
            c.parameterMsb = c.parameterLsb = 127;
            break;
        case registeredCoarse:
            c.parameterMsb = static_cast<std::uint8_t>(value);
            break;
        case registeredFine:
            c.parameterLsb = static_cast<std::uint8_t>(value);
            break;
        case parameterCoarse:
        case parameterFine:
            // A non-registered parameter is selected: data entry is its.
            c.parameterMsb = c.parameterLsb = 127;
            break;
        case dataEntry:
            if (bendRange) c.bendRangeCents = value * 100;
            break;
        case dataEntryFine:
            if (bendRange) c.bendRangeCents = c.bendRangeCents / 100 * 100 + std::min(value, 99);
            break;
        default:
            break;
    }
}

std::uint16_t countOf(const Engine& e, const Note& n) {
    const Channel& c = e.channels[n.channel];
    if (n.drum || c.bend == bendCentre) return e.table.noteCount[n.pitch];
    const double semitones = (c.bend - bendCentre) / 8192.0 * c.bendRangeCents / 100.0;
    const double count = timerClockHz / (e.table.noteHz[n.pitch] * std::exp2(semitones / 12.0));
    return static_cast<std::uint16_t>(std::clamp(count + 0.5, 2.0, 65535.0));
}

void push(Writes& out, int address, std::int32_t value) {
    out.items[static_cast<std::size_t>(out.count++)] =
        Write{static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(value & 0xFF)};
}

// The writes that bring every counter to what its voice should sound now.
void commit(Engine& e, std::int64_t us, Writes& out) {
    out.count = 0;
    std::array<int, 3> playing{};
    for (int v = 0; v < 3; ++v) playing[v] = v < e.voices ? noteOfVoice(e, v) : -1;
    if (e.settings.trill) {
        const bool both = playing[0] >= 0 && playing[1] >= 0;
        // A note just given a voice is heard at once, for a whole turn.
        if (e.started >= 0) {
            e.turn = e.started;
            e.turnEndsUs = us + e.settings.trillTurnUs;
        }
        if (!both) e.turnEndsUs = never;
        if (both) playing[0] = playing[e.turn];
        if (!both && playing[0] < 0) playing[0] = playing[1];
        playing[1] = -1;
    }
    e.started = -1;
    for (int c = 0; c < 3; ++c) {
        Counter& counter = e.counters[c];
        if (playing[c] < 0) {
            if (counter.running) push(out, controlWordAddress, stopControlWords[c]);
            counter.running = false;
            continue;
        }
        const std::uint16_t count = countOf(e, e.notes[playing[c]]);
        if (counter.running && count == counter.count) continue;
        if (!counter.running) push(out, controlWordAddress, runControlWords[c]);
        push(out, c, count);
        push(out, c, count >> 8);
        counter = Counter{true, count};
    }
}

// Drum blips that have ended, and turns that have passed, by `us`.
void passTime(Engine& e, std::int64_t us) {
    for (int i = e.noteCount; i-- > 0;) {
        if (e.notes[i].endsUs <= us) remove(e, i);
    }
    if (e.turnEndsUs <= us) {
        const std::int64_t turns = (us - e.turnEndsUs) / e.settings.trillTurnUs + 1;
        if (turns % 2 == 1) e.turn ^= 1;
        e.turnEndsUs += turns * e.settings.trillTurnUs;
    }
}

}  // namespace

void start(Engine& engine, const Settings& settings) {
    engine = Engine{};
    engine.settings = settings;
    engine.settings.trillTurnUs = std::max<std::int64_t>(settings.trillTurnUs, 1);
    engine.voices = settings.trill ? 2 : 3;
    buildDivisorTable(engine.table);
}

void receive(Engine& e, std::int64_t us, std::span<const std::uint8_t> message, Writes& out, bool melody) {
    passTime(e, us);
    const int status = message.empty() ? 0 : message[0];
    const int kind = status & 0xF0;
    const int channel = status & 0x0F;
    // Every message played has three bytes; programs and pressures are not played.
    if (status >= 0x80 && status < 0xF0 && message.size() >= 3 && accepted(e, channel)) {
        const int first = message[1] & 0x7F;
        const int second = message[2] & 0x7F;
        if (kind == 0x90 && second > 0) {
            noteOn(e, us, channel, first, second, melody);
        } else if (kind == 0x80 || kind == 0x90) {
            noteOff(e, channel, first);
        } else if (kind == 0xB0) {
            controller(e, channel, first, second);
        } else if (kind == 0xE0) {
            e.channels[channel].bend = first | second << 7;
        }
    }
    refill(e);
    commit(e, us, out);
}

void advance(Engine& engine, std::int64_t us, Writes& out) {
    passTime(engine, us);
    refill(engine);
    commit(engine, us, out);
}

std::int64_t nextChangeUs(const Engine& engine) {
    std::int64_t next = engine.turnEndsUs;
    for (int i = 0; i < engine.noteCount; ++i) next = std::min(next, engine.notes[i].endsUs);
    return next;
}

void silence(Engine& engine, Writes& out) {
    engine.noteCount = 0;
    commit(engine, 0, out);
}

}  // namespace pitchime::live
