// quorlit: converts a 32-bit Intel HEX file into the flat binary image of one flash window.
//
//   quorlit START SIZE_K IN.hex OUT.bin
//
// Exit status: 0 when the conversion read the end-of-file record and everything was written,
// 1 when the command line cannot be used or a file cannot be opened, 2 when the conversion
// stopped on an error or a write failed.
#include "hex_reader.h"
#include "image_writer.h"
#include "streams.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// Exit status 1: nothing was converted; 2: the conversion or a write failed.
constexpr int EXIT_USAGE = 1;
constexpr int EXIT_CONVERSION = 2;

// A large stream buffer keeps read and write calls rare on multi-megabyte files.
constexpr std::size_t STREAM_BUFFER = 256 * 1024;

void print_usage() {
    std::printf("\nQuorlit Converts 32 bit files for flash Version 1.0");
    std::printf("\nIntel HEX: https://en.wikipedia.org/wiki/Intel_HEX"
                "  Binary image: https://en.wikipedia.org/wiki/Binary_file\n");
    std::printf("\nExample:");
    std::printf("\nQuorlit 1d00e000 256 hexfile binfile");
    std::printf("\nWhere 1d00e000 is the start address in hex (without the 0x)");
    std::printf("\n      256 is the size of flash in K");
}

// Flushes standard output; a report that could not be written fails an otherwise good run.
int finish(int status) {
    if (std::fflush(stdout) != 0 && status == 0) return EXIT_CONVERSION;
    return status;
}

} // namespace

// Returns 1 and sets `value` when `text` is 1 to 8 hexadecimal digits (either case, no 0x);
// returns 2 when it is longer than 8 characters and 4 when it is empty or holds another
// character.
int parse_hex_address(const char *text, std::uint32_t &value) {
    std::size_t length = std::strlen(text);
    if (length > 8) return 2;
    if (length == 0) return 4;
    std::uint32_t result = 0;
    for (std::size_t i = 0; i < length; ++i) {
        int digit = hex_digit_value(static_cast<unsigned char>(text[i]));
        if (digit < 0) return 4;
        result = result << 4 | static_cast<std::uint32_t>(digit);
    }
    value = result;
    return 1;
}

// Returns the decimal size in `text` as atoi reads it (leading white space, an optional sign,
// digits up to the first other character, no digits giving 0), wrapping in 32 bits.
std::uint32_t parse_size_k(const char *text) {
    while (*text != '\0' && std::strchr(" \t\n\v\f\r", *text) != nullptr) ++text;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    std::uint32_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text)
        value = value * 10u + static_cast<std::uint32_t>(*text - '0');
    return negative ? 0u - value : value;
}

int main(int argc, char **argv) {
    if (argc < 5) {
        print_usage();
        return finish(EXIT_USAGE);
    }
    const char *in_name = argv[3];
    const char *out_name = argv[4];
    std::uint32_t flash_start = 0;
    if (parse_hex_address(argv[1], flash_start) != 1) {
        std::printf("\nProblem with flash_start address %s", argv[1]);
        return finish(EXIT_USAGE);
    }
    std::uint32_t flash_size = parse_size_k(argv[2]) << 10;

    hex_in = std::fopen(in_name, "rb");
    if (hex_in == nullptr) {
        std::printf("\nCannot open input file %s", in_name);
        return finish(EXIT_USAGE);
    }
    image_out = std::fopen(out_name, "wb");
    if (image_out == nullptr) {
        std::printf("\nCannot create output file %s", out_name);
        std::fclose(hex_in);
        return finish(EXIT_USAGE);
    }
    static char in_buffer[STREAM_BUFFER];
    static char out_buffer[STREAM_BUFFER];
    std::setvbuf(hex_in, in_buffer, _IOFBF, sizeof in_buffer);
    std::setvbuf(image_out, out_buffer, _IOFBF, sizeof out_buffer);

    bool reached_end = false;
    std::uint32_t count = convert_hex_to_image(flash_start, flash_size, reached_end);

    std::fclose(hex_in);
    bool write_failed = std::ferror(image_out) != 0;
    if (std::fclose(image_out) != 0) write_failed = true;

    std::printf("\n\n%s created ", out_name);
    std::printf("\nFrom %x to %x ", flash_start, flash_start + count);
    std::printf("\nSize %x (%u)", count, count);
    if (write_failed) std::printf("\nError writing %s", out_name);
    return finish(reached_end && !write_failed ? 0 : EXIT_CONVERSION);
}
