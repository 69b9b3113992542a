#include "image_writer.h"

#include "hex_reader.h"
#include "streams.h"

#include <cstdio>

namespace {

// No image grows past 2 GiB, whatever the window size: image offsets and the reported size are
// signed 32-bit values.
constexpr std::uint32_t IMAGE_MAX = 0x80000000u;

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

// Writes the bytes of a run at window offset `offset` that fall inside the window, after fill
// from the end of the image. Returns 0, or an error writing nothing: the image is streamed and
// cannot go back below its end, nor grow past 2 GiB.
int place_run(std::uint32_t offset, const std::uint8_t *bytes, std::uint32_t count,
              std::uint32_t limit, std::uint8_t fill, std::uint32_t &bytes_written) {
    std::uint32_t first = 0;
    std::uint32_t inside = cut_to_window(offset, count, limit, first);
    if (inside == 0) return 0;
    if (offset < bytes_written) return CONVERT_LOWER_ADDRESS;
    if (offset >= IMAGE_MAX || inside > IMAGE_MAX - offset) return CONVERT_TOO_LARGE;
    output_fill(fill, offset - bytes_written);
    output_write(bytes + first, inside);
    bytes_written = offset + inside;
    return 0;
}

const char *stop_message(int stop) {
    if (stop == CONVERT_LOWER_ADDRESS) return "\nAttempt to use lower address error";
    if (stop == CONVERT_TOO_LARGE) return "\nAttempt to grow the image past 2 GiB error";
    return "\nCheck sum or other error error";
}

} // namespace

std::uint32_t convert_hex_to_image(std::uint32_t flash_start, std::uint32_t flash_size,
                                   std::uint8_t fill, bool pad, int &stop,
                                   std::uint32_t &stop_detail) {
    std::uint8_t record_data[RECORD_DATA_MAX];
    std::uint32_t bytes_written = 0;
    std::uint32_t base = 0;
    bool segmented = false;
    stop = 0;
    for (bool first = true; stop == 0; first = false) {
        std::uint32_t address = 0;
        std::uint8_t byte_count = 0;
        int result = read_hex_record(address, record_data, byte_count, first);
        if (result < 0) {
            stop = result;
            stop_detail = byte_count;
            break;
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
        stop_detail = base + address;
        stop =
            place_run(stop_detail - flash_start, record_data, run, flash_size, fill, bytes_written);
        if (stop == 0)
            stop = place_run(base - flash_start, record_data + run, byte_count - run, flash_size,
                             fill, bytes_written);
    }
    if (stop == RECORD_END && pad) {
        if (flash_size > IMAGE_MAX) {
            stop = CONVERT_TOO_LARGE;
        } else {
            output_fill(fill, flash_size - bytes_written);
            bytes_written = flash_size;
        }
    }
    if (stop != RECORD_END) std::puts(stop_message(stop));
    return bytes_written;
}
