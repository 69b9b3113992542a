// libFuzzer target: converts the input after its first 8 bytes, which give the window (start,
// then size in bytes, little-endian; the size is cut to 2 MiB to bound the image, its top bit
// asks for padding and the 8 bits below 2 MiB give the fill, inverted), with both streams on
// in-memory files, and checks what holds for every input: the image is as long as the count,
// fits the window (and fills it when padded), and holds only fill and byte values spelled in the
// input.
#include "hex_reader.h"
#include "image_writer.h"
#include "streams.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// The writer reports errors on standard output: keep them out of the fuzzer's log.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    return std::freopen("/dev/null", "w", stdout) == nullptr;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size <= 8) return 0;
    std::uint32_t window[2];
    std::memcpy(window, data, sizeof window);
    bool pad = window[1] >> 31 != 0;
    auto fill = static_cast<std::uint8_t>(~(window[1] >> 21));
    window[1] &= 0x1FFFFF;
    hex_in = fmemopen(const_cast<std::uint8_t *>(data + 8), size - 8, "rb");
    char *image = nullptr;
    std::size_t length = 0;
    image_out = open_memstream(&image, &length);
    if (hex_in == nullptr || image_out == nullptr) std::abort();

    int stop = 0;
    std::uint32_t detail = 0;
    std::uint32_t count = convert_hex_to_image(window[0], window[1], fill, pad, stop, detail);
    std::fclose(hex_in);
    std::fclose(image_out);

    bool spelled[256] = {};
    spelled[fill] = true;
    for (std::size_t i = 8; i + 1 < size; ++i) {
        int high = hex_digit_value(data[i]), low = hex_digit_value(data[i + 1]);
        if (high >= 0 && low >= 0) spelled[high << 4 | low] = true;
    }
    if (length != count || count > window[1]) std::abort();
    if (pad && stop == RECORD_END && count != window[1]) std::abort();
    for (std::size_t i = 0; i < length; ++i)
        if (!spelled[static_cast<std::uint8_t>(image[i])]) std::abort();
    std::free(image);
    return 0;
}
