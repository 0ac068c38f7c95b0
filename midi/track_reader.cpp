#include "midi/track_reader.h"

#include <algorithm>

namespace pitchime::midi {
namespace {

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

bool keptController(std::uint8_t number) {
    switch (number) {
        case 6:   // data entry
        case 38:  // data entry, fine
        case 64:  // sustain
        case 98:  // non-registered parameter
        case 99:
        case 100:  // registered parameter
        case 101:
        case 120:  // all sound off
        case 121:  // reset all controllers
        case 123:  // all notes off
            return true;
        default:
            return false;
    }
}

void channelMessage(std::vector<NoteEvent>& events, File& out, std::uint16_t track, std::uint8_t status,
                    const std::uint8_t (&data)[2], std::int64_t tick) {
    const std::uint8_t kind = status & 0xF0;
    const std::uint8_t channel = status & 0x0F;
    if (kind == 0x90 || kind == 0x80) {
        events.push_back(NoteEvent{tick, track, channel, data[0], kind == 0x90 ? data[1] : std::uint8_t{0}});
    } else if (kind == 0xB0) {
        const std::uint8_t number = data[0];
        if (keptController(number))
            out.controllers.push_back(Controller{tick, track, channel, number, data[1]});
        if (number == 120 || number == 123) events.push_back(NoteEvent{tick, track, channel, 0, 0, true});
    } else if (kind == 0xE0) {
        out.bends.push_back(
            PitchBend{tick, track, channel, static_cast<std::uint16_t>(data[1] << 7 | data[0])});
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

bool readTrack(const TrackBytes& bytes, std::uint16_t track, std::int64_t firstTick,
               std::vector<NoteEvent>& events, File& out, std::int64_t& endTick, Error& error) {
    const std::span<const std::uint8_t> smf = bytes.smf;
    std::size_t pos = bytes.begin;
    std::int64_t tick = firstTick;
    std::uint8_t running = 0;
    bool statusNext = false;  // a status byte cut a message short: it starts the next event, no delta
    bool named = false;
    bool ended = false;              // by its end-of-track event
    std::size_t cutAt = smf.size();  // the first byte of an event the file ends inside
    while (pos < std::min(bytes.end, smf.size())) {
        const std::size_t start = pos;
        std::uint32_t delta = 0;
        if (!statusNext) {
            const Read r = readNumber(smf, pos, delta);
            if (r == Read::tooLong)
                return refuse(error, bytes.base + start, "variable-length number longer than 4 bytes");
            if (r == Read::pastFile || pos >= smf.size()) {
                cutAt = start;
                break;
            }
        }
        statusNext = false;
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
            Read r = Read::pastFile;
            if (status != 0xFF || pos < smf.size()) {
                if (status == 0xFF) metaType = smf[pos++];
                r = readNumber(smf, pos, length);
            }
            if (r == Read::tooLong)
                return refuse(error, bytes.base + pos - 4, "variable-length number longer than 4 bytes");
            if (r == Read::pastFile || length > smf.size() - pos) {
                cutAt = start;
                break;
            }
            payload = pos;
            pos += length;
        } else {
            const int want = dataCount(status);
            const int got = readData(smf, pos, want, data);
            if (got < want && pos >= smf.size()) {
                cutAt = start;
                break;
            }
            complete = got == want;
            statusNext = !complete;
            if (status < 0xF0) running = status;
        }
        // An event that passes its chunk's end was never in the track.
        if (pos > bytes.end || (statusNext && pos >= bytes.end)) break;
        tick += delta;

        if (status < 0xF0 && complete) {
            channelMessage(events, out, track, status, data, tick);
        } else if (status == 0xFF) {
            if (metaType == 0x2F) {
                ended = true;
                break;
            }
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
    // The file ends inside the track: in an event, or before the chunk's end.
    if (cutAt < smf.size() || (!ended && bytes.end > smf.size())) {
        out.cutAt = bytes.base + cutAt;
        out.cutTrack = track;
    }
    endTick = tick;
    return true;
}

}  // namespace pitchime::midi
