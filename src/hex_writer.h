// Intel HEX writer: the image's bytes as records at their flash addresses.
//
// What it writes is what readers of every kind take: data records of at most 16 bytes that
// never cross a 16-byte boundary of flash addresses, so that none crosses a 64 KiB one;
// upper-case digits; an extended linear address record (04) before the first data record and
// wherever the upper 16 bits of the address change, and no 02 or 03 of its own; the inputs'
// start address record as they gave it; and the end-of-file record last.
#ifndef QUORLIT_HEX_WRITER_H
#define QUORLIT_HEX_WRITER_H

#include "image_writer.h"
#include "stamps.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Starts Intel HEX on `file` for the image of a window at `flash_start`, with CR LF line ends
// where `crlf` is set, LF otherwise.
void start_hex(std::FILE *file, std::uint32_t flash_start, bool crlf);

// Writes the `count` bytes of the image at offset `offset` as data records; bytes that continue
// those written before go on in the same record. Of the shape of an OutputTap, so that the
// output stream can hand its blocks on as they go out.
void write_hex_data(std::uint64_t offset, const unsigned char *bytes, std::size_t count);

// Writes the image of `length` bytes held in the file `image`: all of it where `whole` is set;
// else the data of the run list and the bytes of the stamps of `plan`, leaving the holes out.
// Returns false when the file cannot be read, or the run list cannot hold the stamps.
bool write_hex_image(std::FILE *image, std::uint32_t length, bool whole, const StampPlan &plan);

// Ends the Intel HEX and closes its file: for a whole image, `start` where an input gave one and
// the end-of-file record after the data; an image that stopped short gets neither, so that no
// reader takes it for whole. Returns false when a write or the close failed.
bool end_hex(const StartRecord &start, bool whole);

// The data bytes and the data records written.
std::uint64_t hex_data_bytes();
std::uint64_t hex_data_records();

#endif
