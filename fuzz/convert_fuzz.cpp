// libFuzzer target. The first 8 bytes give the window, little-endian: start, then size (cut to
// 2 MiB, or 64 KiB when bit 31 asks for padding; bit 30 asks for records in any order; bits 21 to
// 28 give the fill, inverted; bit 29 splits the HEX into two inputs, at a point that its last
// byte gives); the rest is the HEX.
// Checks that the image is as long as the count, fits (and, padded, fills) the window, and holds
// only fill and byte values spelled in the input; then maps the same inputs as --info does and
// checks their runs.
#include "address_runs.h"
#include "hex_reader.h"
#include "hex_survey.h"
#include "image_writer.h"
#include "input_files.h"
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
    open_inputs(hex, first_size, size - 8);
    // The image goes to memory; a window holds at most 2 MiB less one byte.
    static char memory[0x200000];
    open_output(fmemopen(memory, sizeof memory, "w+b"));

    ImageOptions options;
    options.fill = fill;
    options.pad = pad;
    options.any_order = any_order;
    options.any_order = any_order || input_count() > 1;
    Image image;
    start_image(image, window[0], window[1], options);
    int stop = RECORD_END;
    for (int input = 0; input < input_count() && stop == RECORD_END; ++input) {
        image.input = input;
        if (!read_input(input)) std::abort();
        stop = convert_hex_to_image(image);
    }
    if (stop == RECORD_END) stop = finish_image(image);
    std::uint32_t count = image.bytes_written;
    close_inputs();
    flush_output();
    std::fseek(image_out.file, 0, SEEK_END);
    auto length = static_cast<std::size_t>(std::ftell(image_out.file));
    if (!close_output()) std::abort();

    bool spelled[256] = {};
    spelled[fill] = true;
    for (std::size_t i = 8; i + 1 < size; ++i) {
        int high = hex_digit_value(data[i]), low = hex_digit_value(data[i + 1]);
        if (high >= 0 && low >= 0) spelled[high << 4 | low] = true;
    }
    if (length != count || count > window[1] || (pad && stop == RECORD_END && count != window[1]))
        std::abort();
    for (std::size_t i = 0; i < length; ++i)
        if (!spelled[static_cast<std::uint8_t>(memory[i])]) std::abort();

    // The map of the same HEX: runs in address order, apart, within the list's bound.
    open_inputs(hex, first_size, size - 8);
    HexSurvey survey;
    start_survey(survey);
    stop = RECORD_END;
    for (int input = 0; input < input_count() && stop == RECORD_END; ++input) {
        std::uint32_t detail = 0;
        if (!read_input(input)) std::abort();
        stop = survey_input(survey, input, detail);
    }
    if (stop == RECORD_END) compare_repeats(survey);
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
