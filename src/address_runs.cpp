#include "address_runs.h"

#include <cstring>

namespace {

AddressRun run_list[RUNS_MAX];
std::size_t count = 0;

} // namespace

void clear_runs() {
    count = 0;
}

const AddressRun *runs() {
    return run_list;
}

std::size_t run_count() {
    return count;
}

std::size_t find_run(std::uint32_t address) {
    std::size_t low = 0;
    std::size_t high = count;
    while (low < high) {
        std::size_t middle = low + (high - low) / 2;
        if (run_list[middle].last < address) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low;
}

bool add_run(std::uint32_t first, std::uint32_t last) {
    // Records in address order touch the last run, or start a new one after it.
    std::size_t index = count;
    const AddressRun *tail = count > 0 ? &run_list[count - 1] : nullptr;
    if (tail == nullptr || first <= tail->first) {
        // A run that touches `first` from below ends at first - 1.
        index = find_run(first == 0 ? 0 : first - 1);
    } else if (tail->last == 0xFFFFFFFFu || tail->last + 1 >= first) {
        index = count - 1;
    }
    // Runs from `index` on that start at or below last + 1 merge with the new one.
    std::size_t end = index;
    while (end < count && (last == 0xFFFFFFFFu || run_list[end].first <= last + 1)) ++end;
    if (end == index) {
        if (count == RUNS_MAX) return false;
        std::memmove(run_list + index + 1, run_list + index, (count - index) * sizeof *run_list);
        run_list[index] = {first, last};
        ++count;
        return true;
    }
    AddressRun merged = {first < run_list[index].first ? first : run_list[index].first,
                         last > run_list[end - 1].last ? last : run_list[end - 1].last};
    run_list[index] = merged;
    std::memmove(run_list + index + 1, run_list + end, (count - end) * sizeof *run_list);
    count -= end - index - 1;
    return true;
}
