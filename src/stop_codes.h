// How reading a record, or a whole run, can end. The reader returns a record's type byte (0 to
// 255) or one of the negative codes below; the image writer and the survey of a file stop with
// them. Every negative code but RECORD_END is an error; the texts that tell them apart are the
// messages module's.
#ifndef QUORLIT_STOP_CODES_H
#define QUORLIT_STOP_CODES_H

// The end of the input, or a read error, before the end-of-file record gives RECORD_BAD_DIGIT or
// RECORD_BAD_TEXT, with the input stream's end or error indicator set.
constexpr int RECORD_END = -2;        // the end-of-file record: the records are whole
constexpr int RECORD_ERROR = -1;      // the checksum does not add up
constexpr int RECORD_BAD_DIGIT = -3;  // a character inside a record is not a hexadecimal digit
constexpr int RECORD_BAD_TEXT = -4;   // something other than white space between records
constexpr int RECORD_BAD_LENGTH = -5; // an extended address record does not hold 2 bytes

constexpr int CONVERT_LOWER_ADDRESS = -16; // a record inside the window starts below the image
constexpr int CONVERT_TOO_LARGE = -17;     // the image would grow past 2 GiB
constexpr int CONVERT_NO_SEEK = -18;       // the output cannot go back below the image's end
constexpr int CONVERT_CHANGED_DATA = -19;  // a record gives data already written another value
constexpr int CONVERT_TOO_MANY_RUNS = -20; // more separate data runs than the run list holds
constexpr int CONVERT_WRITE_FAILED = -21;  // a write failed, so the image cannot be read back

#endif
