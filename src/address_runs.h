// A list of runs of consecutive addresses, kept in address order and merged where runs touch or
// overlap: the data written so far when records come in any order, and the survey of a file.
#ifndef QUORLIT_ADDRESS_RUNS_H
#define QUORLIT_ADDRESS_RUNS_H

#include <cstddef>
#include <cstdint>

// Real firmware files hold tens of runs; the list holds up to RUNS_MAX.
constexpr std::size_t RUNS_MAX = 65536;

// The runs lie in leaves of up to LEAF_RUNS, the leaves in address order through `order`, so that
// adding a run moves at most one leaf's runs and the order, never the whole list. With twice as
// many leaves as a full list fills to the brim, two neighbours always fit in one leaf when every
// leaf is in use. Static storage bounds the memory: 1 MiB, of which only leaves in use are
// resident.
constexpr std::size_t LEAF_RUNS = 128;
constexpr std::size_t LEAVES_MAX = 2 * RUNS_MAX / LEAF_RUNS;
static_assert(LEAVES_MAX / 2 * (LEAF_RUNS + 1) > RUNS_MAX,
              "a full set of leaves has a pair to join");

struct AddressRun {
    std::uint32_t first;
    std::uint32_t last; // inclusive, so that a run may end at 0xFFFFFFFF
};

struct RunLeaf {
    std::size_t count; // at least 1 while the leaf is in use
    AddressRun runs[LEAF_RUNS];
};

struct RunList {
    std::size_t count;               // runs in all
    std::size_t leaves;              // leaves in use
    std::uint16_t order[LEAVES_MAX]; // the leaves in use, in address order
    std::size_t fresh;               // leaves from here on were never used
    std::size_t spare_count;         // leaves used before and free again
    std::uint16_t spare[LEAVES_MAX];
    RunLeaf leaf[LEAVES_MAX];
};

// Defined in address_runs.cpp, not inline: Windows linkers keep an inline variable's zeros in the
// executable, which the loader then reads.
extern RunList run_list;

// Empties the list.
inline void clear_runs() {
    run_list.count = 0;
    run_list.leaves = 0;
    run_list.fresh = 0;
    run_list.spare_count = 0;
}

// A place in the list: the leaf's index in the order times LEAF_RUNS, plus the run's index in its
// leaf. run_end() is the place after the last run. Adding runs moves places.
inline std::size_t run_end() {
    return run_list.leaves * LEAF_RUNS;
}

inline const AddressRun &run_at(std::size_t place) {
    return run_list.leaf[run_list.order[place / LEAF_RUNS]].runs[place % LEAF_RUNS];
}

// Returns the place of the run after the one at `place`.
inline std::size_t next_run(std::size_t place) {
    const RunLeaf &leaf = run_list.leaf[run_list.order[place / LEAF_RUNS]];
    if (place % LEAF_RUNS + 1 < leaf.count) return place + 1;
    return (place / LEAF_RUNS + 1) * LEAF_RUNS;
}

// Returns the place of the first run that ends at or after `address`, or run_end() if none does.
std::size_t find_run(std::uint32_t address);

// Adds the addresses first to last (first <= last) where they do not extend the last run.
bool insert_run(std::uint32_t first, std::uint32_t last);

// Adds the addresses first to last (first <= last). Returns false, changing nothing, when they
// would make a run of their own in a full list.
inline bool add_run(std::uint32_t first, std::uint32_t last) {
    // Records in address order extend the last run, or start a new one after it.
    if (run_list.leaves == 0) return insert_run(first, last);
    RunLeaf &leaf = run_list.leaf[run_list.order[run_list.leaves - 1]];
    AddressRun &tail = leaf.runs[leaf.count - 1];
    if (first <= tail.first || tail.last == 0xFFFFFFFFu || first > tail.last + 1)
        return insert_run(first, last);
    tail.last = last > tail.last ? last : tail.last;
    return true;
}

// How many runs the list holds.
inline std::size_t run_count() {
    return run_list.count;
}

#endif
