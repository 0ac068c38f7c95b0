#include "midi/track_reader.h"

#include <utility>

namespace pitchime::midi {
namespace {

constexpr std::int64_t stillSounding = -1;

// What reading one part of an event gave.
enum class Read { ok, tooLong, pastFile };

// A variable-length number at `pos` (moved past it), of at most 4 bytes.
Read readNumber(std::span<const std::uint8_t> smf, std::size_t& pos, std::uint32_t& value) {
    value = 0;
    for (int i = 0; i < 4; ++i) {
        if (pos >= smf.size()) return Read::pastFile;
        const std::uint8_t b = smf[pos++];
        value = (value << 7) | (b & 0x7F);
        if (b < 0x80) return Read::ok;
    }
    return Read::tooLong;
}

// Up to `count` data bytes at `pos`; stops early, before a status byte.
// Returns how many it read.
int readData(std::span<const std::uint8_t> smf, std::size_t& pos, int count, std::uint8_t (&data)[2]) {
    int n = 0;
    while (n < count && pos < smf.size() && smf[pos] < 0x80) data[n++] = smf[pos++];
    return n;
}

std::int32_t slotOf(std::uint8_t channel, std::uint8_t key) { return channel * 128 + key; }

void claim(Pairing& p, std::int32_t slot, std::uint32_t owner) {
    if (p.owner[slot] == owner) return;
    p.owner[slot] = owner;
    p.head[slot] = p.tail[slot] = -1;
}

void noteOn(Pairing& p, File& out, const Note& note) {
    const auto index = static_cast<std::int32_t>(out.notes.size());
    out.notes.push_back(note);
    p.next.push_back(-1);
    const std::int32_t slot = slotOf(note.channel, note.key);
    claim(p, slot, note.track + 1u);
    if (p.tail[slot] < 0) {
        p.head[slot] = index;
    } else {
        p.next[p.tail[slot]] = index;
    }
    p.tail[slot] = index;
    ++p.sounding[note.channel];
}

// Ends the oldest sounding note of `slot` at `tick`.
void endOldest(Pairing& p, File& out, std::int32_t slot, std::int64_t tick) {
    const std::int32_t index = p.head[slot];
    Note& note = out.notes[index];
    note.endTick = tick;
    --p.sounding[note.channel];
    p.head[slot] = p.next[index];
    if (p.head[slot] < 0) p.tail[slot] = -1;
}

void noteOff(Pairing& p, File& out, std::uint16_t track, std::uint8_t channel, std::uint8_t key,
             std::int64_t tick) {
    const std::int32_t slot = slotOf(channel, key);
    claim(p, slot, track + 1u);
    if (p.head[slot] >= 0) endOldest(p, out, slot, tick);
}

// All sound off, all notes off: the channel's notes from before `tick` end.
void endChannel(Pairing& p, File& out, std::uint16_t track, std::uint8_t channel, std::int64_t tick) {
    for (std::uint8_t key = 0; key < 128 && p.sounding[channel] > 0; ++key) {
        const std::int32_t slot = slotOf(channel, key);
        claim(p, slot, track + 1u);
        while (p.head[slot] >= 0 && out.notes[p.head[slot]].startTick < tick) endOldest(p, out, slot, tick);
    }
}

void channelMessage(Pairing& p, File& out, std::uint16_t track, std::uint8_t status,
                    const std::uint8_t (&data)[2], std::int64_t tick) {
    const std::uint8_t kind = status & 0xF0;
    const std::uint8_t channel = status & 0x0F;
    if (kind == 0x90 && data[1] > 0) {
        noteOn(p, out, Note{tick, stillSounding, track, channel, data[0], data[1]});
    } else if (kind == 0x80 || kind == 0x90) {
        noteOff(p, out, track, channel, data[0], tick);
    } else if (kind == 0xB0) {
        const std::uint8_t number = data[0];
        if (number == 64 || number == 120 || number == 121 || number == 123)
            out.controllers.push_back(Controller{tick, track, channel, number, data[1]});
        if (number == 120 || number == 123) endChannel(p, out, track, channel, tick);
    }
}

// Data bytes after a status byte: channel messages by their kind, system
// common messages by theirs, real-time bytes none.
int dataCount(std::uint8_t status) {
    if (status < 0xF0) return (status & 0xE0) == 0xC0 ? 1 : 2;
    if (status == 0xF2) return 2;
    return status == 0xF1 || status == 0xF3 ? 1 : 0;
}

bool refuse(Error& error, std::size_t offset, const char* what) {
    error = Error{offset, what};
    return false;
}

}  // namespace

bool readTrack(const TrackBytes& bytes, std::uint16_t track, std::int64_t firstTick, Pairing& p, File& out,
               std::int64_t& endTick, Error& error) {
    const std::span<const std::uint8_t> smf = bytes.smf;
    const std::size_t firstNote = out.notes.size();
    std::size_t pos = bytes.begin;
    std::int64_t tick = firstTick;
    std::uint8_t running = 0;
    bool statusNext = false;  // a status byte cut a message short: it starts the next event, no delta
    bool named = false;
    while (pos < bytes.end) {
        const std::size_t start = pos;
        std::uint32_t delta = 0;
        if (!statusNext) {
            const Read r = readNumber(smf, pos, delta);
            if (r == Read::tooLong)
                return refuse(error, bytes.base + start, "variable-length number longer than 4 bytes");
            if (r == Read::pastFile || pos >= smf.size())
                return refuse(error, bytes.base + start, "event runs past the end of the file");
        }
        statusNext = false;
        const std::size_t statusAt = pos;
        std::uint8_t status = smf[pos];
        if (status >= 0x80) {
            ++pos;
        } else if (running != 0) {
            status = running;
        } else {
            return refuse(error, bytes.base + pos, "data byte with no running status");
        }

        std::size_t payload = pos;
        std::uint32_t length = 0;
        std::uint8_t metaType = 0;
        std::uint8_t data[2] = {0, 0};
        bool complete = true;
        if (status == 0xF0 || status == 0xF7 || status == 0xFF) {
            if (status == 0xFF) {
                if (pos >= smf.size())
                    return refuse(error, bytes.base + statusAt, "event runs past the end of the file");
                metaType = smf[pos++];
            }
            const Read r = readNumber(smf, pos, length);
            if (r == Read::tooLong)
                return refuse(error, bytes.base + pos - 4, "variable-length number longer than 4 bytes");
            if (r == Read::pastFile || length > smf.size() - pos)
                return refuse(error, bytes.base + statusAt, "event runs past the end of the file");
            payload = pos;
            pos += length;
        } else {
            const int want = dataCount(status);
            const int got = readData(smf, pos, want, data);
            if (got < want && pos >= smf.size())
                return refuse(error, bytes.base + statusAt, "event runs past the end of the file");
            complete = got == want;
            statusNext = !complete;
            if (status < 0xF0) running = status;
        }
        // An event that passes its chunk's end was never in the track.
        if (pos > bytes.end || (statusNext && pos >= bytes.end)) break;
        tick += delta;

        if (status < 0xF0 && complete) {
            channelMessage(p, out, track, status, data, tick);
        } else if (status == 0xFF) {
            if (metaType == 0x2F) break;
            if (metaType == 0x51 && length == 3) {
                const std::uint32_t us = smf[payload] << 16 | smf[payload + 1] << 8 | smf[payload + 2];
                if (us == 0) return refuse(error, bytes.base + payload, "tempo of 0");
                out.tempos.push_back(Tempo{tick, us});
            } else if (metaType == 0x03 && !named) {
                out.trackNames.back().assign(smf.begin() + payload, smf.begin() + payload + length);
                named = true;
            }
        }
    }

    // What still sounds ends with the track.
    for (std::size_t i = firstNote; i < out.notes.size(); ++i) {
        if (out.notes[i].endTick == stillSounding) out.notes[i].endTick = tick;
    }
    p.sounding.fill(0);
    endTick = tick;
    return true;
}

}  // namespace pitchime::midi
