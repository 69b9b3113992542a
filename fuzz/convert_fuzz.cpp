// libFuzzer target. The first 8 bytes give the window, little-endian: start, then size (cut to
// 2 MiB, or 64 KiB when bit 31 asks for padding; bit 30 asks for records in any order; bits 21 to
// 28 give the fill, inverted; bit 29 splits the HEX into two inputs, at a point that its last
// byte gives); the rest is the HEX.
// Checks that plain records give what the character reader alone gives (stop, image and
// window checks), and that the image is as long as the count, fits (and, padded, fills) the
// window, and holds only fill and byte values spelled in the input; then maps the same inputs as
// --info does and checks their runs.
#include "address_runs.h"
#include "hex_reader.h"
#include "hex_survey.h"
#include "image_writer.h"
#include "input_files.h"
#include "stop_codes.h"
#include "streams.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
