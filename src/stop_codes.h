// How reading a record, or a whole run, can end. The reader returns a record's type byte (0 to
// 255) or one of the negative codes below; a conversion or a survey that stops returns a Stop
// that says what, and where, and the messages print it. Every negative code but RECORD_END is
// an error; the texts that tell them apart are the messages module's.
#ifndef QUORLIT_STOP_CODES_H
#define QUORLIT_STOP_CODES_H

#include <cstdint>
#include <cstdio>

// A run that read every input to its end-of-file record, and a placement that went through.
constexpr int STOP_NONE = 0;

// The end of the input, or a read error, before the end-of-file record gives RECORD_BAD_DIGIT or
// RECORD_BAD_TEXT, with the stop's input_ended set.
constexpr int RECORD_END = -2;          // the end-of-file record: the records are whole
constexpr int RECORD_BAD_CHECKSUM = -1; // the checksum does not add up
constexpr int RECORD_BAD_DIGIT = -3;    // a character inside a record is not a hexadecimal digit
constexpr int RECORD_BAD_TEXT = -4;     // something other than white space between records
constexpr int RECORD_BAD_LENGTH = -5;   // an extended address record does not hold 2 bytes

constexpr int CONVERT_LOWER_ADDRESS = -16; // a record inside the window starts below the image
constexpr int CONVERT_TOO_LARGE = -17;     // the image would grow past 2 GiB
constexpr int CONVERT_NO_SEEK = -18;       // the output cannot go back below the image's end
constexpr int CONVERT_CHANGED_DATA = -19;  // a record gives data already written another value
constexpr int CONVERT_TOO_MANY_RUNS = -20; // more separate address runs than the run list holds
constexpr int CONVERT_WRITE_FAILED = -21;  // a write failed, so the image cannot be read back
constexpr int CONVERT_STAMP_ON_DATA = -22; // a stamp's bytes fall on data from the inputs
constexpr int CONVERT_PAST_WINDOW = -23;   // stamps at the end, or --align, pass the window's end
constexpr int CONVERT_PART_WORD = -24;     // a check value of words covers a part of one
constexpr int CONVERT_START_CHANGED = -25; // a start address record differs from an earlier one

// Where a record stands: its input, and the input position just after it (0: nowhere).
struct RecordPlace {
    int input = 0;
    std::uint64_t position = 0;
};

// What stopped a run, and where.
struct Stop {
    int code = STOP_NONE;
    // What the stop names: the address of the record's piece that failed (its bytes after a
    // 64 KiB segment's wrap are a piece of their own) for CONVERT_LOWER_ADDRESS, CONVERT_NO_SEEK
    // and CONVERT_TOO_MANY_RUNS, the first address whose data would change for
    // CONVERT_CHANGED_DATA, and the record's byte count for the reader's errors.
    std::uint32_t value = 0;
    int input = -1;                // the input it stopped in; -1: none
    std::uint64_t position = 0;    // the input position of the character it stopped at
    int character = EOF;           // that character, or EOF
    bool input_ended = false;      // the input ended before its end-of-file record
    bool input_failed = false;     // or a read of it failed
    std::uint32_t image_end = 0;   // the flash address after the image, as it stopped
    const char *subject = nullptr; // the stamp or option that stopped it
    RecordPlace earlier = {-1, 0}; // the record that first gave the data that it would change,
                                   // or the start address record that it would change
};

// Whether a run stopped on an error.
inline bool stopped(const Stop &stop) {
    return stop.code != STOP_NONE;
}

#endif
