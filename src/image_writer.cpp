#include "image_writer.h"

#include "hex_reader.h"
#include "streams.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

namespace {

// Image offsets are judged as signed 32-bit values, so no image grows past 2 GiB, whatever the
// window size.
constexpr std::uint32_t IMAGE_MAX = 0x80000000u;

constexpr std::size_t FILL_BLOCK = 64 * 1024;

// Writes `length` bytes of 0xFF to image_out.
void write_fill(std::uint32_t length) {
    static unsigned char block[FILL_BLOCK];
    if (block[0] != 0xFF) std::memset(block, 0xFF, sizeof block);
    while (length > 0) {
        std::size_t part = length < FILL_BLOCK ? length : FILL_BLOCK;
        stream_write(block, part, image_out);
        length -= static_cast<std::uint32_t>(part);
    }
}

// Finds the part of a run of `count` bytes at window offset `offset` (modulo 2^32) that falls
// inside [0, limit): sets `first` to the index of its first byte and `offset` to that byte's
// window offset. Returns how many bytes fall inside; 0 when none do.
std::uint32_t cut_to_window(std::uint32_t &offset, std::uint32_t count, std::uint32_t limit,
                            std::uint32_t &first) {
    first = 0;
    if (offset >= limit) {
        // A run that starts below the window can still reach into it across 2^32.
        std::uint32_t below = 0u - offset;
        if (below >= count) return 0;
        first = below;
        offset = 0;
    }
    std::uint32_t inside = count - first;
    return inside < limit - offset ? inside : limit - offset;
}

// Writes the bytes of a run at window offset `offset` that fall inside the window, after 0xFF
// fill from the end of the image. Returns false, writing nothing, when they would start below
// the end of the image: the image is streamed and cannot go back.
bool place_run(std::uint32_t offset, const std::uint8_t *bytes, std::uint32_t count,
               std::uint32_t limit, std::uint32_t &bytes_written) {
    std::uint32_t first = 0;
    std::uint32_t inside = cut_to_window(offset, count, limit, first);
    if (inside == 0) return true;
    if (offset < bytes_written) return false;
    write_fill(offset - bytes_written);
    stream_write(bytes + first, inside, image_out);
    bytes_written = offset + inside;
    return true;
}

} // namespace

std::uint32_t convert_hex_to_image(std::uint32_t flash_start, std::uint32_t flash_size,
                                   bool &reached_end) {
    std::uint8_t record_data[RECORD_DATA_MAX];
    std::uint32_t limit = flash_size < IMAGE_MAX ? flash_size : IMAGE_MAX;
    std::uint32_t bytes_written = 0;
    std::uint32_t base = 0;
    bool segmented = false;
    reached_end = false;

    for (;;) {
        std::uint32_t address = 0;
        std::uint8_t byte_count = 0;
        int result = read_hex_record(address, record_data, byte_count);
        if (result == RECORD_END) {
            reached_end = true;
            return bytes_written;
        }
        if (result < 0) {
            std::puts("\nCheck sum or other error error");
            return bytes_written;
        }
        if (result == RECORD_SEGMENT_BASE || result == RECORD_LINEAR_BASE) {
            segmented = result == RECORD_SEGMENT_BASE;
            base = address << (segmented ? 4 : 16);
        }
        // Only data bytes move the image; other records carry no image content.
        if (result != RECORD_DATA || byte_count == 0) continue;

        // Under a segment base, addresses wrap at the end of the 64 KiB segment; under a linear
        // base they run on across it.
        std::uint32_t run = byte_count;
        if (segmented && address + run > 0x10000) run = 0x10000 - address;
        std::uint32_t offset = base + address - flash_start;
        if (!place_run(offset, record_data, run, limit, bytes_written) ||
            !place_run(base - flash_start, record_data + run, byte_count - run, limit,
                       bytes_written)) {
            std::puts("\nAttempt to use lower address error");
            return bytes_written;
        }
    }
}
