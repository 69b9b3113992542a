// libFuzzer target: converts the input after its first 8 bytes, which give the window (start,
// then size in bytes, little-endian; the size is cut to 2 MiB to bound the image), with both
// streams on in-memory files, and checks what holds for every input: the image is as long as
// the count, fits the window, and holds only 0xFF fill and byte values spelled in the input.
#include "image_writer.h"
#include "streams.h"

#include <cctype>
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
    window[1] &= 0x1FFFFF;
    hex_in = fmemopen(const_cast<std::uint8_t *>(data + 8), size - 8, "rb");
    char *image = nullptr;
    std::size_t length = 0;
    image_out = open_memstream(&image, &length);
    if (hex_in == nullptr || image_out == nullptr) std::abort();

    bool reached_end = false;
    std::uint32_t count = convert_hex_to_image(window[0], window[1], reached_end);
    std::fclose(hex_in);
    std::fclose(image_out);

    bool spelled[256] = {};
    spelled[0xFF] = true;
    for (std::size_t i = 8; i + 1 < size; ++i) {
        char pair[3] = {static_cast<char>(data[i]), static_cast<char>(data[i + 1]), 0};
        if (std::isxdigit(data[i]) && std::isxdigit(data[i + 1]))
            spelled[std::strtoul(pair, nullptr, 16)] = true;
    }
    if (length != count || count > window[1]) std::abort();
    for (std::size_t i = 0; i < length; ++i)
        if (!spelled[static_cast<std::uint8_t>(image[i])]) std::abort();
    std::free(image);
    return 0;
}
