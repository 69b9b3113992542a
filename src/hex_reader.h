// Intel HEX record reader.
//
// A record is one line of ASCII text:
//
//   :CCAAAATT<data>SS
//
//   :       record mark
//   CC      byte count, the number of data bytes (0 to 255)
//   AAAA    16-bit address field, most significant byte first
//   TT      record type
//   <data>  CC bytes, two hexadecimal digits each
//   SS      checksum: all bytes from CC to SS add up to 0 modulo 256
//
// Digits may be upper or lower case. Text before the first ':' (a header line, say) is ignored;
// between records only white space may stand: blanks, tabs and line ends of either kind.
//
// Two readers share the work: take_plain_record decodes whole, at once, each data record that is
// plainly good, and the character reader, read_hex_record, judges everything else exactly, to the
// character that makes an error. What the first accepts, the second would accept alike.
//
// Record types:
//   00  data: the bytes go to base + AAAA, base + AAAA + 1, ... (modulo 2^32)
//   01  end of file, when its byte count is 0
//   02  extended segment address: base = 16-bit value << 4
//   03  start segment address (CS:IP); no image content
//   04  extended linear address: base = 16-bit value << 16
//   05  start linear address (EIP); no image content
#ifndef QUORLIT_HEX_READER_H
#define QUORLIT_HEX_READER_H

#include "hex_decode.h"
#include "input_stream.h"
#include "stop_codes.h"

#include <cstddef>
#include <cstdint>

// A one-byte count allows 255 data bytes; record_data buffers must hold that many.
constexpr std::size_t RECORD_DATA_MAX = 255;

constexpr int RECORD_DATA = 0x00;
constexpr int RECORD_EOF = 0x01;
constexpr int RECORD_SEGMENT_BASE = 0x02;
constexpr int RECORD_SEGMENT_START = 0x03;
constexpr int RECORD_LINEAR_BASE = 0x04;
constexpr int RECORD_LINEAR_START = 0x05;

// Reads the next record from hex_in, skipping any text before its ':' when `first` is set. Returns
// its type, RECORD_END for the end-of-file record, or an error result. For types 02 and 04,
// `address` receives the record's 16-bit value; for all others, its address field. The input
// stops right after the character that made an error.
int read_hex_record(std::uint32_t &address, std::uint8_t *record_data, std::uint8_t &byte_count,
                    bool first);

// The base that extended address records (types 02 and 04) set for the data records after them.
struct AddressBase {
    std::uint32_t base = 0;
    bool segmented = false; // a type 02 base: addresses wrap at the end of the 64 KiB segment
};

// Where the bytes of a data record go: the first `before_wrap` from `address` on, the rest
// (wrapped round their 64 KiB segment) from `wrapped` on.
struct DataPlace {
    std::uint32_t address;
    std::uint32_t before_wrap;
    std::uint32_t wrapped;
};

// Whether plain records, the plainly good data records, are taken whole (take_plain_record); the
// tests turn it off to compare with the character reader alone.
inline bool plain_records = true;

// The characters of a data record after its mark: count, address, type and checksum, with the
// data between, two digits each; and the bytes they spell.
constexpr std::ptrdiff_t RECORD_TEXT_MIN = 2 * 5;
constexpr std::size_t RECORD_BYTES_MAX = 5 + RECORD_DATA_MAX;
static_assert(INPUT_SLACK >= DECODE_READS_PAST, "the decoder reads within the input block");

// What take_plain_record keeps from one record to the next: a count that was checked, and the
// length of its records, so that the next record's start does not wait for the decoding of a
// count seen before.
struct PlainCount {
    unsigned count = 16;
    std::ptrdiff_t length = 1 + RECORD_TEXT_MIN + 2 * 16;
};

// Room for a plain record's bytes: count, address, type, data from [4] on, and checksum; the
// decoder writes past them.
constexpr std::size_t PLAIN_BYTES = RECORD_BYTES_MAX + DECODE_WRITES_PAST;

// Takes the data record at `at` into `bytes` (PLAIN_BYTES) and moves `at` past it when it is
// plainly good: its mark first or after one line end, whole in the block, all digits, its
// checksum right, at least one data byte, and its data within `field_end_max` of its base
// (0x10000 under a segment base, which wraps, 0x20000 under a linear one). Returns its byte
// count, with its address field in `field`; or 0, leaving `at`, for anything else: the character
// reader judges it.
QUORLIT_INLINE unsigned take_plain_record(InputCursor &at, std::uint32_t field_end_max,
                                          PlainCount &seen, std::uint8_t *bytes,
                                          std::uint32_t &field) {
    // The block's slack makes the line end's characters safe to look at. Branches, not
    // arithmetic, so that the next record's start is predicted.
    const unsigned char *text = at.next;
    if (text[0] == '\r' && text[1] == '\n')
        text += 2;
    else if (text[0] == '\r' || text[0] == '\n')
        text += 1;
    if (at.end - text <= RECORD_TEXT_MIN || *text != ':') return 0;
    unsigned count = hex_pair(text + 1);
    if (count != seen.count) {
        if (count - 1 > 0xFEu) return 0; // no data, or a bad digit
        seen.count = count;
        seen.length = 1 + RECORD_TEXT_MIN + 2 * static_cast<std::ptrdiff_t>(count);
    }
    std::ptrdiff_t length = seen.length;
    if (at.end - text < length) return 0;
    unsigned sum = 0;
    if (!decode_hex(text + 1, 5 + count, bytes, sum) || sum != 0 || bytes[3] != RECORD_DATA)
        return 0;
    std::uint32_t address_field = static_cast<std::uint32_t>(bytes[1] << 8 | bytes[2]);
    if (address_field + count > field_end_max) return 0;
    field = address_field;
    at.next = text + length;
    return count;
}

// How far the data of a record may reach past its base's address field 0 and still be taken
// whole: the end of a 64 KiB segment, which wraps, or past it under a linear base, which does not.
inline std::uint32_t plain_field_end(const AddressBase &base) {
    return base.segmented ? 0x10000 : 0x20000;
}

// A walk through the records of hex_in, with the base that its extended address records set.
struct RecordWalk {
    AddressBase base;
    DataPlace place;
    const std::uint8_t *data = nullptr;  // the data of the record read last
    std::uint8_t count = 0;              // and their count
    std::uint32_t field = 0;             // its address field (02 and 04: the value it gives)
    bool first = true;                   // no record read yet
    PlainCount seen;                     // of plain records
    std::uint8_t plain[PLAIN_BYTES];     // a plain record's bytes
    std::uint8_t exact[RECORD_DATA_MAX]; // a record that the character reader read
};

// Reads the next record of the walk as read_hex_record does, takes an extended address record's
// base into the walk, and sets its place for a data record's bytes.
int next_record(RecordWalk &walk);

// Returns the value (0 to 15) of the hexadecimal digit c (either case), or -1.
int hex_digit_value(int c);

// What the start of a file looks like, judged before any file is written.
constexpr int LOOKS_HEX = 0;     // a record comes before anything that is not text, or no judgement
constexpr int LOOKS_EMPTY = 1;   // nothing at all
constexpr int LOOKS_ELF = 2;     // an ELF object file
constexpr int LOOKS_SRECORD = 3; // S0 to S9 records, and no Intel HEX record before them
constexpr int LOOKS_BINARY = 4;  // a byte that is no text before any record
constexpr int LOOKS_TEXT = 5;    // the whole file is text without a record

// Returns what the `length` characters at the start of a file look like; `whole` says they are
// all of it. A record is a ':' and ten hexadecimal digits (count, address, type, checksum), on
// any line: text before the first (a header, comments) is skipped as the reader skips it. Sets
// `good_first` to whether the first such record is whole there and its checksum adds up.
int judge_file_start(const unsigned char *text, std::size_t length, bool whole, bool &good_first);

#endif
