#include "address_runs.h"

#include <cstring>

std::size_t find_run(std::uint32_t address) {
    std::size_t low = 0;
    std::size_t high = run_list.count;
    while (low < high) {
        std::size_t middle = low + (high - low) / 2;
        if (run_list.runs[middle].last < address) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low;
}

bool insert_run(std::uint32_t first, std::uint32_t last) {
    // A run that touches `first` from below ends at first - 1.
    std::size_t index = find_run(first == 0 ? 0 : first - 1);
    // Runs from `index` on that start at or below last + 1 merge with the new one.
    std::size_t end = index;
    while (end < run_list.count && (last == 0xFFFFFFFFu || run_list.runs[end].first <= last + 1))
        ++end;
    if (end == index) {
        if (run_list.count == RUNS_MAX) return false;
        std::memmove(run_list.runs + index + 1, run_list.runs + index,
                     (run_list.count - index) * sizeof *run_list.runs);
        run_list.runs[index] = {first, last};
        ++run_list.count;
        return true;
    }
    AddressRun merged = {first < run_list.runs[index].first ? first : run_list.runs[index].first,
                         last > run_list.runs[end - 1].last ? last : run_list.runs[end - 1].last};
    run_list.runs[index] = merged;
    std::memmove(run_list.runs + index + 1, run_list.runs + end,
                 (run_list.count - end) * sizeof *run_list.runs);
    run_list.count -= end - index - 1;
    return true;
}
