// The two process-wide streams of a run: block buffers of our own over C files that the C library
// does not buffer, so that every read and write reaches the file where it is checked, on every
// platform. The front end opens and closes them; the HEX reader only reads hex_in and the image
// writer only writes image_out.
#ifndef QUORLIT_STREAMS_H
#define QUORLIT_STREAMS_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

// Two input blocks of 512 KiB: while records are decoded from one, a second thread reads the next
// block into the other, from a file that never makes a read wait (see open_input). Blocks of this
// size hand over few enough times that the thread's waking up costs nothing measurable; larger
// ones gain nothing. The record decoder may read INPUT_SLACK characters past the block's end; it
// never uses them.
constexpr std::size_t INPUT_BLOCK = 512 * 1024;
constexpr std::size_t INPUT_SLACK = 64;
// Smaller files are read without the second thread: starting it costs more than it saves on a
// few blocks (milliseconds under Wine).
constexpr std::uint64_t READ_AHEAD_MIN = 4 * INPUT_BLOCK;

struct InputStream {
    std::FILE *file;
    bool read_ahead;           // the next block may be read ahead
    const unsigned char *next; // the next character to hand out
    const unsigned char *end;  // the end of the characters in block
    std::uint64_t block_start; // input position of block[0]
    bool ended;                // a read found the file's end, or failed
    bool failed;               // a read failed
    unsigned char *block;      // one of blocks
    unsigned char blocks[2][INPUT_BLOCK + INPUT_SLACK];
};

// The image grows at the end of the output block. Records below the image's end go to pages of
// the image read back from the file, written back only where they changed: OUTPUT_PAGES of them,
// the least recently used one giving way, so that records that alternate between a few places
// cost no reads or writes.
constexpr std::size_t OUTPUT_BLOCK = 32 * 1024;
constexpr std::size_t OUTPUT_SLACK = 16; // a copy of 16 bytes may reach this far past the block
constexpr std::size_t OUTPUT_PAGE = 16 * 1024;
constexpr std::size_t OUTPUT_PAGES = 32;

struct OutputPage {
    std::uint64_t start;    // the image offset of bytes[0], a multiple of OUTPUT_PAGE
    std::size_t length;     // the bytes held; 0 for a page not in use
    std::size_t dirty_from; // bytes [dirty_from, dirty_to) changed since the page was read
    std::size_t dirty_to;
    std::uint64_t used_at; // when the page was last used
    unsigned char bytes[OUTPUT_PAGE];
};

// The output block holds the image bytes [block_start, block_start + used): the end of the
// image. Below block_start the image is in the file, or changed in a page.
struct OutputStream {
    std::FILE *file;
    std::uint64_t block_start;
    std::size_t used;
    std::uint64_t file_position; // where the file's next read or write goes; unknown after a read
    bool failed;                 // a write or seek failed
    std::uint64_t uses;          // pages used so far
    OutputPage *last_page;       // the page used last
    unsigned char block[OUTPUT_BLOCK + OUTPUT_SLACK];
    OutputPage pages[OUTPUT_PAGES];
};

// Defined in streams.cpp (see run_list).
extern InputStream hex_in;
extern OutputStream image_out;

// A reading position kept in local variables across a record, and written back once.
struct InputCursor {
    const unsigned char *next;
    const unsigned char *end;
};

// Takes over an open file as hex_in and reads its first block. Returns false when that read fails
// (a folder opens on some systems, but cannot be read). With `read_ahead`, each next block is
// read while the one before is used: only for a file whose reads never wait for a writer (not a
// pipe or a terminal), which could otherwise keep the run waiting for input it does not need.
bool open_input(std::FILE *file, bool read_ahead);

// Waits for a block being read ahead of hex_in, and drops it; reading goes on from the file's
// position. Before hex_in is copied or replaced, or its file closed.
void settle_input();

// Goes back to the start of hex_in. Returns false when it cannot (a pipe).
bool rewind_input();

// Reads the next block of hex_in. Returns its first character, leaving hex_in.next after it, or
// EOF at the end or on an error.
int refill_input();

// Returns the next character of hex_in, or EOF. The cursor never leaves the caller, so that it
// stays in registers.
inline int input_char(InputCursor &at) {
    if (at.next != at.end) return *at.next++;
    int c = refill_input();
    at.next = hex_in.next;
    at.end = hex_in.end;
    return c;
}

// The number of characters read from hex_in so far.
inline std::uint64_t input_position() {
    return hex_in.block_start + static_cast<std::uint64_t>(hex_in.next - hex_in.block);
}

// The last character read, or EOF when it is no longer held.
inline int input_last() {
    return hex_in.next > hex_in.block ? hex_in.next[-1] : EOF;
}

// Reads hex_in again from its start and returns the line, counted from 1, that holds input
// position `position`; a CR, an LF or a CR LF ends a line. Returns 0 when the input cannot go
// back to its start (a pipe) or no longer holds that position.
std::uint64_t input_line(std::uint64_t position);

// Takes over an open file as image_out.
void open_output(std::FILE *file);

// Writes the block to the file; a failure is recorded in image_out.failed.
void flush_output();

// Adds `length` bytes at the end of the output block.
inline void output_write(const unsigned char *bytes, std::size_t length) {
    while (length > 0) {
        if (image_out.used == OUTPUT_BLOCK) flush_output();
        std::size_t room = OUTPUT_BLOCK - image_out.used;
        std::size_t part = length < room ? length : room;
        std::memcpy(image_out.block + image_out.used, bytes, part);
        image_out.used += part;
        bytes += part;
        length -= part;
    }
}

// Adds `length` (1 or more) bytes at the end of the output block, copying at least 16: `bytes`
// must hold 16.
inline void output_append_16(const unsigned char *bytes, std::size_t length) {
    if (length > OUTPUT_BLOCK - image_out.used) {
        output_write(bytes, length);
        return;
    }
    unsigned char *to = image_out.block + image_out.used;
    std::memcpy(to, bytes, 16);
    if (length > 16) std::memcpy(to + 16, bytes + 16, length - 16);
    image_out.used += length;
}

// Adds `length` bytes of value `fill` at the end of the output block.
void output_fill(unsigned char fill, std::uint64_t length);

// Finds image offset `offset`, below the image's end, in the output block or a page, reading
// the image back from the file. Returns how many bytes from that offset are held there, and
// points `bytes` at them; 0 when the file cannot go back (a pipe, a terminal) or be read.
std::size_t output_at(std::uint64_t offset, const unsigned char *&bytes);

// Writes `count` bytes over the image at `offset`, below its end. Returns false when the image
// cannot be read back there (see output_at).
bool output_overwrite(std::uint64_t offset, const unsigned char *bytes, std::size_t count);

// Writes the rest of the output and closes its file. Returns false when any write, seek or the
// close failed.
bool close_output();

#endif
