// libFuzzer target. The first 8 bytes give the window, little-endian: start, then size (cut to
// 2 MiB, or 64 KiB when bit 31 asks for padding; bit 30 asks for records in any order; bits 21 to
// 28 give the fill, inverted; bit 29 splits the HEX into two inputs, at a point that its last
// byte gives); the rest is the HEX.
// Checks that plain records give what the character reader alone gives (stop, image and
// window checks), and that the image is as long as the count, fits (and, padded, fills) the
// window, and holds only fill and byte values spelled in the input; that the same conversion to
// Intel HEX (streamed, or from the image in a file) stops alike and writes records of 1 to 16
// bytes within a 16-byte line that hold the image's bytes, with fill left out only where it is FF
// and not padded; then maps the same inputs as --info does and checks their runs.
#include "address_runs.h"
#include "hex_reader.h"
#include "hex_survey.h"
#include "hex_writer.h"
#include "image_writer.h"
#include "input_files.h"
#include "stop_codes.h"
#include "streams.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    return std::freopen("/dev/null", "w", stdout) == nullptr;
}

// Makes the HEX the inputs: one, or two split at `first_size`.
static void open_inputs(std::uint8_t *hex, std::size_t first_size, std::size_t size) {
    clear_inputs();
    add_input("a.hex", fmemopen(hex, first_size, "rb"));
    if (first_size < size) add_input("b.hex", fmemopen(hex + first_size, size - first_size, "rb"));
}

struct Conversion {
    Stop stop;
    std::size_t length;
    Image image;
};

// Converts the HEX, as one or two inputs, into `memory`, with plain records or not.
static Conversion convert(std::uint8_t *hex, std::size_t first_size, std::size_t size,
                          const std::uint32_t *window, ImageOptions options, bool whole,
                          char *memory) {
    plain_records = whole;
    open_inputs(hex, first_size, size);
    std::memset(memory, 0, 0x200000);
    std::FILE *out = fmemopen(memory, 0x200000, "w+b");
    open_output(out, true);
    Conversion done = {};
    Image &image = done.image;
    start_image(image, window[0], window[1], options);
    if (!read_input(0)) std::abort();
    done.stop = convert_inputs(image);
    close_inputs();
    flush_output();
    std::fseek(out, 0, SEEK_END);
    done.length = static_cast<std::size_t>(std::ftell(out));
    if (!close_output()) std::abort();
    return done;
}

// Converts the HEX to Intel HEX in `text` (NUL-terminated), as quorlit --hex does: streamed where
// the image is written in order, else built in `scratch` first. Returns the stop.
static Stop convert_to_hex(std::uint8_t *hex, std::size_t first_size, std::size_t size,
                           const std::uint32_t *window, ImageOptions options, char *text,
                           std::size_t text_size, char *scratch) {
    plain_records = true;
    open_inputs(hex, first_size, size);
    // A stream in memory ends what it holds with a NUL when it is closed.
    text[0] = '\0';
    std::FILE *out = fmemopen(text, text_size, "w");
    start_hex(out, window[0], false);
    options.carry_start = true;
    bool in_place = writes_in_place(options, input_count());
    std::FILE *image_file = in_place ? fmemopen(scratch, 0x200000, "w+b") : nullptr;
    if (in_place) {
        open_output(image_file, true);
    } else {
        open_output_to(write_hex_data, writes_fill(options));
    }
    Image image;
    start_image(image, window[0], window[1], options);
    if (!read_input(0)) std::abort();
    Stop stop = convert_inputs(image);
    close_inputs();
    const StampPlan none;
    bool good = !in_place || (settle_output() && write_hex_image(image_file, image.bytes_written,
                                                                 writes_fill(options), none));
    if (!close_output() || !end_hex(image.start, good && !stopped(stop)) || !good) std::abort();
    return stop;
}

// Whether the Intel HEX `text` is as convert_to_hex must write the image `memory` of `length`
// bytes at `start`: the records' shape, their bytes, and the fill left out only where it may be.
static bool hex_holds_image(const char *text, const char *memory, std::size_t length,
                            std::uint32_t start, bool writes_fill, bool whole) {
    static bool covered[0x200000];
    std::memset(covered, 0, length);
    std::uint32_t upper = 0;
    bool ended = false;
    for (const char *line = text; *line != '\0'; line = std::strchr(line, '\n') + 1) {
        unsigned char bytes[5 + 255];
        std::size_t count = std::strtoul(std::string(line + 1, 2).c_str(), nullptr, 16);
        for (std::size_t i = 0; i < count + 5; ++i)
            bytes[i] = static_cast<unsigned char>(
                std::strtoul(std::string(line + 1 + 2 * i, 2).c_str(), nullptr, 16));
        std::uint32_t field = static_cast<std::uint32_t>(bytes[1] << 8 | bytes[2]);
        if (ended || bytes[3] == 2) return false;
        if (bytes[3] == 4) upper = static_cast<std::uint32_t>(bytes[4] << 8 | bytes[5]) << 16;
        ended = bytes[3] == 1;
        if (bytes[3] != 0) continue;
        if (count == 0 || field % 16 + count > 16) return false;
        std::uint32_t offset = (upper | field) - start;
        for (std::size_t k = 0; k < count; ++k) {
            if (offset + k >= length || memory[offset + k] != static_cast<char>(bytes[4 + k]))
                return false;
            covered[offset + k] = true;
        }
    }
    for (std::size_t i = 0; i < length; ++i)
        if (!covered[i] && (writes_fill || memory[i] != '\xFF')) return false;
    return ended == whole;
}

static bool same_places(const RecordPlace &a, const RecordPlace &b) {
    return a.input == b.input && a.position == b.position;
}

// Whether two conversions of the same inputs agree on all they report.
static bool agree(const Conversion &a, const Conversion &b) {
    const WindowChecks &x = a.image.checks;
    const WindowChecks &y = b.image.checks;
    return a.stop.code == b.stop.code && a.stop.value == b.stop.value &&
           a.stop.input == b.stop.input && a.stop.position == b.stop.position &&
           a.length == b.length && a.image.bytes_written == b.image.bytes_written &&
           x.data == y.data && x.lowest == y.lowest && x.highest == y.highest &&
           x.inside == y.inside && x.first_given == y.first_given && x.last_given == y.last_given &&
           same_places(x.below, y.below) && x.below_from == y.below_from &&
           same_places(x.beyond, y.beyond) && x.beyond_to == y.beyond_to;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size <= 8) return 0;
    std::uint32_t window[2];
    std::memcpy(window, data, sizeof window);
    bool pad = window[1] >> 31 != 0;
    bool any_order = (window[1] >> 30 & 1) != 0;
    auto fill = static_cast<std::uint8_t>(~(window[1] >> 21));
    bool split = (window[1] >> 29 & 1) != 0;
    window[1] &= pad ? 0xFFFF : 0x1FFFFF;
    auto *hex = const_cast<std::uint8_t *>(data + 8);
    std::size_t first_size = split ? (size - 8) * data[size - 1] / 256 : 0;
    if (first_size == 0) first_size = size - 8;
    ImageOptions options;
    options.fill = fill;
    options.pad = pad;
    options.any_order = any_order;
    // The image goes to memory; a window holds at most 2 MiB less one byte.
    static char memory[0x200000];
    static char exact_memory[0x200000];
    Conversion whole = convert(hex, first_size, size - 8, window, options, true, memory);
    Conversion exact = convert(hex, first_size, size - 8, window, options, false, exact_memory);
    if (!agree(whole, exact) || std::memcmp(memory, exact_memory, whole.length) != 0) std::abort();
    bool whole_image = !stopped(whole.stop);
    std::uint32_t count = whole.image.bytes_written;
    std::size_t length = whole.length;

    bool spelled[256] = {};
    spelled[fill] = true;
    for (std::size_t i = 8; i + 1 < size; ++i) {
        int high = hex_digit_value(data[i]), low = hex_digit_value(data[i + 1]);
        if (high >= 0 && low >= 0) spelled[high << 4 | low] = true;
    }
    if (length != count || count > window[1] || (pad && whole_image && count != window[1]))
        std::abort();
    for (std::size_t i = 0; i < length; ++i)
        if (!spelled[static_cast<std::uint8_t>(memory[i])]) std::abort();

    // Intel HEX of the same image: up to 2 MiB of fill in records of 16 bytes, 44 characters
    // each, and the data of up to 64 KiB of HEX in records of 1 byte. Where inputs give two start
    // records, it stops on them instead.
    static char text[0x800000];
    static char scratch[0x200000];
    Stop hex_stop = {};
    if (size <= 0x10000)
        hex_stop =
            convert_to_hex(hex, first_size, size - 8, window, options, text, sizeof text, scratch);
    bool checked = size <= 0x10000 && hex_stop.code != CONVERT_START_CHANGED;
    if (checked &&
        (hex_stop.code != whole.stop.code ||
         !hex_holds_image(text, memory, length, window[0], writes_fill(options), whole_image)))
        std::abort();

    // The map of the same HEX: runs in address order, apart, within the list's bound.
    open_inputs(hex, first_size, size - 8);
    HexSurvey survey;
    if (!read_input(0)) std::abort();
    survey_inputs(survey);
    close_inputs();
    if (run_count() > RUNS_MAX) std::abort();
    std::size_t seen = 0;
    AddressRun before = {};
    for (std::size_t i = find_run(0); i != run_end(); i = next_run(i), ++seen) {
        if (run_at(i).first > run_at(i).last) std::abort();
        if (seen > 0 && run_at(i).first <= before.last + 1) std::abort();
        before = run_at(i);
    }
    if (seen != run_count()) std::abort();
    return 0;
}
