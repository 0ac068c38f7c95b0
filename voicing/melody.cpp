#include "voicing/melody.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string_view>
#include <utility>
#include <vector>

namespace pitchime::voicing {

namespace {

constexpr int percussionChannel = 9;
// Notes overlapping by less than this are still one line (legato).
constexpr std::int64_t legatoUs = 40000;
// Fewer notes than this are a flourish, not a tune. A part found by its
// notes has at least 2/5 of them on top and 2/5 one at a time.
constexpr std::size_t fewestNotes = 8;

// Words that name the tune itself, then words that name the part that
// carries it; each matches a word that starts with it, those of wholeWords
// only the whole word.
constexpr std::string_view tuneWords[] = {"melod",
                                          "m\xc3\xa9lod",
                                          "\xd0\xbc\xd0\xb5\xd0\xbb\xd0\xbe\xd0\xb4",
                                          "vocal",
                                          "voice",
                                          "vox",
                                          "voz",
                                          "voce",
                                          "gesang",
                                          "sing",
                                          "singer",
                                          "canto",
                                          "chant",
                                          "lyric",
                                          "lied",
                                          "tune",
                                          "\xe3\x83\xa1\xe3\x83\xad\xe3\x83\x87\xe3\x82\xa3"};
constexpr std::string_view leadWords[] = {"lead",  "solo", "theme", "thema",  "tema",
                                          "right", "rh",   "haupt", "sopran", "primo"};
// Words that say the part is not the tune: these win over the others.
constexpr std::string_view otherWords[] = {"left",    "lh",   "bass",   "base",  "bajo", "acc",
                                           "accomp",  "comp", "chord",  "pad",   "drum", "harm",
                                           "backing", "arp",  "rhythm", "rythm", "perc"};

// These match only as whole words: as the start of a longer one they
// would say something else (single, basement).
constexpr std::string_view wholeWords[] = {"rh",   "lh",  "vox", "voz",  "voce", "lied",
                                           "tema", "acc", "pad", "sing", "base", "comp"};

bool wordMatches(std::string_view word, std::string_view key) {
    if (std::find(std::begin(wholeWords), std::end(wholeWords), key) != std::end(wholeWords))
        return word == key;
    return word.substr(0, key.size()) == key;
}

// 2: the name says tune, 1: it says lead part, 0: neither, -1: it says
// another part.
int nameStrength(std::string_view name) {
    std::vector<std::string> words(1);
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x80 || (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z')) {
            words.back() += c;
        } else if (u >= 'A' && u <= 'Z') {
            words.back() += static_cast<char>(u - 'A' + 'a');
        } else if (!words.back().empty()) {
            words.emplace_back();
        }
    }
    int strength = 0;
    for (const std::string& w : words) {
        if (w.empty()) continue;
        for (std::string_view k : otherWords)
            if (wordMatches(w, k)) return -1;
        for (std::string_view k : tuneWords)
            if (wordMatches(w, k)) strength = 2;
        for (std::string_view k : leadWords)
            if (wordMatches(w, k)) strength = std::max(strength, 1);
    }
    return strength;
}

struct Part {
    std::size_t notes = 0;
    std::size_t alone = 0;  // started with no other note of the part sounding
    std::size_t top = 0;    // started with no higher note of any part sounding
    std::int64_t lastEnd = -1;
    std::int64_t lastStart = -1;
};

std::string percent(std::size_t part, std::size_t whole) {
    return std::to_string(whole == 0 ? 0 : (100 * part + whole / 2) / whole) + "%";
}

}  // namespace

Melody findMelody(const midi::File& file, const PartFilter& considered) {
    const auto counts = [&](int track, int channel) {
        return channel != percussionChannel && (!considered || considered(track, channel));
    };
    std::map<std::pair<int, int>, Part> parts;
    std::vector<std::size_t> perTrack(static_cast<std::size_t>(std::max(file.trackCount, 0)));
    struct Timed {
        std::int64_t start = 0;
        std::int64_t end = 0;
        Part* part = nullptr;
        std::uint8_t key = 0;
    };
    std::vector<Timed> notes;
    // Tracks whose names say they hold another part are never the tune.
    std::vector<bool> otherPart(perTrack.size());
    for (std::size_t t = 0; t < otherPart.size() && t < file.trackNames.size(); ++t)
        otherPart[t] = nameStrength(file.trackNames[t]) < 0;
    for (const midi::Note& n : file.notes) {
        if (!counts(n.track, n.channel)) continue;
        Part& p = parts[{n.track, n.channel}];
        ++p.notes;
        if (n.track < perTrack.size()) ++perTrack[n.track];
        notes.push_back({midi::tickToUs(file, n.startTick), midi::tickToUs(file, n.endTick), &p, n.key});
    }

    // A track named for the tune, the strongest name first, then the first
    // in the file. A name that several tracks share is the title.
    int bestTrack = -1;
    int bestStrength = 0;
    for (int t = 0; t < static_cast<int>(perTrack.size()); ++t) {
        if (perTrack[t] < fewestNotes || static_cast<std::size_t>(t) >= file.trackNames.size()) continue;
        const std::string& name = file.trackNames[t];
        if (std::count(file.trackNames.begin(), file.trackNames.end(), name) > 1) continue;
        const int strength = nameStrength(name);
        if (strength > bestStrength) {
            bestStrength = strength;
            bestTrack = t;
        }
    }
    if (bestTrack >= 0) {
        return {bestTrack, -1,
                "track " + std::to_string(bestTrack + 1) + " \"" + file.trackNames[bestTrack] +
                    "\", named for the tune"};
    }

    // Otherwise by what the notes do: in time order, whether each note
    // starts with another of its part still sounding, and whether any
    // higher note of any part sounds at its start.
    std::array<std::int64_t, 128> soundingUntil{};
    soundingUntil.fill(-1);
    for (std::size_t i = 0; i < notes.size();) {
        std::size_t j = i;
        while (j < notes.size() && notes[j].start == notes[i].start) ++j;
        const std::int64_t at = notes[i].start;
        for (std::size_t k = i; k < j; ++k) {
            soundingUntil[notes[k].key] = std::max(soundingUntil[notes[k].key], notes[k].end);
        }
        for (std::size_t k = i; k < j; ++k) {
            Timed& n = notes[k];
            bool higher = false;
            for (int key = n.key + 1; key < 128 && !higher; ++key)
                higher = soundingUntil[key] > at + legatoUs;
            if (!higher) ++n.part->top;
            const bool chord = n.part->lastStart == at;
            if (!chord && n.part->lastEnd <= at + legatoUs) ++n.part->alone;
            n.part->lastStart = at;
            n.part->lastEnd = std::max(n.part->lastEnd, n.end);
        }
        i = j;
    }
    const std::pair<int, int>* best = nullptr;
    double bestScore = 0;
    for (const auto& [key, p] : parts) {
        // A part mostly under others, or mostly chords, is no tune.
        if (static_cast<std::size_t>(key.first) < otherPart.size() && otherPart[key.first]) continue;
        if (p.notes < fewestNotes || 5 * p.top < 2 * p.notes || 5 * p.alone < 2 * p.notes) continue;
        const double oneLine = static_cast<double>(p.alone) / static_cast<double>(p.notes);
        const double score = static_cast<double>(p.top) * (0.25 + 0.75 * oneLine);
        if (score > bestScore) {
            bestScore = score;
            best = &key;
        }
    }
    if (best == nullptr) return {};
    const Part& p = parts[*best];
    return {best->first, best->second,
            "track " + std::to_string(best->first + 1) + " channel " + std::to_string(best->second + 1) +
                ", the line on top: " + percent(p.top, p.notes) + " of its " + std::to_string(p.notes) +
                " notes above every other part, " + percent(p.alone, p.notes) + " one at a time"};
}

}  // namespace pitchime::voicing
