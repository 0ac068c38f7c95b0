#include "live/file_events.h"

#include <algorithm>

#include "platform/platform.h"

namespace pitchime::live {

namespace {

// The order of messages at one time (see the header).
enum Order : std::uint8_t { noteOff, control, noteOn, emptyNoteOff };

struct Sortable {
    std::int64_t tick = 0;
    Order order = control;
    std::size_t index = 0;  // the file's order within one kind
    FileEvent event;
};

midiin::Message message(std::uint8_t status, std::uint8_t first, std::uint8_t second) {
    return midiin::Message{0, {status, first, second}, 3};
}

}  // namespace

std::vector<FileEvent> fileEvents(const midi::File& file, const voicing::Melody& melody) {
    std::vector<Sortable> all;
    all.reserve(2 * file.notes.size() + file.controllers.size() + file.bends.size());
    for (std::size_t i = 0; i < file.notes.size(); ++i) {
        const midi::Note& n = file.notes[i];
        const bool isMelody = voicing::inMelody(melody, n.track, n.channel);
        const auto channel = static_cast<std::uint8_t>(n.channel & 0x0F);
        all.push_back({n.startTick, noteOn, i, {message(0x90 | channel, n.key, n.velocity), isMelody}});
        all.push_back({n.endTick,
                       n.endTick > n.startTick ? noteOff : emptyNoteOff,
                       i,
                       {message(0x80 | channel, n.key, 0), isMelody}});
    }
    // Controllers and bends keep the file's order among themselves: the
    // reader sorts both by tick, then file order, and the bends of one
    // tick come after its controllers (a bend range set before the bend).
    std::size_t index = 0;
    for (const midi::Controller& c : file.controllers)
        all.push_back(
            {c.tick, control, index++, {message(0xB0 | (c.channel & 0x0F), c.number, c.value), false}});
    for (const midi::PitchBend& b : file.bends)
        all.push_back({b.tick,
                       control,
                       index++,
                       {message(0xE0 | (b.channel & 0x0F), static_cast<std::uint8_t>(b.value & 0x7F),
                                static_cast<std::uint8_t>(b.value >> 7 & 0x7F)),
                        false}});
    std::stable_sort(all.begin(), all.end(), [](const Sortable& a, const Sortable& b) {
        if (a.tick != b.tick) return a.tick < b.tick;
        if (a.order != b.order) return a.order < b.order;
        return a.index < b.index;
    });
    std::vector<FileEvent> events;
    events.reserve(all.size());
    for (Sortable& s : all) {
        s.event.message.us = midi::tickToUs(file, s.tick);
        events.push_back(s.event);
    }
    return events;
}

void feedFile(Runner& runner, const std::vector<FileEvent>& events, std::int64_t originUs) {
    for (const FileEvent& e : events) {
        const std::int64_t due = originUs + e.message.us;
        platform::sleepUntilUs(due - fileLeadUs);
        Incoming incoming{e.message, e.melody};
        incoming.message.us = due;
        // A full queue (a thousand messages within fileLeadUs) empties as
        // they come due.
        while (!post(runner, incoming)) platform::sleepMs(5);
    }
    if (!events.empty()) platform::sleepUntilUs(originUs + events.back().message.us);
}

}  // namespace pitchime::live
