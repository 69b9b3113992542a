// A list of runs of consecutive addresses, kept in address order and merged where runs touch or
// overlap: the data written so far when records come in any order, and the map that --info
// prints.
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

// Empties the list.
void clear_runs();

// Adds the addresses first to last (first <= last). Returns false, changing nothing, when they
// would make a run of their own in a full list.
bool add_run(std::uint32_t first, std::uint32_t last);

// The runs in address order, and how many there are.
const AddressRun *runs();
std::size_t run_count();

// Returns the index of the first run that ends at or after `address` (run_count() if none).
std::size_t find_run(std::uint32_t address);

#endif
