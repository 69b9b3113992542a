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
// Digits may be upper or lower case. Anything between the last digit of one record and the next
// ':' (line ends, blank lines, other text) is ignored.
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

#include <cstddef>
#include <cstdint>

// Record results besides the type byte (0 to 255) of a good record.
constexpr int RECORD_END = -2;
constexpr int RECORD_ERROR = -1;

// A one-byte count allows 255 data bytes; record_data buffers must hold that many.
constexpr std::size_t RECORD_DATA_MAX = 255;

constexpr int RECORD_DATA = 0x00;
constexpr int RECORD_EOF = 0x01;
constexpr int RECORD_SEGMENT_BASE = 0x02;
constexpr int RECORD_LINEAR_BASE = 0x04;

// Reads the next record from hex_in. Returns its type, RECORD_END for the end-of-file record, or
// RECORD_ERROR for a bad checksum, a character that is not a hexadecimal digit inside a record,
// an extended address record whose count is not 2, or the end of the input (or a read error)
// before the end-of-file record. For types 02 and 04, `address` receives the record's 16-bit
// value; for all others, its address field.
int read_hex_record(std::uint32_t &address, std::uint8_t *record_data, std::uint8_t &byte_count);

// Returns the next two bytes from hex_in as one big-endian word, or -1 (see read_hex_byte).
int read_hex_word(std::uint8_t &checksum);

// Returns the byte spelled by the next two digits on hex_in and adds it to `checksum`, or -1
// when either character is not a hexadecimal digit or the input ends.
int read_hex_byte(std::uint8_t &checksum);

// Returns the value (0 to 15) of the next character on hex_in, or -1 when it is not a
// hexadecimal digit or the input ends.
int read_hex_digit();

// Returns the value (0 to 15) of the hexadecimal digit c (either case), or -1.
int hex_digit_value(int c);

#endif
