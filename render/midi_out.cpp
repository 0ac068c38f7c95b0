#include "render/midi_out.h"

#include <algorithm>
#include <vector>

namespace pitchime::render {

namespace {

constexpr std::uint8_t velocity = 96;
constexpr std::uint8_t squareLead = 80;         // General MIDI program 81, "Lead 1 (square)"
constexpr std::int32_t longestTempoMs = 16777;  // a quarter must fit the 24-bit tempo in microseconds

struct Event {
    std::int64_t tick = 0;
    std::uint8_t status = 0;
    std::uint8_t key = 0;
    std::uint8_t value = 0;
};

void put(std::string& out, std::uint32_t value, int bytes) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
        out += static_cast<char>((value >> shift) & 0xFF);
}

void putVarLength(std::string& out, std::uint32_t value) {
    char bytes[5];
    int n = 0;
    do {
        bytes[n++] = static_cast<char>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (n-- > 0) out += static_cast<char>(bytes[n] | (n > 0 ? 0x80 : 0));
}

void putText(std::string& body, std::uint8_t type, const std::string& text) {
    body += '\0';
    put(body, 0xFF00 | type, 2);
    putVarLength(body, static_cast<std::uint32_t>(text.size()));
    body += text;
}

void putTrack(std::string& out, const std::string& body) {
    out += "MTrk";
    put(out, static_cast<std::uint32_t>(body.size()), 4);
    out += body;
}

// Ends a track's body at `endTick`, after its last event at `lastTick`.
void endTrack(std::string& body, std::int64_t lastTick, std::int64_t endTick) {
    putVarLength(body, static_cast<std::uint32_t>(std::max<std::int64_t>(0, endTick - lastTick)));
    body += "\xFF\x2F";
    body += '\0';
}

std::string counterTrack(std::span<const Tone> tones, int counter, std::int64_t endTick) {
    std::vector<Event> events;
    const auto channel = static_cast<std::uint8_t>(counter);
    for (const Tone& tone : tones) {
        const std::int64_t on = tone.startUs / 1000;
        const std::int64_t off = tone.endUs / 1000;
        if (tone.counter != counter || off <= on) continue;
        const auto key = static_cast<std::uint8_t>(nearestKey(tone.count));
        events.push_back({on, static_cast<std::uint8_t>(0x90 | channel), key, velocity});
        events.push_back({off, static_cast<std::uint8_t>(0x80 | channel), key, 0});
    }
    // A note ends before the next one starts on the same tick.
    std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.status < b.status;
    });
    std::string body;
    putText(body, 0x03, "counter " + std::to_string(counter));
    body += '\0';
    body += static_cast<char>(0xC0 | channel);
    body += static_cast<char>(squareLead);
    std::int64_t tick = 0;
    for (const Event& e : events) {
        putVarLength(body, static_cast<std::uint32_t>(e.tick - tick));
        body += static_cast<char>(e.status);
        body += static_cast<char>(e.key);
        body += static_cast<char>(e.value);
        tick = e.tick;
    }
    endTrack(body, tick, endTick);
    return body;
}

}  // namespace

std::string midiFile(std::span<const Tone> tones, std::int64_t endUs, std::int32_t sixtyFourthMs) {
    const std::int32_t quarterMs =
        sixtyFourthMs >= 1 && 16 * sixtyFourthMs <= longestTempoMs ? 16 * sixtyFourthMs : 500;
    const std::int64_t endTick = endUs / 1000;
    bool used[counters] = {};
    for (const Tone& tone : tones) used[tone.counter] = true;
    const int tracks = 1 + static_cast<int>(std::count(used, used + counters, true));

    std::string out = "MThd";
    put(out, 6, 4);
    put(out, 1, 2);  // format 1: tracks played together
    put(out, static_cast<std::uint32_t>(tracks), 2);
    put(out, static_cast<std::uint32_t>(quarterMs), 2);  // ticks a quarter note: one a millisecond

    std::string tempo;
    putText(tempo, 0x03, "tempo");
    tempo += '\0';
    tempo += "\xFF\x51\x03";
    put(tempo, static_cast<std::uint32_t>(quarterMs) * 1000, 3);
    endTrack(tempo, 0, endTick);
    putTrack(out, tempo);
    for (int c = 0; c < counters; ++c) {
        if (used[c]) putTrack(out, counterTrack(tones, c, endTick));
    }
    return out;
}

}  // namespace pitchime::render
