// libFuzzer target: converts the input after its first 8 bytes, which give the window (start,
// then size in bytes, little-endian; the size is cut to 2 MiB to bound the image), with both
// streams on in-memory files, and checks what holds for every input.
#include "image_writer.h"
#include "streams.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::uint32_t le32(const std::uint8_t *p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

int digit(std::uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') return (c | 0x20) - 'a' + 10;
    return -1;
}

// Marks the value of every byte that a record could supply: each digit pair after a ':' and
// its header, up to the first other character.
void supplied_values(const std::uint8_t *text, std::size_t size, bool *supplied) {
    for (std::size_t i = 0; i < size; ++i) {
        if (text[i] != ':') continue;
        for (std::size_t j = i + 1, pair = 0; j + 1 < size; j += 2, ++pair) {
            int high = digit(text[j]), low = digit(text[j + 1]);
            if (high < 0 || low < 0) break;
            if (pair >= 4) supplied[high << 4 | low] = true;
        }
    }
}

} // namespace

// The writer reports errors on standard output: keep them out of the fuzzer's log.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    return std::freopen("/dev/null", "w", stdout) == nullptr;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size <= 8) return 0;
    std::uint32_t start = le32(data), window = le32(data + 4) & 0x1FFFFF;
    hex_in = fmemopen(const_cast<std::uint8_t *>(data + 8), size - 8, "rb");
    char *image = nullptr;
    std::size_t length = 0;
    image_out = open_memstream(&image, &length);
    if (hex_in == nullptr || image_out == nullptr) std::abort();

    bool reached_end = false;
    std::uint32_t count = convert_hex_to_image(start, window, reached_end);
    std::fclose(hex_in);
    std::fclose(image_out);

    bool supplied[256] = {};
    supplied[0xFF] = true;
    supplied_values(data + 8, size - 8, supplied);
    if (length != count || count > window) std::abort();
    for (std::size_t i = 0; i < length; ++i)
        if (!supplied[static_cast<std::uint8_t>(image[i])]) std::abort();
    std::free(image);
    return 0;
}
