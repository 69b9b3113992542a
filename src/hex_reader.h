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
// Record types:
//   00  data: the bytes go to base + AAAA, base + AAAA + 1, ... (modulo 2^32)
//   01  end of file, when its byte count is 0
//   02  extended segment address: base = 16-bit value << 4
//   03  start segment address (CS:IP); ignored
//   04  extended linear address: base = 16-bit value << 16
//   05  start linear address (EIP); ignored
#ifndef QUORLIT_HEX_READER_H
#define QUORLIT_HEX_READER_H

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

// Where the bytes of a data record go: the first `run` from `address` on, the rest (wrapped
// round their segment) from `wrapped` on.
struct DataPlace {
    std::uint32_t address;
    std::uint32_t run;
    std::uint32_t wrapped;
};

// Reads the next record as read_hex_record does, takes an extended address record's base into
// `base`, and sets `place` for a data record's bytes.
int read_placed_record(AddressBase &base, DataPlace &place, std::uint8_t *record_data,
                       std::uint8_t &byte_count, bool first);

// A walk through the records of hex_in, with the base that its extended address records set.
struct RecordWalk {
    AddressBase base;
    DataPlace place;
    std::uint8_t data[RECORD_DATA_MAX];
    std::uint8_t count = 0;
    bool first = true; // no record read yet
};

// Reads the next record of the walk as read_placed_record does.
int next_record(RecordWalk &walk);

// Returns the value (0 to 15) of the hexadecimal digit c (either case), or -1.
int hex_digit_value(int c);

#endif
