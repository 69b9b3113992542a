// The image writer: places data in the window, fills holes, and keeps the image in order.
#include "image_writer.h"

#include "address_runs.h"
#include "hex_reader.h"
#include "input_files.h"
#include "streams.h"

#include <cstring>

namespace {

// No image grows past 2 GiB, whatever the window size: image offsets and the reported size are
// signed 32-bit values.
constexpr std::uint32_t IMAGE_MAX = 0x80000000u;

// Finds the part of the `count` bytes at window offset `offset` (modulo 2^32) that falls
// inside [0, limit): sets `first` to the index of its first byte and `offset` to that byte's
// window offset. Returns how many bytes fall inside; 0 when none do.
std::uint32_t cut_to_window(std::uint32_t &offset, std::uint32_t count, std::uint32_t limit,
                            std::uint32_t &first) {
    first = 0;
    if (offset >= limit) {
        // Bytes that start below the window can still reach into it across 2^32.
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
    return output_failed() ? CONVERT_WRITE_FAILED : CONVERT_NO_SEEK;
}

// Counts the offsets in [offset, offset + count) that hold data other than `bytes`, and sets
// `first` to the first of them; with `all` unset, stops at that one. Sets `stop` when the image
// cannot be read back.
std::uint32_t count_changes(std::uint32_t offset, const std::uint8_t *bytes, std::uint32_t count,
                            bool all, std::uint32_t &first, int &stop) {
    std::uint32_t last = offset + count - 1;
    std::uint32_t changes = 0;
    for (std::size_t i = find_run(offset); i != run_end() && run_at(i).first <= last;
         i = next_run(i)) {
        std::uint32_t from = run_at(i).first > offset ? run_at(i).first : offset;
        std::uint32_t to = run_at(i).last < last ? run_at(i).last : last;
        for (std::uint32_t at = from; at <= to;) {
            const unsigned char *held = nullptr;
            std::size_t length = output_at(at, held);
            if (length == 0) {
                stop = unreachable();
                return changes;
            }
            for (std::size_t k = 0; k < length && at <= to; ++k, ++at) {
                if (held[k] == bytes[at - offset]) continue;
                if (changes == 0) first = at;
                ++changes;
                if (!all) return changes;
            }
        }
    }
    return changes;
}

// Writes the `count` bytes at flash address `address` that fall inside the window, after fill
// from the end of the image. Returns STOP_NONE, or an error writing nothing: the image cannot grow
// past 2 GiB, and bytes that start below its end are refused unless `any_order` lets them be
// written in place without changing data already written (then `detail` receives the first offset
// that they would change), or `replace` lets them change it (the input's notes count the bytes
// changed).
int place_bytes(Image &image, std::uint32_t address, const std::uint8_t *bytes, std::uint32_t count,
                std::uint32_t &detail) {
    const ImageOptions &options = image.options;
    std::uint32_t &bytes_written = image.bytes_written;
    std::uint32_t offset = address - image.flash_start;
    std::uint32_t first = 0;
    std::uint32_t inside = cut_to_window(offset, count, image.flash_size, first);
    if (inside == 0) return STOP_NONE;
    if (offset < bytes_written && !options.any_order) return CONVERT_LOWER_ADDRESS;
    if (offset >= IMAGE_MAX || inside > IMAGE_MAX - offset) return CONVERT_TOO_LARGE;
    bytes += first;
    std::uint32_t below = 0; // the bytes that go below the image's end
    if (offset < bytes_written)
        below = bytes_written - offset < inside ? bytes_written - offset : inside;
    if (below != 0) {
        int stop = STOP_NONE;
        std::uint32_t changes = count_changes(offset, bytes, below, options.replace, detail, stop);
        if (stop != STOP_NONE) return stop;
        if (changes > 0 && !options.replace) return CONVERT_CHANGED_DATA;
        if (changes > 0)
            note_replaced(image.input, image.flash_start + detail, changes, input_position());
    }
    bool track = options.any_order || options.track_runs;
    if (track && !add_run(offset, offset + inside - 1)) return CONVERT_TOO_MANY_RUNS;
    if (below > 0 && !output_overwrite(offset, bytes, below)) return unreachable();
    if (below == inside) return STOP_NONE;
    output_fill(options.fill, offset + below - bytes_written);
    output_write(bytes + below, inside - below);
    bytes_written = offset + inside;
    return STOP_NONE;
}

// Notes a piece of a data record for the window checks, and writes it (see place_bytes).
// Returns the stop.
Stop place_piece(Image &image, std::uint32_t address, const std::uint8_t *bytes,
                 std::uint32_t count) {
    DataPiece piece = {address, address - image.flash_start, count};
    if (image.flash_size != 0) {
        note_data(image.checks, piece, {image.input, input_position()});
    } else {
        note_range(image.checks, address, count);
    }
    std::uint32_t changed = 0;
    int code = place_bytes(image, address, bytes, count, changed);
    if (code == STOP_NONE) return {};
    std::uint32_t value = code == CONVERT_CHANGED_DATA ? image.flash_start + changed : address;
    return stop_in_input(code, value, image.input);
}

// The bounds of the plain records under one base: where the image may grow to, whether records
// go to the run list (in any order, or under stamps), how far a record's data may reach past its
// base's address field 0, and the window offset of that field 0.
struct PlainBounds {
    std::uint64_t limit;
    bool track;
    std::uint32_t field_end_max;
    std::uint32_t base_offset;
};

// What the loop over plain records keeps in registers: the image's end, where a record must start
// to continue the streak (see streak_start), and how many records were taken.
struct Streak {
    std::uint32_t written;
    std::uint32_t end;
    std::uint64_t placed;
};

// Copies the plain records that continue the image into the output block's free space, calling
// nothing, until one does not. Returns that one's byte count, its bytes in `bytes` and its
// window offset in `offset`; or 0 where the next record is not plain.
QUORLIT_INLINE unsigned copy_streak(InputCursor &at, const PlainBounds &bounds, PlainCount &seen,
                                    std::uint8_t *bytes, Streak &streak, std::uint32_t &offset) {
    // Locals, so that the state stays in registers across records.
    const PlainBounds limits = bounds;
    InputCursor cursor = at;
    std::uint32_t end = streak.end;
    std::uint64_t placed = streak.placed;
    std::size_t room = 0;
    unsigned char *to = output_space(room);
    std::size_t used = 0;
    unsigned count = 0;
    std::uint32_t record_offset = 0;
    for (;;) {
        std::uint32_t field = 0;
        count = take_plain_record(cursor, limits.field_end_max, seen, bytes, field);
        if (count == 0) break;
        ++placed;
        record_offset = limits.base_offset + field;
        if (record_offset != end || limits.track ||
            std::uint64_t{record_offset} + count > limits.limit || count > room - used)
            break;
        std::memcpy(to + used, bytes + 4, 16);
        if (count > 16) std::memcpy(to + used + 16, bytes + 20, count - 16);
        used += count;
        end = record_offset + count;
    }
    output_commit(used);
    if (used != 0) streak.written = end;
    streak.end = end;
    streak.placed = placed;
    at = cursor;
    offset = record_offset;
    return count;
}

// Places a plain record of `count` bytes at window offset `offset` that does not simply continue
// the image in the output block: it may still continue it, or start after a hole; the rest is
// placed as the character reader's records are, with hex_in moved on to `at`. Returns the stop.
Stop place_taken(Image &image, const PlainBounds &bounds, const InputCursor &at, Streak &streak,
                 std::uint32_t offset, const std::uint8_t *data, unsigned count) {
    bool inside = std::uint64_t{offset} + count <= bounds.limit;
    bool track = bounds.track;
    if (offset == streak.end && inside && (!track || add_run(offset, offset + count - 1))) {
        output_append_16(data, count);
        streak.written = offset + count;
        streak.end = streak.written;
        return {};
    }
    end_streak(image.checks, streak.end);
    if (inside && offset >= streak.written && (!track || add_run(offset, offset + count - 1))) {
        note_inside(image.checks, {image.flash_start + offset, offset, count});
        output_fill(image.options.fill, offset - streak.written);
        output_append_16(data, count);
        streak.written = offset + count;
        streak.end = streak.written;
        return {};
    }
    input_resume(at);
    image.bytes_written = streak.written;
    Stop stop = place_piece(image, image.flash_start + offset, data, count);
    streak.written = image.bytes_written;
    streak.end = streak_start(image.checks, streak.written);
    return stop;
}

// Places the data records that follow in hex_in as long as each is plainly good (see
// take_plain_record) under a base that does not wrap it. Those that continue the image inside
// the window go straight to the output block; the rest are placed as the character reader's
// are. Leaves hex_in at the first record that is not plainly good. Returns the stop.
Stop place_plain_records(Image &image, const AddressBase &base) {
    const std::uint64_t limit = image.flash_size < IMAGE_MAX ? image.flash_size : IMAGE_MAX;
    const PlainBounds bounds = {limit, image.options.any_order || image.options.track_runs,
                                plain_field_end(base), base.base - image.flash_start};
    Streak streak = {image.bytes_written, streak_start(image.checks, image.bytes_written), 0};
    InputCursor at = input_cursor();
    PlainCount seen;
    std::uint8_t bytes[PLAIN_BYTES];
    static_assert(DECODE_WRITES_PAST >= 15, "a copy of 16 data bytes reads within bytes");
    Stop stop;
    while (!stopped(stop)) {
        std::uint32_t offset = 0;
        unsigned count = copy_streak(at, bounds, seen, bytes, streak, offset);
        if (count == 0) break;
        stop = place_taken(image, bounds, at, streak, offset, bytes + 4, count);
    }
    end_streak(image.checks, streak.end);
    plain_records_placed += streak.placed;
    image.bytes_written = streak.written;
    input_resume(at);
    return stop;
}

// Grows the image with fill up to offset `end`, where it ends below.
void grow_to(Image &image, std::uint32_t end) {
    if (end <= image.bytes_written) return;
    output_fill(image.options.fill, end - image.bytes_written);
    image.bytes_written = end;
}

// The stop where `subject` would take the image to offset `end`, past the window's end.
Stop past_window(std::uint64_t end, std::uint32_t flash_start, const char *subject) {
    Stop stop;
    stop.code = CONVERT_PAST_WINDOW;
    stop.value = flash_start + static_cast<std::uint32_t>(end);
    stop.subject = subject;
    return stop;
}

// Whether window offset `offset` holds data from the inputs.
bool holds_data(std::uint32_t offset) {
    std::size_t i = find_run(offset);
    return i != run_end() && run_at(i).first <= offset;
}

// Feeds the image's bytes [from, end) to `sum`, but for the `width` bytes at `own`. Returns
// false when the image cannot be read back.
bool feed_image(CheckSum &sum, std::uint32_t from, std::uint32_t end, std::uint32_t own,
                std::uint32_t width) {
    for (std::uint32_t at = from; at < end;) {
        if (at >= own && at - own < width) {
            at = own + width;
            continue;
        }
        const unsigned char *bytes = nullptr;
        std::size_t held = output_at(at, bytes);
        if (held == 0) return false;
        std::uint32_t part_end = own > at && own < end ? own : end;
        std::size_t count = held < part_end - at ? held : part_end - at;
        feed_check(sum, bytes, count);
        at += static_cast<std::uint32_t>(count);
    }
    return true;
}

// Sets the places of the stamps at the image's end, after it, rounded up to a multiple of 4,
// having grown the image to hold those at fixed places. Returns the stop.
Stop place_stamps(Image &image, StampPlan &plan) {
    for (int i = 0; i < plan.count; ++i) {
        const Stamp &stamp = plan.stamps[i];
        std::uint64_t stamp_end = std::uint64_t{stamp.offset} + stamp_width(stamp.kind);
        if (stamp.where != STAMP_AT_END && stamp_end > IMAGE_MAX) {
            Stop stop;
            stop.code = CONVERT_TOO_LARGE;
            return stop;
        }
        if (stamp.where != STAMP_AT_END) grow_to(image, static_cast<std::uint32_t>(stamp_end));
        // The LPC checksum covers the first seven words, wherever it stands.
        if (stamp.kind == STAMP_LPC) grow_to(image, LPC_OFFSET);
    }
    std::uint64_t end = (std::uint64_t{image.bytes_written} + 3) / 4 * 4;
    bool at_end = false;
    for (int i = 0; i < plan.count; ++i) {
        Stamp &stamp = plan.stamps[i];
        if (stamp.where != STAMP_AT_END) continue;
        at_end = true;
        stamp.offset = static_cast<std::uint32_t>(end);
        end += stamp_width(stamp.kind);
        if (end > image.flash_size || end > IMAGE_MAX)
            return past_window(end, image.flash_start, stamp.text);
    }
    plan.length = at_end ? static_cast<std::uint32_t>((image.bytes_written + 3u) / 4 * 4)
                         : image.bytes_written;
    // The stamps' bytes stay in the output block until their values are written: an output that
    // cannot be read back (a pipe) takes stamps at the image's end too.
    if (at_end) output_keep(static_cast<std::size_t>(end - image.bytes_written));
    if (at_end) grow_to(image, static_cast<std::uint32_t>(end));
    return {};
}

// The stop of an image that cannot be read back.
Stop stop_unreachable() {
    Stop stop;
    stop.code = unreachable();
    return stop;
}

// Checks that no stamp at a fixed place falls on data from the inputs, but on its placeholder.
// Returns the stop.
Stop check_stamp_places(const Image &image, const StampPlan &plan) {
    for (int i = 0; i < plan.count; ++i) {
        const Stamp &stamp = plan.stamps[i];
        unsigned char expected[4];
        stamp_bytes(stamp.expected, stamp_width(stamp.kind), stamp.big_endian, expected);
        for (std::uint32_t k = 0; k < stamp_width(stamp.kind); ++k) {
            std::uint32_t offset = stamp.offset + k;
            if (stamp.where == STAMP_AT_END || !holds_data(offset)) continue;
            const unsigned char *held = nullptr;
            if (output_at(offset, held) == 0) return stop_unreachable();
            if (stamp.placeholder && held[0] == expected[k]) continue;
            Stop stop;
            stop.code = CONVERT_STAMP_ON_DATA;
            stop.value = image.flash_start + offset;
            stop.subject = stamp.text;
            return stop;
        }
    }
    return {};
}

// The check value of the blocks as they went to the file, from offset streamed_from on (see
// stream_stamps): where no stamp's bytes and no rewritten byte went out before it was computed,
// the image need not be read back but for its last block.
CheckSum streamed;
bool streaming = false;
std::uint32_t streamed_from = 0;

void feed_streamed(std::uint64_t offset, const unsigned char *bytes, std::size_t count) {
    if (offset + count <= streamed_from) return;
    if (offset < streamed_from) {
        auto skip = static_cast<std::size_t>(streamed_from - offset);
        bytes += skip;
        count -= skip;
    }
    feed_check(streamed, bytes, count);
}

// Whether the streamed check value holds the image from `from` up to output_flushed(), and
// nothing of the stamps.
bool streamed_whole(const StampPlan &plan) {
    if (!streaming || output_rewritten()) return false;
    for (int i = 0; i < plan.count; ++i)
        if (plan.stamps[i].offset < output_flushed()) return false;
    return true;
}

// Computes and writes the value of `stamp` over the image as it stands. Returns the stop.
Stop write_stamp(const Image &image, const StampPlan &plan, Stamp &stamp) {
    std::uint32_t width = stamp_width(stamp.kind);
    stamp.from = stamp.kind == STAMP_LPC ? 0 : plan.from;
    stamp.end = stamp.kind == STAMP_LPC ? LPC_OFFSET : image.bytes_written;
    if (stamp.kind == STAMP_LEN32) {
        stamp.from = 0;
        stamp.end = plan.length;
        stamp.value = plan.length;
    } else {
        CheckSum sum;
        start_check(sum, stamp.kind == STAMP_LPC ? STAMP_SUM32 : stamp.kind);
        std::uint32_t from = stamp.from;
        if (stamp.kind != STAMP_LPC && streamed_whole(plan)) {
            sum = streamed;
            auto flushed = static_cast<std::uint32_t>(output_flushed());
            if (flushed > from) from = flushed;
        }
        if (!feed_image(sum, from, stamp.end, stamp.offset, width)) return stop_unreachable();
        bool words = stamp.kind == STAMP_STM32 || stamp.kind == STAMP_SUM32;
        if (words && sum.fed % 4 != 0) {
            Stop stop;
            stop.code = CONVERT_PART_WORD;
            stop.value = image.flash_start + stamp.end;
            stop.subject = stamp.text;
            return stop;
        }
        stamp.value = end_check(sum);
    }
    unsigned char bytes[4];
    stamp_bytes(stamp.value, width, stamp.big_endian, bytes);
    if (!output_overwrite(stamp.offset, bytes, width)) return stop_unreachable();
    return {};
}

// Keeps the start address record of type `type` that `walk` read last. Within one input a later
// one replaces it, as in a file of images put one after another; one of another input that
// differs is a conflict, as data given another value is, unless values replace others. Returns
// the stop.
Stop note_start(Image &image, int type, const RecordWalk &walk) {
    StartRecord &start = image.start;
    bool same = start.type == type && start.field == walk.field && start.count == walk.count &&
                std::memcmp(start.data, walk.data, walk.count) == 0;
    bool other_input = start.type != NO_START && start.place.input != image.input;
    if (other_input && !same && !image.options.replace) {
        Stop stop = stop_in_input(CONVERT_START_CHANGED, 0, image.input);
        stop.earlier = start.place;
        return stop;
    }
    start.type = type;
    start.field = walk.field;
    start.count = walk.count;
    std::memcpy(start.data, walk.data, walk.count);
    start.place = {image.input, input_position()};
    return {};
}

} // namespace

bool writes_in_place(const ImageOptions &options, int inputs) {
    return options.any_order || options.replace || inputs > 1;
}

void start_image(Image &image, std::uint32_t flash_start, std::uint32_t flash_size,
                 const ImageOptions &options) {
    image = {flash_start, flash_size, options, 0, 0, {}, {}};
    image.options.any_order = writes_in_place(options, input_count());
    start_checks(image.checks, flash_size);
    clear_runs();
}

Stop convert_hex_to_image(Image &image) {
    RecordWalk walk;
    for (;;) {
        if (!walk.first && plain_records) {
            Stop stop = place_plain_records(image, walk.base);
            if (stopped(stop)) return stop;
        }
        int result = next_record(walk);
        if (result == RECORD_END) return {};
        if (result < 0) return stop_in_input(result, walk.count, image.input);
        bool start = result == RECORD_SEGMENT_START || result == RECORD_LINEAR_START;
        if (start && image.options.carry_start) {
            Stop stop = note_start(image, result, walk);
            if (stopped(stop)) return stop;
        }
        // Only data bytes move the image; other records carry no image content.
        if (result != RECORD_DATA || walk.count == 0) continue;
        const DataPlace &place = walk.place;
        Stop stop = place_piece(image, place.address, walk.data, place.before_wrap);
        // The bytes that wrap round a 64 KiB segment are a piece of their own.
        if (!stopped(stop) && place.before_wrap < walk.count)
            stop = place_piece(image, place.wrapped, walk.data + place.before_wrap,
                               walk.count - place.before_wrap);
        if (stopped(stop)) return stop;
    }
}

std::uint32_t image_length(const Image &image) {
    return image.bytes_written;
}

int print_image_checks(const Image &image) {
    return print_window_checks(image.checks, image.flash_start);
}

Stop finish_image(Image &image) {
    Stop stop;
    if (image.options.pad && image.flash_size > IMAGE_MAX) {
        stop.code = CONVERT_TOO_LARGE;
        return stop;
    }
    if (image.options.pad) grow_to(image, image.flash_size);
    std::uint32_t align = image.options.align;
    if (align == 0 || image.bytes_written % align == 0) return stop;
    std::uint64_t end = (std::uint64_t{image.bytes_written} / align + 1) * align;
    if (end > image.flash_size) return past_window(end, image.flash_start, "--align");
    grow_to(image, static_cast<std::uint32_t>(end));
    return stop;
}

void stream_stamps(const StampPlan &plan) {
    streaming = false;
    for (int i = 0; i < plan.count; ++i) {
        if (!stamp_covers_image(plan.stamps[i].kind)) continue;
        start_check(streamed, plan.stamps[i].kind);
        streamed_from = plan.from;
        streaming = true;
        tap_output(feed_streamed);
    }
}

Stop stamp_image(Image &image, StampPlan &plan) {
    Stop stop = check_stamp_places(image, plan);
    if (!stopped(stop)) stop = place_stamps(image, plan);
    // The LPC checksum first, then the length, then the CRC or sum, which covers both.
    const int order[] = {STAMP_LPC, STAMP_LEN32, -1};
    for (int kind : order) {
        for (int i = 0; i < plan.count && !stopped(stop); ++i) {
            Stamp &stamp = plan.stamps[i];
            bool turn = kind < 0 ? stamp.kind != STAMP_LPC && stamp.kind != STAMP_LEN32
                                 : stamp.kind == kind;
            if (turn) stop = write_stamp(image, plan, stamp);
        }
    }
    stop.image_end = image.flash_start + image.bytes_written;
    return stop;
}

Stop convert_inputs(Image &image) {
    Stop stop;
    for (int input = 0; input < input_count() && !stopped(stop); ++input) {
        image.input = input;
        // The first input was read when it was opened.
        if (input > 0 && !read_input(input)) {
            stop = stop_in_input(RECORD_BAD_TEXT, 0, input);
            break;
        }
        start_input_checks(image.checks);
        stop = convert_hex_to_image(image);
        if (input_gave_data(image.checks)) note_gave_window(input);
    }
    if (!stopped(stop)) stop = finish_image(image);
    stop.image_end = image.flash_start + image.bytes_written;
    return stop;
}
