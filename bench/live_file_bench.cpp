// How close to its time in a MIDI file the live player writes each note:
// the file's messages played in real time as pitchime-live plays them
// (live::fileEvents, live::feedFile, the playing thread, the board the
// players link), and for every note-on that wrote a count, the time from
// the note's time in the file to the device write that carried it.
//
// For each file, idle and then with a core kept busy by a spinning thread,
// it prints the notes measured and the median, 99th percentile and largest
// lateness in ms, and the CPU time the playing thread took; then the same
// for the notes of every file together, and the share within 1 ms. The files are
// the arguments; without any, every .mid of ../shared/midi-corpus (beside
// the source tree) when it is there, else docs/scores/hot-cross-buns.mid.
// Each file plays for at most SECONDS (default 20).
//
//   build/test/bench/live_file_bench [--seconds N] [FILE.mid...]
#include <pthread.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/live_stats.h"
#include "board/board_port.h"
#include "console/console.h"
#include "live/file_events.h"
#include "live/runner.h"
#include "midi/midi_file.h"
#include "platform/platform.h"

using namespace pitchime;

namespace {

using bench::percentile;
using bench::threadCpuUs;

// Every file's notes, idle and busy, for the summary.
std::vector<double> allLate[2];

void print(const char* name, bool busy, const std::vector<double>& late) {
    std::printf("%-40s %-4s %6zu notes  median %.3f  p99 %.3f  max %.3f ms", name, busy ? "busy" : "idle",
                late.size(), percentile(late, 0.5), percentile(late, 0.99), percentile(late, 1.0));
}

void pass(const std::string& name, bool busy, const std::vector<live::FileEvent>& events) {
    std::atomic<bool> spinning{busy};
    std::thread spinner;
    if (busy)
        spinner = std::thread([&spinning] {
            while (spinning.load(std::memory_order_relaxed)) {
            }
        });
    BoardPort port;
    board::open(port);
    board::configure(port);
    auto runner = std::make_unique<live::Runner>();
    live::start(*runner, port, {});
    std::vector<double> late;
    std::thread reader([&runner, &late] {
        live::Played p;
        while (live::nextPlayed(*runner, p)) {
            const bool noteOn =
                p.message.size == 3 && (p.message.bytes[0] & 0xF0) == 0x90 && p.message.bytes[2] > 0;
            const bool counted = std::any_of(p.writes.items.begin(), p.writes.items.begin() + p.writes.count,
                                             [](const live::Write& w) { return w.address < 3; });
            if (noteOn && counted) late.push_back((p.writtenUs - p.message.us) / 1000.0);
        }
    });
    const std::int64_t cpuBefore = threadCpuUs(runner->thread);
    live::feedFile(*runner, events, platform::nowUs() + 100000);
    const std::int64_t cpu = threadCpuUs(runner->thread) - cpuBefore;
    const long long dropped = runner->inbox.dropped.load();
    live::stop(*runner);
    reader.join();
    board::restAndClose(port);
    spinning = false;
    if (spinner.joinable()) spinner.join();
    const double seconds = events.empty() ? 0 : events.back().message.us / 1e6;
    print(name.c_str(), busy, late);
    std::printf("  cpu %lld us in %.0f s%s\n", static_cast<long long>(cpu), seconds,
                dropped > 0 ? "  (queue full at times)" : "");
    allLate[busy].insert(allLate[busy].end(), late.begin(), late.end());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 20;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--seconds" && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else
            files.push_back(argv[i]);
    }
    namespace fs = std::filesystem;
    const fs::path corpus = fs::path(PITCHIME_SOURCE_DIR) / ".." / "shared" / "midi-corpus";
    std::error_code ignored;
    if (files.empty() && fs::is_directory(corpus, ignored)) {
        for (const auto& entry : fs::directory_iterator(corpus))
            if (entry.path().extension() == ".mid") files.push_back(entry.path().string());
        std::sort(files.begin(), files.end());
    }
    if (files.empty()) files.push_back(PITCHIME_SOURCE_DIR "/docs/scores/hot-cross-buns.mid");
    console::setStream(nullptr);
    for (const std::string& path : files) {
        std::ifstream in(path, std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        midi::File file;
        midi::Error error;
        if (!midi::readFile(bytes, file, error)) {
            std::printf("%s: byte %zu: %s\n", path.c_str(), error.offset, error.what.c_str());
            continue;
        }
        std::vector<live::FileEvent> events = live::fileEvents(file, {});
        const auto limit = static_cast<std::int64_t>(seconds * 1e6);
        events.erase(std::find_if(events.begin(), events.end(),
                                  [limit](const live::FileEvent& e) { return e.message.us > limit; }),
                     events.end());
        const std::string name = fs::path(path).filename().string();
        pass(name, false, events);
        pass(name, true, events);
    }
    for (const bool busy : {false, true}) {
        print("all files", busy, allLate[busy]);
        std::printf("  within 1 ms: %.2f %%\n",
                    100.0 *
                        static_cast<double>(std::count_if(allLate[busy].begin(), allLate[busy].end(),
                                                          [](double ms) { return ms <= 1.0; })) /
                        static_cast<double>(std::max<std::size_t>(allLate[busy].size(), 1)));
    }
}
