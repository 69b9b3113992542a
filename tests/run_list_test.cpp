// The run list against a plain ordered map of runs, on the orders that fill, split and join its
// leaves: runs inserted below all others up to the list's limit, runs that join two others, runs
// that swallow many, and random ones. Exits 1 at the first difference.
#include "address_runs.h"

#include <cstdio>
#include <iterator>
#include <map>

namespace {

std::map<std::uint32_t, std::uint32_t> expected; // first -> last

// Adds first to last to `expected` as the list should; returns false where it should refuse.
bool expect_run(std::uint32_t first, std::uint32_t last) {
    auto touching = expected.upper_bound(first);
    if (touching != expected.begin() && (first == 0 || std::prev(touching)->second >= first - 1))
        --touching;
    bool joins = touching != expected.end() && (last == 0xFFFFFFFFu || touching->first <= last + 1);
    if (!joins && expected.size() == RUNS_MAX) return false;
    while (touching != expected.end() && (last == 0xFFFFFFFFu || touching->first <= last + 1)) {
        if (touching->first < first) first = touching->first;
        if (touching->second > last) last = touching->second;
        touching = expected.erase(touching);
    }
    expected[first] = last;
    return true;
}

// Whether the list holds exactly the runs of `expected`, and finds each one's end.
bool lists_agree() {
    std::size_t place = find_run(0);
    for (const auto &run : expected) {
        if (place == run_end() || run_at(place).first != run.first ||
            run_at(place).last != run.second)
            return false;
        if (find_run(run.second) != place) return false;
        place = next_run(place);
    }
    return place == run_end() && run_count() == expected.size();
}

// Adds a run to both; false, with a line on what differs, where they disagree.
bool add_both(std::uint32_t first, std::uint32_t last, bool check) {
    bool added = add_run(first, last);
    if (added == expect_run(first, last) && (!check || lists_agree())) return true;
    std::printf("differ after %08x-%08x (%zu runs)\n", first, last, expected.size());
    return false;
}

} // namespace

int main() {
    clear_runs();
    bool good = true;
    // Separate runs, each below all others: leaves split in halves up to the list's limit.
    std::uint32_t below = 0x40000000;
    for (std::size_t i = 0; good && i <= RUNS_MAX; ++i, below -= 2)
        good = add_both(below, below, i % 4096 == 0);
    good = good && run_count() == RUNS_MAX && lists_agree();
    // Join a thousand pairs, then fill the leaves again from below, so that leaves must join.
    for (std::uint32_t k = 0; good && k < 1000; ++k)
        good = add_both(below + 2 + 130 * k + 1, below + 2 + 130 * k + 1, k % 100 == 0);
    for (std::size_t i = 0; good && i < 2000; ++i, below -= 2)
        good = add_both(below, below, i % 64 == 0);
    good = good && lists_agree();
    // Runs that swallow many leaves, a run to the top of the address space, and random runs.
    std::uint32_t seed = 1;
    for (std::size_t i = 0; good && i < 200000; ++i) {
        seed = seed * 1664525u + 1013904223u;
        std::uint32_t first = (seed >> 8) % 0x40000000;
        std::uint32_t length = seed % 16 == 0 ? seed >> 14 : seed % 5;
        std::uint32_t last = i == 1000 ? 0xFFFFFFFFu : first + length;
        good = add_both(first, last, i % 10000 == 0);
    }
    good = good && lists_agree();
    std::puts(good ? "run list: agrees" : "run list: differs");
    return good ? 0 : 1;
}
