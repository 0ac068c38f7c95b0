#include "midi/midi_file.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "midi/track_reader.h"

namespace pitchime::midi {
namespace {

constexpr std::int64_t maxUs = std::numeric_limits<std::int64_t>::max();

std::uint32_t bigEndian32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

std::uint32_t littleEndian32(const std::uint8_t* p) {
    return std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0];
}

bool isTag(std::span<const std::uint8_t> bytes, std::size_t at, const char* tag) {
    return bytes.size() >= at + 4 && std::memcmp(bytes.data() + at, tag, 4) == 0;
}

bool refuse(Error& error, std::size_t offset, std::string what) {
    error = Error{offset, std::move(what)};
    return false;
}

// The contents of a RIFF RMID file's "data" chunk: [begin, end).
bool findRiffData(std::span<const std::uint8_t> bytes, std::size_t& begin, std::size_t& end, Error& error) {
    std::size_t at = 12;
    while (bytes.size() - at >= 8) {
        const std::uint32_t size = littleEndian32(bytes.data() + at + 4);
        if (isTag(bytes, at, "data")) {
            // A file cut short holds less than the chunk: the SMF reader
            // finds where.
            begin = at + 8;
            end = begin + std::min<std::size_t>(size, bytes.size() - begin);
            return true;
        }
        // Chunks are padded to an even size.
        const std::uint64_t next = at + 8 + std::uint64_t{size} + (size & 1);
        if (next > bytes.size()) break;
        at = static_cast<std::size_t>(next);
    }
    return refuse(error, 0, "not a MIDI file: no data chunk in the RIFF file");
}

// The Standard MIDI File `smf`, found at `base` in the file.
bool readSmf(std::span<const std::uint8_t> smf, std::size_t base, File& out, Error& error) {
    if (!isTag(smf, 0, "MThd") || smf.size() < 8)
        return refuse(error, base, "not a MIDI file: no MThd chunk");
    const std::uint32_t headerSize = bigEndian32(smf.data() + 4);
    if (headerSize > smf.size() - 8) return refuse(error, base, "header chunk runs past the end of the file");
    if (headerSize < 6) return refuse(error, base + 4, "header chunk shorter than 6 bytes");
    const int format = smf[8] << 8 | smf[9];
    const int trackCount = smf[10] << 8 | smf[11];
    const std::uint8_t high = smf[12];
    const std::uint8_t low = smf[13];
    if (format > 2) return refuse(error, base + 8, "format " + std::to_string(format) + " is not 0, 1 or 2");
    out.format = format;
    if (high >= 0x80) {
        const int fps = 256 - high;
        if (fps != 24 && fps != 25 && fps != 29 && fps != 30)
            return refuse(error, base + 12,
                          "SMPTE division of " + std::to_string(fps) + " frames per second");
        if (low == 0) return refuse(error, base + 13, "division of 0 ticks per frame");
        out.smpteFramesPerSecond = fps;
        out.ticksPerFrame = low;
    } else {
        out.ticksPerQuarter = static_cast<std::uint16_t>(high << 8 | low);
        if (out.ticksPerQuarter == 0) return refuse(error, base + 12, "division of 0");
    }

    std::vector<NoteEvent> events;
    std::vector<std::int64_t> trackEnds;
    std::int64_t tick = 0;  // where the next track starts (format 2 only)
    std::size_t at = 8 + headerSize;
    while (out.trackCount < trackCount && at < smf.size() && out.cutTrack < 0) {
        if (smf.size() - at < 8) {
            // The file ends in the header of what may be the next track.
            if (std::memcmp(smf.data() + at, "MTrk", std::min<std::size_t>(4, smf.size() - at)) != 0)
                return refuse(error, base + at, "chunk header runs past the end of the file");
            out.cutAt = base + at;
            out.cutTrack = out.trackCount;
            break;
        }
        const std::uint32_t size = bigEndian32(smf.data() + at + 4);
        if (!isTag(smf, at, "MTrk")) {
            if (size > smf.size() - at - 8)
                return refuse(error, base + at, "chunk runs past the end of the file");
        } else {
            const auto track = static_cast<std::uint16_t>(out.trackCount++);
            out.trackNames.emplace_back();
            std::int64_t trackEnd = 0;
            if (!readTrack(TrackBytes{smf, at + 8, at + 8 + std::size_t{size}, base}, track,
                           format == 2 ? tick : 0, events, out, trackEnd, error))
                return false;
            trackEnds.push_back(trackEnd);
            out.endTick = std::max(out.endTick, trackEnd);
            if (format == 2) tick = trackEnd;
        }
        at += 8 + std::size_t{size};
    }
    pairNotes(events, trackEnds, out);
    return true;
}

// Adds ticks * num / den microseconds to `at`, whose fraction counts
// 1/den microseconds, saturating at the largest int64.
void advance(TempoTime& at, std::int64_t ticks, std::int64_t num, std::int64_t den) {
    if (ticks <= 0) return;
    const std::int64_t whole = ticks / den;
    if (num > 0 && whole > (maxUs - at.us) / num) {
        at.us = maxUs;
        return;
    }
    at.us += whole * num;
    const std::int64_t part = (ticks % den) * num + at.fraction;  // below 2^16 * 2^24 * 2
    at.fraction = part % den;
    at.us = part / den > maxUs - at.us ? maxUs : at.us + part / den;
}

void computeTempoTimes(File& file) {
    file.tempoTimes.clear();
    if (file.ticksPerQuarter == 0) return;
    TempoTime at;
    std::int64_t tick = 0;
    std::int64_t usPerQuarter = 500000;
    for (const Tempo& t : file.tempos) {
        advance(at, t.tick - tick, usPerQuarter, file.ticksPerQuarter);
        file.tempoTimes.push_back(at);
        tick = t.tick;
        usPerQuarter = t.usPerQuarter;
    }
}

}  // namespace

bool readFile(std::span<const std::uint8_t> bytes, File& out, Error& error) {
    out = File{};
    std::size_t begin = 0;
    std::size_t end = bytes.size();
    if (isTag(bytes, 0, "RIFF") && isTag(bytes, 8, "RMID") && !findRiffData(bytes, begin, end, error))
        return false;
    if (!readSmf(bytes.subspan(begin, end - begin), begin, out, error)) return false;

    std::stable_sort(out.controllers.begin(), out.controllers.end(),
                     [](const Controller& a, const Controller& b) { return a.tick < b.tick; });
    std::stable_sort(out.bends.begin(), out.bends.end(),
                     [](const PitchBend& a, const PitchBend& b) { return a.tick < b.tick; });
    std::stable_sort(out.tempos.begin(), out.tempos.end(),
                     [](const Tempo& a, const Tempo& b) { return a.tick < b.tick; });
    computeTempoTimes(out);
    return true;
}

std::int64_t tickToUs(const File& file, std::int64_t tick) {
    tick = std::max<std::int64_t>(tick, 0);
    TempoTime at;
    if (file.smpteFramesPerSecond != 0) {
        // 29 stands for 29.97 frames per second: 30000 / 1001.
        const std::int64_t ticksPerFrame = std::max(file.ticksPerFrame, 1);
        if (file.smpteFramesPerSecond == 29) {
            advance(at, tick, 100100, 3 * ticksPerFrame);
        } else {
            advance(at, tick, 1000000, file.smpteFramesPerSecond * ticksPerFrame);
        }
        return at.us;
    }
    if (file.ticksPerQuarter == 0) return 0;

    // The last tempo change at or before `tick`, and where it falls.
    std::int64_t from = 0;
    std::int64_t usPerQuarter = 500000;
    const auto after = std::upper_bound(file.tempos.begin(), file.tempos.end(), tick,
                                        [](std::int64_t t, const Tempo& tempo) { return t < tempo.tick; });
    if (file.tempoTimes.size() == file.tempos.size()) {
        if (after != file.tempos.begin()) {
            const auto i = static_cast<std::size_t>(after - file.tempos.begin() - 1);
            at = file.tempoTimes[i];
            from = file.tempos[i].tick;
            usPerQuarter = file.tempos[i].usPerQuarter;
        }
    } else {
        for (auto t = file.tempos.begin(); t != after; ++t) {
            advance(at, t->tick - from, usPerQuarter, file.ticksPerQuarter);
            from = t->tick;
            usPerQuarter = t->usPerQuarter;
        }
    }
    advance(at, tick - from, usPerQuarter, file.ticksPerQuarter);
    return at.us;
}

}  // namespace pitchime::midi
