// What a run notes of the data around its window, to tell afterwards whether the window cuts
// through data or misses it. Offsets count from the window's start, modulo 2^32, so the byte
// just below the window is offset 0xFFFFFFFF and the one just past its end offset `size`.
#ifndef QUORLIT_WINDOW_CHECKS_H
#define QUORLIT_WINDOW_CHECKS_H

#include "stop_codes.h"

#include <cstdint>

struct WindowChecks {
    std::uint32_t size = 0;   // the window's size
    bool data = false;        // the inputs gave any data byte
    std::uint32_t lowest = 0; // its lowest and highest data addresses, up to the first data byte
                              // inside the window
    std::uint32_t highest = 0;
    bool inside = false;          // some record gave a byte inside the window
    bool input_inside = false;    // some record of the input being read did
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

// A piece of a data record: `count` (> 0) bytes at flash address `address`, window offset
// `offset`.
struct DataPiece {
    std::uint32_t address;
    std::uint32_t offset;
    std::uint32_t count;
};

// Notes `piece`, given by the record at `place`, in a window of checks.size (> 0) bytes.
inline void note_data(WindowChecks &checks, const DataPiece &piece, const RecordPlace &place) {
    std::uint32_t offset = piece.offset;
    std::uint32_t count = piece.count;
    std::uint32_t size = checks.size;
    note_range(checks, piece.address, count);
    // Records in address order build the data below the window piece by piece.
    if (offset != checks.piece_end) checks.piece_from = offset;
    checks.piece_end = offset + count;
    if (holds(offset, count, 0)) checks.first_given = true;
    if (offset < size || holds(offset, count, 0)) checks.inside = checks.input_inside = true;
    if (holds(offset, count, size - 1)) checks.last_given = true;
    if (holds(offset, count, 0xFFFFFFFFu) && checks.below.position == 0) {
        checks.below = place;
        checks.below_from = checks.piece_from;
    }
    std::uint32_t end = offset + (count - 1);
    if (holds(offset, count, size) && checks.beyond.position == 0) {
        checks.beyond = place;
        checks.beyond_to = end;
    } else if (checks.beyond.position != 0 && offset >= size && offset - 1 <= checks.beyond_to &&
               end > checks.beyond_to && end >= offset) {
        checks.beyond_to = end; // the data past the window's end runs on
    }
}

// Notes data as note_data does, for a piece that lies wholly inside the window.
inline void note_inside(WindowChecks &checks, const DataPiece &piece) {
    note_range(checks, piece.address, piece.count);
    if (piece.offset != checks.piece_end) checks.piece_from = piece.offset;
    checks.piece_end = piece.offset + piece.count;
    checks.inside = true;
    checks.input_inside = true;
    if (piece.offset == 0) checks.first_given = true;
    if (checks.piece_end == checks.size) checks.last_given = true;
}

// A streak: records that each continue the image and the last piece inside the window, which
// the checks note when it ends, since only the piece's end moves. NO_STREAK: none.
constexpr std::uint32_t NO_STREAK = 0xFFFFFFFFu;

// Returns where a record must start to continue an image that ends at offset `image_end` and the
// last piece noted, in the input being read, or NO_STREAK.
inline std::uint32_t streak_start(const WindowChecks &checks, std::uint32_t image_end) {
    return checks.input_inside && checks.piece_end == image_end ? image_end : NO_STREAK;
}

// Starts the notes of a conversion into a window of `size` bytes.
inline void start_checks(WindowChecks &checks, std::uint32_t size) {
    checks = {};
    checks.size = size;
}

// Starts the notes of the next input.
inline void start_input_checks(WindowChecks &checks) {
    checks.input_inside = false;
}

// Whether the input being read gave the window data.
inline bool input_gave_data(const WindowChecks &checks) {
    return checks.input_inside;
}

// Notes a streak that ended at offset `streak_end` (NO_STREAK: none).
inline void end_streak(WindowChecks &checks, std::uint32_t streak_end) {
    if (streak_end == NO_STREAK) return;
    checks.piece_end = streak_end;
    if (streak_end == checks.size) checks.last_given = true;
}

// After a conversion that read the whole of its inputs, still open, into the window
// [flash_start, flash_start + size): prints a line for each edge of the window that cuts through
// data, or one that says where the data lies when the window holds none; for a merge, a line for
// each input that gave the window no data; and one for each input whose data replaced other
// values. Returns the number of lines.
int print_window_checks(const WindowChecks &checks, std::uint32_t flash_start);

#endif
