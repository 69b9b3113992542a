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

// What a survey of a HEX file found besides its runs. Input positions are those just after a
// record (see input_position); 0 means none.
struct HexSurvey {
    std::uint64_t records = 0;    // data records with data
    std::uint64_t bytes = 0;      // their data bytes
    std::uint64_t descending = 0; // the first data record that starts below the end of the data
    std::uint64_t repeating = 0;  // the first data record that gives an address given before
    std::uint32_t repeated = 0;   // that address
    std::uint64_t changing = 0;   // the first that gives an address given before another value
    std::uint32_t changed = 0;    // that address
    bool values_checked = false;  // the values of repeated addresses were compared
    int starts = 0;               // start address records (types 03 and 05), the first few kept
    int start_type[4] = {};
    std::uint32_t start_value[4] = {};
};

// Reads hex_in to its end-of-file record, puts its data addresses in the run list and fills
// `survey`; when addresses repeat, reads hex_in again to compare their values, where it can go
// back. Returns RECORD_END, a reader's error (`detail` gets the record's byte count) or
// CONVERT_TOO_MANY_RUNS (`detail` gets the record's address).
int survey_hex(HexSurvey &survey, std::uint32_t &detail);

#endif
