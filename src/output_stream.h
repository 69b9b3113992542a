// The output stream, image_out: the image grows at the end of a block of our own over an
// unbuffered C file, so that every write reaches the file where it is checked. Records below the
// image's end go to pages of the image read back from the file. Only the functions below change
// its fields.
#ifndef QUORLIT_OUTPUT_STREAM_H
#define QUORLIT_OUTPUT_STREAM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

// 64 pages, the least recently used one giving way, so that records that cycle over as many
// places cost no reads or writes; of 8 KiB, so that records that go back over a long stretch
// (records in reverse order, a merge) cost few reads, and all of them (512 KiB) keep the run's
// peak memory under 4 MiB. A page is written back only where a byte changed.
constexpr std::size_t OUTPUT_BLOCK = 32 * 1024;
constexpr std::size_t OUTPUT_SLACK = 16; // a copy of 16 bytes may reach this far past the block
constexpr std::size_t OUTPUT_PAGE = 8 * 1024;
constexpr std::size_t OUTPUT_PAGES = 64;
constexpr std::size_t PAGE_HINTS = 1024;
static_assert(OUTPUT_PAGES <= 256, "a hint names a page in a byte");

struct OutputPage {
    std::uint64_t start;    // the image offset of bytes[0], a multiple of OUTPUT_PAGE
    std::size_t length;     // the bytes held; 0 for a page not in use
    std::size_t dirty_from; // bytes [dirty_from, dirty_to) changed since the page was read
    std::size_t dirty_to;
    unsigned char bytes[OUTPUT_PAGE];
};

// Sees each block of the image as it goes to the file, in address order: its offset, bytes and
// count.
using OutputTap = void (*)(std::uint64_t offset, const unsigned char *bytes, std::size_t count);

// The output block holds the image bytes [block_start, block_start + used): the end of the
// image. Below block_start the image is in the file, or changed in a page.
struct OutputStream {
    std::FILE *file;
    std::uint64_t block_start;
    std::size_t used;
    std::uint64_t file_position; // where the file's next read or write goes; unknown after a read
    bool failed;                 // a write, seek or read failed
    bool readable;               // the file was opened for reading too
    bool read_failed;            // a read of the image failed
    std::uint64_t uses;          // pages used so far
    OutputPage *last_page;       // the page used last
    OutputTap tap;               // sees the blocks as they go out, or nullptr
    bool rewritten;              // a byte below block_start changed after it went out
    bool sparse;                 // fill is not kept: the image skips its holes (no file)
    // Each page's start (NO_PAGE where it holds nothing) and when it was last used, side by side,
    // so that looking for a page reads two small arrays rather than a line of every page.
    std::uint64_t page_start[OUTPUT_PAGES];
    std::uint64_t page_used_at[OUTPUT_PAGES];
    // The page that last held each image page number modulo PAGE_HINTS: a page found again costs
    // no search.
    std::uint8_t page_hint[PAGE_HINTS];
    unsigned char block[OUTPUT_BLOCK + OUTPUT_SLACK];
    OutputPage pages[OUTPUT_PAGES];
};

// Defined in output_stream.cpp: Windows linkers keep an inline variable's zeros in the executable.
extern OutputStream image_out;

// Takes over an open file as image_out; `readable` where it was opened for reading too.
void open_output(std::FILE *file, bool readable);

// Opens image_out without a file: its blocks go to `sink` alone, and fill is skipped rather than
// handed on unless `keep_fill`. Nothing below the block can be read back.
void open_output_to(OutputTap sink, bool keep_fill);

// The file of image_out, or nullptr where its blocks go to a sink.
inline std::FILE *output_file() {
    return image_out.file;
}

// Writes the block to the file; a failure is recorded in image_out.failed.
void flush_output();

// Whether a write, seek or read of image_out failed.
inline bool output_failed() {
    return image_out.failed;
}

// Lets `tap` see every block of the image that goes to the file from now on.
inline void tap_output(OutputTap tap) {
    image_out.tap = tap;
}

// Where the image's bytes not yet gone to the file start, and whether a byte below that changed
// after it had gone out.
inline std::uint64_t output_flushed() {
    return image_out.block_start;
}
inline bool output_rewritten() {
    return image_out.rewritten;
}

// Whether reading the image back failed.
inline bool output_read_failed() {
    return image_out.read_failed;
}

// The output block's free space: returns where the next byte of the image goes, and sets `room`
// to how many fit; a copy of 16 bytes may reach OUTPUT_SLACK past them.
inline unsigned char *output_space(std::size_t &room) {
    room = OUTPUT_BLOCK - image_out.used;
    return image_out.block + image_out.used;
}

// Makes room for `count` (at most OUTPUT_BLOCK) bytes at the end of the output block, writing
// the block out first where it has less, so that they stay in memory until it next fills.
inline void output_keep(std::size_t count) {
    if (count > OUTPUT_BLOCK - image_out.used) flush_output();
}

// Adds to the image the `count` bytes written at output_space().
inline void output_commit(std::size_t count) {
    image_out.used += count;
}

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

// Writes the rest of the output to its file, which stays open. Returns false when any write,
// seek or read failed.
bool settle_output();

// Writes the rest of the output and closes its file. Returns false when any write, seek, read or
// the close failed.
bool close_output();

#endif
