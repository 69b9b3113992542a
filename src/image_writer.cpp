#include "image_writer.h"

#include "address_runs.h"
#include "hex_decode.h"
#include "hex_reader.h"
#include "streams.h"

#include <cstring>

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

// The stop when the output block cannot go back to a part of the image: a write that failed
// before, or an output that cannot seek or be read.
int unreachable() {
    return image_out.failed ? CONVERT_WRITE_FAILED : CONVERT_NO_SEEK;
}

// Returns the first offset in [offset, offset + count) that holds data other than `bytes`, or
// `end` when there is none. Sets `stop` when the image cannot be read back.
std::uint32_t find_change(std::uint32_t offset, const std::uint8_t *bytes, std::uint32_t count,
                          std::uint32_t end, int &stop) {
    std::uint32_t last = offset + count - 1;
    for (std::size_t i = find_run(offset); i != run_end() && run_at(i).first <= last;
         i = next_run(i)) {
        std::uint32_t from = run_at(i).first > offset ? run_at(i).first : offset;
        std::uint32_t to = run_at(i).last < last ? run_at(i).last : last;
        for (std::uint32_t at = from; at <= to;) {
            const unsigned char *held = nullptr;
            std::size_t length = output_at(at, held);
            if (length == 0) {
                stop = unreachable();
                return end;
            }
            for (std::size_t k = 0; k < length && at <= to; ++k, ++at)
                if (held[k] != bytes[at - offset]) return at;
        }
    }
    return end;
}

// Writes the bytes of a run at flash address `address` that fall inside the window, after fill
// from the end of the image. Returns 0, or an error writing nothing: the image cannot grow past
// 2 GiB, and a run that starts below its end is refused unless `any_order` lets it be written in
// place without changing data already written (then `detail` receives the first offset that it
// would change).
int place_run(Image &image, std::uint32_t address, const std::uint8_t *bytes, std::uint32_t count,
              std::uint32_t &detail) {
    const ImageOptions &options = image.options;
    std::uint32_t &bytes_written = image.bytes_written;
    std::uint32_t offset = address - image.flash_start;
    std::uint32_t first = 0;
    std::uint32_t inside = cut_to_window(offset, count, image.flash_size, first);
    if (inside == 0) return 0;
    if (offset < bytes_written && !options.any_order) return CONVERT_LOWER_ADDRESS;
    if (offset >= IMAGE_MAX || inside > IMAGE_MAX - offset) return CONVERT_TOO_LARGE;
    bytes += first;
    std::uint32_t below = 0; // the bytes that go below the image's end
    if (offset < bytes_written)
        below = bytes_written - offset < inside ? bytes_written - offset : inside;
    if (below > 0 && !options.replace) {
        int stop = 0;
        detail = find_change(offset, bytes, below, bytes_written, stop);
        if (stop != 0) return stop;
        if (detail != bytes_written) return CONVERT_CHANGED_DATA;
    }
    if (options.any_order && !add_run(offset, offset + inside - 1)) return CONVERT_TOO_MANY_RUNS;
    if (below > 0 && !output_overwrite(offset, bytes, below)) return unreachable();
    if (below == inside) return 0;
    output_fill(options.fill, offset + below - bytes_written);
    output_write(bytes + below, inside - below);
    bytes_written = offset + inside;
    return 0;
}

// Notes a piece of a data record for the window checks, and writes it (see place_run); sets
// `stop_detail` to what a stop names.
int place_piece(Image &image, std::uint32_t address, const std::uint8_t *bytes,
                std::uint32_t count) {
    if (image.flash_size != 0)
        note_data(image.checks, address, address - image.flash_start, count, image.flash_size,
                  image.input, input_position());
    image.stop_detail = address;
    std::uint32_t changed = 0;
    int stop = place_run(image, address, bytes, count, changed);
    if (stop == CONVERT_CHANGED_DATA) image.stop_detail = image.flash_start + changed;
    return stop;
}

// The characters of a data record after its mark: count, address, type and checksum, with the
// data between, two digits each; and the bytes they spell.
constexpr std::ptrdiff_t RECORD_TEXT_MIN = 2 * 5;
constexpr std::size_t RECORD_BYTES_MAX = 5 + RECORD_DATA_MAX;
static_assert(INPUT_SLACK >= DECODE_READS_PAST, "the decoder reads within the input block");

// The window checks of a run of records that each continue the image and the piece before are
// brought up to date when the run ends: only the piece's end moves. NO_RUN: no such run.
constexpr std::uint32_t NO_RUN = 0xFFFFFFFFu;

void end_run(WindowChecks &checks, std::uint32_t run_end, std::uint32_t size) {
    if (run_end == NO_RUN) return;
    checks.piece_end = run_end;
    if (run_end == size) checks.last_given = true;
}

// Where a record must start to continue the image and the window checks' last piece inside the
// window, or NO_RUN.
std::uint32_t run_end_of(const Image &image) {
    const WindowChecks &checks = image.checks;
    return checks.inside && checks.piece_end == image.bytes_written ? image.bytes_written : NO_RUN;
}

// Places the data records that follow in hex_in as long as each is plainly good: whole in the
// block after at most a line end, all digits, its checksum right, under a base that does not wrap
// it. Those that land at or past the image's end inside the window go straight to the output
// block; the rest are placed as the character reader's are. Leaves hex_in at the first record
// that is not plainly good, for the character reader to judge. Returns 0, or the stop of a
// record that cannot be placed.
int place_plain_records(Image &image, const AddressBase &base) {
    // Locals, so that the state stays in registers across records.
    const std::uint32_t flash_start = image.flash_start;
    // The image's end may grow up to here.
    const std::uint64_t limit = image.flash_size < IMAGE_MAX ? image.flash_size : IMAGE_MAX;
    const bool any_order = image.options.any_order;
    // Records in any order are added to the run list, not in the loop that only appends.
    const std::uint64_t append_limit = any_order ? 0 : limit;
    // A record's data may reach a 64 KiB segment's end, or run past it under a linear base.
    const std::uint32_t field_end_max = base.segmented ? 0x10000 : 0x20000;
    // The window offset of the base's address field 0.
    const std::uint32_t base_offset = base.base - flash_start;
    std::uint32_t written = image.bytes_written;
    std::uint32_t run_end = run_end_of(image);
    const unsigned char *next = hex_in.next;
    const unsigned char *const end = hex_in.end;
    std::uint64_t placed = 0;
    int stop = 0;
    // A count that was checked, and the length of its records: the next record's start does not
    // wait for the decoding of a count seen before.
    unsigned last_count = 16;
    std::ptrdiff_t length = 1 + RECORD_TEXT_MIN + 2 * 16;
    // Data copied 16 bytes at a time from bytes + 4 reads at most 15 bytes past the checksum.
    std::uint8_t bytes[RECORD_BYTES_MAX + DECODE_WRITES_PAST];
    static_assert(DECODE_WRITES_PAST >= 15, "the copy reads within bytes");
    while (stop == 0) {
        // Records that continue the image where the output block has room for them: no calls, so
        // that the decoder's constants stay in registers.
        unsigned count = 0;
        std::uint32_t offset = 0;
        bool plain = false;
        std::size_t used = image_out.used;
        for (;;) {
            // The block's slack makes the line end's characters safe to look at.
            // Branches, not arithmetic, so that the next record's start is predicted.
            const unsigned char *text = next;
            if (next[0] == '\r' && next[1] == '\n')
                text = next + 2;
            else if (next[0] == '\r' || next[0] == '\n')
                text = next + 1;
            if (end - text <= RECORD_TEXT_MIN || *text != ':') break;
            count = hex_pair(text + 1);
            if (count != last_count) {
                if (count - 1 > 0xFEu) break;
                last_count = count;
                length = 1 + RECORD_TEXT_MIN + 2 * count;
            }
            if (end - text < length) break;
            unsigned sum = 0;
            if (!decode_hex(text + 1, 5 + count, bytes, sum) || sum != 0 || bytes[3] != RECORD_DATA)
                break;
            std::uint32_t field = static_cast<std::uint32_t>(bytes[1] << 8 | bytes[2]);
            if (field + count > field_end_max) break;
            offset = base_offset + field;
            next = text + length;
            ++placed;
            plain = true;
            if (offset != run_end || std::uint64_t{offset} + count > append_limit ||
                count > OUTPUT_BLOCK - used)
                break;
            unsigned char *to = image_out.block + used;
            std::memcpy(to, bytes + 4, 16);
            if (count > 16) std::memcpy(to + 16, bytes + 20, count - 16);
            used += count;
            written = offset + count;
            run_end = written;
            plain = false;
        }
        image_out.used = used;
        if (!plain) break;
        std::uint32_t address = flash_start + offset;
        bool inside = std::uint64_t{offset} + count <= limit;
        if (inside && offset == run_end && (!any_order || add_run(offset, offset + count - 1))) {
            output_append_16(bytes + 4, count);
            written = offset + count;
            run_end = written;
            continue;
        }
        end_run(image.checks, run_end, image.flash_size);
        if (inside && offset >= written && (!any_order || add_run(offset, offset + count - 1))) {
            note_inside(image.checks, address, offset, count, image.flash_size);
            output_fill(image.options.fill, offset - written);
            output_append_16(bytes + 4, count);
            written = offset + count;
            run_end = written;
            continue;
        }
        hex_in.next = next;
        image.bytes_written = written;
        stop = place_piece(image, address, bytes + 4, count);
        written = image.bytes_written;
        run_end = run_end_of(image);
    }
    end_run(image.checks, run_end, image.flash_size);
    plain_records_placed += placed;
    image.bytes_written = written;
    hex_in.next = next;
    return stop;
}

} // namespace

void start_image(Image &image, std::uint32_t flash_start, std::uint32_t flash_size,
                 const ImageOptions &options) {
    image = {flash_start, flash_size, options, 0, 0, 0, {}};
    clear_runs();
}

int convert_hex_to_image(Image &image) {
    std::uint8_t record_data[RECORD_DATA_MAX];
    AddressBase base;
    int stop = 0;
    for (bool first = true; stop == 0; first = false) {
        if (!first && plain_records) {
            stop = place_plain_records(image, base);
            if (stop != 0) break;
        }
        std::uint8_t byte_count = 0;
        DataPlace place = {};
        int result = read_placed_record(base, place, record_data, byte_count, first);
        if (result < 0) {
            image.stop_detail = byte_count;
            return result;
        }
        // Only data bytes move the image; other records carry no image content.
        if (result != RECORD_DATA || byte_count == 0) continue;

        stop = place_piece(image, place.address, record_data, place.run);
        // The bytes that wrap round a 64 KiB segment are a piece of their own.
        if (stop == 0 && place.run < byte_count)
            stop =
                place_piece(image, place.wrapped, record_data + place.run, byte_count - place.run);
    }
    return stop;
}

int finish_image(Image &image) {
    if (!image.options.pad) return RECORD_END;
    if (image.flash_size > IMAGE_MAX) return CONVERT_TOO_LARGE;
    output_fill(image.options.fill, image.flash_size - image.bytes_written);
    image.bytes_written = image.flash_size;
    return RECORD_END;
}
