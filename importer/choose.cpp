// Which notes start at their time: with the whole file in view, the set of
// the most worth whose first moments never need more voices than the
// player has. That is weighted interval scheduling on k machines, solved
// exactly as a minimum-cost flow (Arkin and Silverberg, 1987): the instants
// in time order are nodes, a chain of edges between neighbours carries k
// voices at no cost, and each note's window is an edge from its start to
// its end that carries one voice at minus its worth. Sending k voices from
// the first instant to the last at least cost takes the notes of most
// worth. k is at most 3, so k shortest paths suffice: the first over the
// graph as it is (every edge runs forward in time), the others by Dijkstra
// over reduced costs.
#include <algorithm>
#include <array>
#include <limits>
#include <queue>

#include "importer/stages.h"

namespace pitchime::importer {

namespace {

constexpr std::int64_t unreached = std::numeric_limits<std::int64_t>::max();

struct Edge {
    int to = 0;
    int capacity = 0;
    std::int64_t cost = 0;
};

struct Graph {
    std::vector<Edge> edges;  // each with its reverse at index ^ 1
    std::vector<int> first;   // by node: where its edges start in `order`
    std::vector<int> order;   // edge indices grouped by their node

    void add(int from, int to, int capacity, std::int64_t cost, std::vector<int>& froms) {
        edges.push_back({to, capacity, cost});
        froms.push_back(from);
        edges.push_back({from, 0, -cost});
        froms.push_back(to);
    }
};

}  // namespace

std::vector<bool> chooseWindows(const std::vector<Window>& windows, int voices) {
    std::vector<std::int64_t> times;
    times.reserve(2 * windows.size() + 1);
    for (const Window& w : windows) {
        times.push_back(w.start);
        times.push_back(w.end);
    }
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    std::vector<bool> chosen(windows.size(), false);
    if (times.size() < 2 || voices < 1) return chosen;
    const auto node = [&](std::int64_t t) {
        return static_cast<int>(std::lower_bound(times.begin(), times.end(), t) - times.begin());
    };
    const int nodes = static_cast<int>(times.size());

    Graph g;
    std::vector<int> froms;
    g.edges.reserve(2 * (times.size() + windows.size()));
    froms.reserve(g.edges.capacity());
    for (int i = 0; i + 1 < nodes; ++i) g.add(i, i + 1, voices, 0, froms);
    const int firstWindowEdge = static_cast<int>(g.edges.size());
    for (const Window& w : windows) g.add(node(w.start), node(w.end), 1, -w.worth, froms);
    // The edges grouped by the node they leave.
    g.first.assign(static_cast<std::size_t>(nodes) + 1, 0);
    for (int from : froms) ++g.first[from + 1];
    for (int i = 0; i < nodes; ++i) g.first[i + 1] += g.first[i];
    g.order.resize(g.edges.size());
    {
        std::vector<int> at(g.first.begin(), g.first.end() - 1);
        for (int e = 0; e < static_cast<int>(froms.size()); ++e) g.order[at[froms[e]]++] = e;
    }

    // Potentials: the least cost to each node, first in time order (a
    // DAG), then kept up by each Dijkstra.
    std::vector<std::int64_t> potential(nodes, unreached);
    potential[0] = 0;
    for (int u = 0; u < nodes; ++u) {
        for (int k = g.first[u]; k < g.first[u + 1]; ++k) {
            const Edge& e = g.edges[g.order[k]];
            if (e.capacity > 0 && potential[u] != unreached)
                potential[e.to] = std::min(potential[e.to], potential[u] + e.cost);
        }
    }

    std::vector<std::int64_t> dist(nodes);
    std::vector<int> via(nodes);
    int left = voices;
    bool firstPath = true;
    while (left > 0) {
        if (firstPath) {
            // The first path: along the DAG order, costs as they are.
            std::fill(via.begin(), via.end(), -1);
            dist = potential;
            for (int u = 0; u < nodes; ++u) {
                for (int k = g.first[u]; k < g.first[u + 1]; ++k) {
                    const int ei = g.order[k];
                    const Edge& e = g.edges[ei];
                    if (e.capacity > 0 && dist[u] + e.cost == dist[e.to] && via[e.to] < 0 && e.to != 0)
                        via[e.to] = ei;
                }
            }
            std::fill(dist.begin(), dist.end(), 0);
            firstPath = false;
        } else {
            std::fill(dist.begin(), dist.end(), unreached);
            std::fill(via.begin(), via.end(), -1);
            using Item = std::pair<std::int64_t, int>;
            std::priority_queue<Item, std::vector<Item>, std::greater<>> queue;
            dist[0] = 0;
            queue.push({0, 0});
            while (!queue.empty()) {
                const auto [d, u] = queue.top();
                queue.pop();
                if (d != dist[u]) continue;
                for (int k = g.first[u]; k < g.first[u + 1]; ++k) {
                    const int ei = g.order[k];
                    const Edge& e = g.edges[ei];
                    if (e.capacity <= 0 || potential[e.to] == unreached) continue;
                    const std::int64_t next = d + e.cost + potential[u] - potential[e.to];
                    if (next < dist[e.to]) {
                        dist[e.to] = next;
                        via[e.to] = ei;
                        queue.push({next, e.to});
                    }
                }
            }
            if (dist[nodes - 1] == unreached) break;
            for (int u = 0; u < nodes; ++u) {
                if (dist[u] != unreached) potential[u] += dist[u];
            }
        }
        int push = left;
        for (int v = nodes - 1; v != 0; v = g.edges[via[v] ^ 1].to)
            push = std::min(push, g.edges[via[v]].capacity);
        for (int v = nodes - 1; v != 0; v = g.edges[via[v] ^ 1].to) {
            g.edges[via[v]].capacity -= push;
            g.edges[via[v] ^ 1].capacity += push;
        }
        left -= push;
    }
    for (std::size_t i = 0; i < windows.size(); ++i)
        chosen[i] = g.edges[firstWindowEdge + 2 * static_cast<int>(i)].capacity == 0;
    return chosen;
}

// The lines of the file (the melody's, the top, the bass) and, with the
// whole file in view, which tones start at their time: those whose first
// moments fit the voices for the most worth (chooseWindows).
Plan planTones(const std::vector<Tone>& tones, const std::vector<GridTone>& grid, std::int64_t shortest,
               std::int64_t unitUs, int voices, bool bassFirst) {
    const std::size_t n = tones.size();
    Plan plan;
    plan.planned.assign(n, false);
    plan.rank.assign(n, ranking::Rank::fresh);
    std::vector<ranking::Rank>& rank = plan.rank;
    std::array<int, 128> down{};
    std::array<int, 128> melodyDown{};
    using Up = std::pair<std::int64_t, int>;  // key up, tone
    std::priority_queue<Up, std::vector<Up>, std::greater<>> ups;
    std::vector<Window> windows;
    std::vector<int> windowTone;
    for (std::size_t first = 0; first < n;) {
        const std::int64_t at = grid[first].start;
        std::size_t last = first;
        while (last < n && grid[last].start == at) ++last;
        while (!ups.empty() && ups.top().first <= at) {
            const int t = ups.top().second;
            --down[tones[t].pitch];
            if (tones[t].melody) --melodyDown[tones[t].pitch];
            ups.pop();
        }
        for (std::size_t i = first; i < last; ++i) {
            if (tones[i].drum) continue;
            ++down[tones[i].pitch];
            if (tones[i].melody) ++melodyDown[tones[i].pitch];
            ups.push({grid[i].keyEnd, static_cast<int>(i)});
        }
        int low = 0;
        while (low < 127 && down[low] == 0) ++low;
        std::array<int, 128> taken;  // by pitch: the window of the unison, -1 for none
        taken.fill(-1);
        for (std::size_t i = first; i < last; ++i) {
            const Tone& t = tones[i];
            if (t.drum) continue;
            const auto above = [&](const std::array<int, 128>& keys) {
                for (int k = t.pitch + 1; k < 128; ++k)
                    if (keys[k] > 0) return true;
                return false;
            };
            ranking::Rank r = ranking::Rank::fresh;
            if (t.pitch == low) r = ranking::Rank::bottom;
            if (!above(down)) r = ranking::Rank::top;
            if (t.melody && !above(melodyDown)) r = ranking::Rank::melody;
            if (taken[t.pitch] >= 0) {
                // A unison merges into its first tone, which takes the
                // better rank of the two.
                const int w = taken[t.pitch];
                const int kept = windowTone[w];
                if (ranking::worth(r, bassFirst) > ranking::worth(rank[kept], bassFirst)) {
                    windows[w].worth += ranking::worth(r, bassFirst) - ranking::worth(rank[kept], bassFirst);
                    rank[kept] = r;
                }
                continue;
            }
            taken[t.pitch] = static_cast<int>(windows.size());
            rank[i] = r;
            // Equals apart: a chord's third and seventh before its fifth,
            // its octave doublings last; then the longer, the louder.
            const int step = (t.pitch - low) % 12;
            const int role = step == 0                                ? 0
                             : step == 7                              ? 20
                             : (step == 3 || step == 4 || step >= 10) ? 40
                                                                      : 30;
            const std::int64_t ms = std::min<std::int64_t>((grid[i].keyEnd - at) * unitUs / 1000, 1000);
            // The lines are planned whole, as long as their keys are down;
            // other notes for their shortest playable part.
            const bool line = r == ranking::Rank::melody;
            windows.push_back(
                Window{.start = at,
                       .end = line ? grid[i].keyEnd : std::min(grid[i].end, at + shortest),
                       .worth = ranking::worth(r, bassFirst) + role + ms / 25 + t.velocity / 9});
            windowTone.push_back(static_cast<int>(i));
        }
        first = last;
    }
    const std::vector<bool> chosen = chooseWindows(windows, voices);
    for (std::size_t w = 0; w < windows.size(); ++w) {
        if (!chosen[w]) continue;
        plan.planned[windowTone[w]] = true;
        plan.starts.push_back(windows[w].start);
    }
    return plan;
}

}  // namespace pitchime::importer
