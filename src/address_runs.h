// A list of runs of consecutive addresses, kept in address order and merged where runs touch or
// overlap: the data written so far when records come in any order, and the map of a file.
#ifndef QUORLIT_ADDRESS_RUNS_H
#define QUORLIT_ADDRESS_RUNS_H

#include <cstddef>
#include <cstdint>

// The list lives in static storage, so that its memory is bounded: 512 KiB, of which only the
// pages in use are resident. Real firmware files hold tens of runs.
constexpr std::size_t RUNS_MAX = 65536;

struct AddressRun {
    std::uint32_t first;
    std::uint32_t last; // inclusive, so that a run may end at 0xFFFFFFFF
};

struct RunList {
    std::size_t count;
    AddressRun runs[RUNS_MAX];
};

inline RunList run_list;

// Empties the list.
inline void clear_runs() {
    run_list.count = 0;
}

// Adds the addresses first to last (first <= last) where they do not extend the last run.
bool insert_run(std::uint32_t first, std::uint32_t last);

// Adds the addresses first to last (first <= last). Returns false, changing nothing, when they
// would make a run of their own in a full list.
inline bool add_run(std::uint32_t first, std::uint32_t last) {
    // Records in address order extend the last run, or start a new one after it.
    AddressRun *tail = run_list.count > 0 ? &run_list.runs[run_list.count - 1] : nullptr;
    if (tail == nullptr || first <= tail->first || tail->last == 0xFFFFFFFFu ||
        first > tail->last + 1)
        return insert_run(first, last);
    if (last > tail->last) tail->last = last;
    return true;
}

// The runs in address order, and how many there are.
inline const AddressRun *runs() {
    return run_list.runs;
}
inline std::size_t run_count() {
    return run_list.count;
}

// Returns the index of the first run that ends at or after `address` (run_count() if none).
std::size_t find_run(std::uint32_t address);

#endif
