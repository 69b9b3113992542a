// What a run notes of the data around its window, to tell afterwards whether the window cuts
// through data or misses it. Offsets count from the window's start, modulo 2^32, so the byte
// just below the window is offset 0xFFFFFFFF and the one just past its end offset `size`.
#ifndef QUORLIT_WINDOW_CHECKS_H
#define QUORLIT_WINDOW_CHECKS_H

#include "input_files.h"

#include <cstdint>

struct WindowChecks {
    bool data = false;        // the inputs gave any data byte
    std::uint32_t lowest = 0; // its lowest and highest data addresses, up to the first data byte
                              // inside the window
    std::uint32_t highest = 0;
    bool inside = false;          // some record gave a byte inside the window
    bool first_given = false;     // some record gave the window's first byte
    bool last_given = false;      // and its last byte
    RecordPlace below;            // the first record that gave the byte below the window
    std::uint32_t below_from = 0; // the offset where the data that reaches that byte starts
    RecordPlace beyond;           // the first record that gave the byte past the window's end
    std::uint32_t beyond_to = 0;  // the last offset of the data that runs on from that byte
    std::uint32_t piece_from = 0; // where the data of the last piece and those that abut it starts
    std::uint32_t piece_end = 0;  // the offset after the last piece
};

// Whether the `count` bytes from `offset` on (modulo 2^32) hold offset `at`.
inline bool holds(std::uint32_t offset, std::uint32_t count, std::uint32_t at) {
    return at - offset < count;
}

// Widens the data's range to the `count` (> 0) bytes at `address`. The range is only reported
// when the window holds no data, so it is left alone once it holds some.
inline void note_range(WindowChecks &checks, std::uint32_t address, std::uint32_t count) {
    if (checks.inside) return;
    std::uint32_t last = address + (count - 1);
    if (!checks.data || address < checks.lowest) checks.lowest = address;
    if (!checks.data || last > checks.highest) checks.highest = last;
    if (last < address) { // the data runs across 2^32
        checks.lowest = 0;
        checks.highest = 0xFFFFFFFFu;
    }
    checks.data = true;
}

// Notes `count` (> 0) data bytes at flash address `address`, window offset `offset`, given by
// the record that ends at input position `position` of input `input`, in a window of `size`
// (> 0) bytes.
inline void note_data(WindowChecks &checks, std::uint32_t address, std::uint32_t offset,
                      std::uint32_t count, std::uint32_t size, int input, std::uint64_t position) {
    note_range(checks, address, count);
    // Records in address order build the data below the window piece by piece.
    if (offset != checks.piece_end) checks.piece_from = offset;
    checks.piece_end = offset + count;
    if (offset < size) checks.inside = true;
    if (holds(offset, count, 0)) checks.first_given = checks.inside = true;
    if (holds(offset, count, size - 1)) checks.last_given = true;
    if (holds(offset, count, 0xFFFFFFFFu) && checks.below.position == 0) {
        checks.below = {input, position};
        checks.below_from = checks.piece_from;
    }
    std::uint32_t end = offset + (count - 1);
    if (holds(offset, count, size) && checks.beyond.position == 0) {
        checks.beyond = {input, position};
        checks.beyond_to = end;
    } else if (checks.beyond.position != 0 && offset >= size && offset - 1 <= checks.beyond_to &&
               end > checks.beyond_to && end >= offset) {
        checks.beyond_to = end; // the data past the window's end runs on
    }
}

// Notes data as note_data does, for `count` bytes that lie wholly inside the window.
inline void note_inside(WindowChecks &checks, std::uint32_t address, std::uint32_t offset,
                        std::uint32_t count, std::uint32_t size) {
    note_range(checks, address, count);
    if (offset != checks.piece_end) checks.piece_from = offset;
    checks.piece_end = offset + count;
    checks.inside = true;
    if (offset == 0) checks.first_given = true;
    if (checks.piece_end == size) checks.last_given = true;
}

// After a conversion that read the whole of its inputs, still open, into the window
// [flash_start, flash_start + size): prints a line for each edge of the window that cuts through
// data, or one that says where the data lies when the window holds none.
void print_window_checks(const WindowChecks &checks, std::uint32_t flash_start, std::uint32_t size);

#endif
