#include "render/piano_roll.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "board/divisor_table.h"
#include "score/check.h"
#include "score/notes.h"

namespace pitchime::render {

namespace {

constexpr double pxPerSecond = 160;
constexpr std::int64_t systemUs = 10'000'000;
constexpr double rowPx = 12;
constexpr double leftPx = 44;
constexpr double rightPx = 16;
constexpr double headPx = 78;
constexpr double axisPx = 24;  // below each system: the seconds
constexpr double gapPx = 20;   // between systems, with the bar numbers
constexpr double minWidthPx = 600;

constexpr const char* colours[counters] = {"#1f6fb4", "#d0302c", "#2a9a3a"};

void add(std::string& out, const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n > 0) out.append(line, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof line - 1));
}

std::string escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

bool blackKey(int key) { return noteName(key)[1] == '#'; }
// `us` rounded up to whole units, at least one.
std::int64_t wholeUnits(std::int64_t us, std::int64_t unitUs) {
    return std::max<std::int64_t>(1, (us + unitUs - 1) / unitUs) * unitUs;
}
double px(std::int64_t us) { return static_cast<double>(us) * pxPerSecond / 1e6; }

// The stretches of [0, endUs) in which no tone sounds.
std::vector<std::pair<std::int64_t, std::int64_t>> rests(std::span<const Tone> tones, std::int64_t endUs) {
    std::vector<std::pair<std::int64_t, std::int64_t>> out;
    std::int64_t covered = 0;  // tones are by start time
    for (const Tone& tone : tones) {
        if (tone.startUs > covered) out.emplace_back(covered, tone.startUs);
        covered = std::max(covered, tone.endUs);
    }
    if (endUs > covered) out.emplace_back(covered, endUs);
    return out;
}

}  // namespace

std::string pianoRoll(std::span<const Tone> tones, std::int64_t endUs, const RollHeading& heading) {
    std::vector<Tone> notes;  // the tones that have a key
    for (const Tone& tone : tones)
        if (tone.count != countBelowRange) notes.push_back(tone);
    int low = 60, high = 72;
    bool used[counters] = {};
    if (!notes.empty()) {
        low = high = nearestKey(notes.front().count);
        for (const Tone& tone : notes) {
            low = std::min(low, nearestKey(tone.count));
            high = std::max(high, nearestKey(tone.count));
            used[tone.counter] = true;
        }
    }
    low = std::max(0, low - 1);
    high = std::min(127, high + 1);
    bool played[128] = {};
    for (const Tone& tone : notes) played[nearestKey(tone.count)] = true;

    // Systems hold whole bars at a musical tempo, whole seconds otherwise.
    const bool musical = musicalTempo(heading.bpm);
    const std::int32_t sixtyFourthMs = sixtyFourthMsFor(heading.bpm);
    const std::int64_t beatUs = std::int64_t{16} * sixtyFourthMs * 1000;
    const std::int64_t unitUs = musical ? 4 * beatUs : 1'000'000;
    const std::int64_t perSystemUs = std::max<std::int64_t>(1, systemUs / unitUs) * unitUs;
    const std::int64_t systems = std::max<std::int64_t>(1, (endUs + perSystemUs - 1) / perSystemUs);
    const std::int64_t spanUs = systems > 1 ? perSystemUs : wholeUnits(endUs, unitUs);
    const double plotW = px(spanUs);
    const double plotH = (high - low + 1) * rowPx;
    const double width = std::max(minWidthPx, leftPx + plotW + rightPx);  // room for the legend
    const double height = headPx + static_cast<double>(systems) * (plotH + axisPx + gapPx);

    std::string svg;
    add(svg,
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" viewBox=\"0 0 %.0f %.0f\" "
        "font-family=\"sans-serif\" font-size=\"10\">\n",
        width, height, width, height);
    svg +=
        "<style>.note{stroke-width:.6;stroke:#222;stroke-opacity:.6}.rest{fill:#f3e6c4}.black{fill:#eef0f3}"
        ".grid{stroke:#c8c8c8;stroke-width:.5}.cline{stroke:#8c8c8c;stroke-width:.8}.key{text-anchor:end;"
        "font-size:9px}.beat{stroke:#d4d4d4;stroke-width:.5}.bar{stroke:#7a7a7a;stroke-width:.9}"
        ".barno{font-size:9px;fill:#555}.time{text-anchor:middle}";
    for (int c = 0; c < counters; ++c) add(svg, ".c%d{fill:%s}", c, colours[c]);
    svg += "</style>\n<rect width=\"100%\" height=\"100%\" fill=\"#fff\"/>\n";
    add(svg,
        "<text x=\"%.0f\" y=\"16\" font-size=\"13\"><tspan font-weight=\"bold\">%s</tspan>, played by "
        "%s</text>\n",
        leftPx, escaped(heading.tune).c_str(), escaped(heading.program).c_str());

    // The legend.
    double x = leftPx;
    for (int c = 0; c < counters; ++c) {
        if (!used[c]) continue;
        add(svg, "<rect x=\"%.0f\" y=\"26\" width=\"18\" height=\"8\" class=\"c%d\"/>", x, c);
        add(svg, "<text x=\"%.0f\" y=\"34\">counter %d</text>\n", x + 22, c);
        x += 90;
    }
    add(svg, "<rect x=\"%.0f\" y=\"24\" width=\"18\" height=\"12\" class=\"rest\"/>", x);
    add(svg, "<text x=\"%.0f\" y=\"34\">rest: no counter sounds a note</text>\n", x + 22);
    if (musical) {
        add(svg,
            "<text x=\"%.0f\" y=\"50\">%d BPM, %.1f as played: a beat (quarter note) of %lld ms; bars of 4 "
            "beats, numbered above</text>\n",
            leftPx, static_cast<int>(heading.bpm), 6e7 / static_cast<double>(beatUs),
            static_cast<long long>(beatUs / 1000));
    } else {
        add(svg, "<text x=\"%.0f\" y=\"50\">time in seconds across</text>\n", leftPx);
    }
    add(svg, "<text x=\"%.0f\" y=\"62\">pitch up by MIDI key; C4 = key 60 (middle C), A4 = 440 Hz</text>\n",
        leftPx);

    const std::vector<std::pair<std::int64_t, std::int64_t>> silent = rests(notes, endUs);
    for (std::int64_t s = 0; s < systems; ++s) {
        const std::int64_t from = s * spanUs;
        const std::int64_t to = std::min(endUs, from + spanUs);
        const double top = headPx + static_cast<double>(s) * (plotH + axisPx + gapPx);
        // The last system goes on to the whole bar or second after the end.
        const std::int64_t shownUs = std::min(spanUs, wholeUnits(endUs - from, unitUs));
        const double shownW = px(shownUs);
        add(svg, "<g transform=\"translate(%.0f,%.0f)\">\n", leftPx, top);
        for (int key = high; key >= low; --key) {
            const double y = (high - key) * rowPx;
            if (blackKey(key))
                add(svg, "<rect y=\"%.0f\" width=\"%.1f\" height=\"%.0f\" class=\"black\"/>\n", y, shownW,
                    rowPx);
            if (key % 12 == 0)
                add(svg, "<line y1=\"%.0f\" x2=\"%.1f\" y2=\"%.0f\" class=\"cline\"/>\n", y + rowPx, shownW,
                    y + rowPx);
            if (key % 12 == 0 || played[key]) {
                add(svg, "<text x=\"-4\" y=\"%.1f\" class=\"key\"%s>%s</text>\n", y + rowPx - 1.5,
                    key % 12 == 0 ? " font-weight=\"bold\"" : "", noteName(key).c_str());
            }
        }
        for (const auto& [restFrom, restTo] : silent) {
            const std::int64_t a = std::max(restFrom, from), b = std::min(restTo, to);
            if (a < b)
                add(svg, "<rect x=\"%.1f\" width=\"%.1f\" height=\"%.0f\" class=\"rest\"/>\n", px(a - from),
                    px(b - a), plotH);
        }
        // A system starts on a bar: every fourth beat is a bar line.
        for (std::int64_t us = 0; musical && us <= shownUs; us += beatUs) {
            const bool bar = us % unitUs == 0;
            add(svg, "<line x1=\"%.1f\" x2=\"%.1f\" y2=\"%.0f\" class=\"%s\"/>", px(us), px(us), plotH,
                bar ? "bar" : "beat");
            if (bar && us < shownUs)
                add(svg, "<text x=\"%.1f\" y=\"-4\" class=\"barno\">%lld</text>", px(us) + 2,
                    static_cast<long long>((from + us) / unitUs + 1));
            svg += '\n';
        }
        // Seconds: lines across the roll, or below it as ticks between the beats.
        const std::int64_t firstUs = (from + 999'999) / 1'000'000 * 1'000'000 - from;
        for (std::int64_t us = firstUs; us <= shownUs; us += 1'000'000) {
            add(svg, "<line x1=\"%.1f\" y1=\"%.0f\" x2=\"%.1f\" y2=\"%.0f\" class=\"grid\"/>", px(us),
                musical ? plotH : 0.0, px(us), plotH + 4);
            add(svg, "<text x=\"%.1f\" y=\"%.0f\" class=\"time\">%lld s</text>\n", px(us), plotH + 15,
                static_cast<long long>((from + us) / 1'000'000));
        }
        for (const Tone& tone : notes) {
            const std::int64_t a = std::max(tone.startUs, from), b = std::min(tone.endUs, to);
            if (a >= b) continue;
            add(svg, "<rect x=\"%.2f\" y=\"%.0f\" width=\"%.2f\" height=\"%.0f\" class=\"note c%d\"/>\n",
                px(a - from), (high - nearestKey(tone.count)) * rowPx + 1, std::max(1.0, px(b - a)),
                rowPx - 2, tone.counter);
        }
        add(svg, "<rect width=\"%.1f\" height=\"%.0f\" fill=\"none\" stroke=\"#666\"/>\n</g>\n", shownW,
            plotH);
    }
    svg += "</svg>\n";
    return svg;
}

std::string tuneName(std::string_view scorePath) {
    std::string_view name = scorePath.substr(scorePath.find_last_of("/\\") + 1);
    if (const std::size_t dot = name.rfind('.'); dot != 0 && dot != std::string_view::npos)
        name = name.substr(0, dot);
    std::string tune(name);
    std::replace(tune.begin(), tune.end(), '-', ' ');
    std::replace(tune.begin(), tune.end(), '_', ' ');
    if (!tune.empty() && tune[0] >= 'a' && tune[0] <= 'z') tune[0] = static_cast<char>(tune[0] - 'a' + 'A');
    return tune;
}

}  // namespace pitchime::render
