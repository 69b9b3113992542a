// libFuzzer target. The first 8 bytes give the window, little-endian: start, then size (cut to
// 2 MiB, or 64 KiB when bit 31 asks for padding; bit 30 asks for records in any order; bits 21 to
// 28 give the fill, inverted); the rest is the HEX.
// Checks that the image is as long as the count, fits (and, padded, fills) the window, and holds
// only fill and byte values spelled in the input; then maps the same HEX as --info does and
// checks its runs.
#include "address_runs.h"
#include "hex_reader.h"
#include "hex_survey.h"
#include "image_writer.h"
#include "streams.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    return std::freopen("/dev/null", "w", stdout) == nullptr;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size <= 8) return 0;
    std::uint32_t window[2];
    std::memcpy(window, data, sizeof window);
    bool pad = window[1] >> 31 != 0;
    bool any_order = (window[1] >> 30 & 1) != 0;
    auto fill = static_cast<std::uint8_t>(~(window[1] >> 21));
    window[1] &= pad ? 0xFFFF : 0x1FFFFF;
    if (!open_input(fmemopen(const_cast<std::uint8_t *>(data + 8), size - 8, "rb"))) std::abort();
    // The image goes to memory; a window holds at most 2 MiB less one byte.
    static char memory[0x200000];
    open_output(fmemopen(memory, sizeof memory, "w+b"));

    ImageOptions options;
    options.fill = fill;
    options.pad = pad;
    options.any_order = any_order;
    Image image;
    start_image(image, window[0], window[1], options);
    int stop = convert_hex_to_image(image);
    if (stop == RECORD_END) stop = finish_image(image);
    std::uint32_t count = image.bytes_written;
    close_input();
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
    if (!open_input(fmemopen(const_cast<std::uint8_t *>(data + 8), size - 8, "rb"))) std::abort();
    HexSurvey survey;
    std::uint32_t detail = 0;
    survey_hex(survey, detail);
    close_input();
    if (run_count() > RUNS_MAX) std::abort();
    for (std::size_t i = 0; i < run_count(); ++i) {
        if (runs()[i].first > runs()[i].last) std::abort();
        if (i > 0 && runs()[i].first <= runs()[i - 1].last + 1) std::abort();
    }
    return 0;
}
