// quorlit: converts a 32-bit Intel HEX file into the flat binary image of one flash window.
//
//   quorlit [--pad] [--fill XX] [--any-order] [--quiet] START SIZE_K IN.hex OUT.bin
//   quorlit --info IN.hex
//
// Exit status: 0 when the conversion read the end-of-file record and everything was written,
// 1 when the command line cannot be used or a file cannot be opened, 2 when the conversion
// stopped on an error or a write failed.
#include "address_runs.h"
#include "hex_reader.h"
#include "hex_survey.h"
#include "image_writer.h"
#include "messages.h"
#include "platform_files.h"
#include "streams.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

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

// Returns true and sets `value` when `text` is a decimal size: optional leading white space, an
// optional sign, digits, and an optional K or k. The value wraps in 32 bits, so -1 is 2^32 - 1.
bool parse_size_k(const char *text, std::uint32_t &value) {
    while (*text != '\0' && std::strchr(" \t\n\v\f\r", *text) != nullptr) ++text;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    if (*text < '0' || *text > '9') return false;
    std::uint32_t result = 0;
    for (; *text >= '0' && *text <= '9'; ++text)
        result = result * 10u + static_cast<std::uint32_t>(*text - '0');
    if (*text == 'K' || *text == 'k') ++text;
    if (*text != '\0') return false;
    value = negative ? 0u - result : result;
    return true;
}

namespace {

// Exit status 1: nothing was converted; 2: the conversion or a write failed.
constexpr int EXIT_USAGE = 1;
constexpr int EXIT_CONVERSION = 2;

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
    bool failed = std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
    if (failed && status == 0) return EXIT_CONVERSION;
    return status;
}

// Reads the options before the four arguments. Returns the index of the first argument, or 0
// after printing the problem with an option.
int parse_options(int argc, char **argv, ImageOptions &options, bool &quiet) {
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        if (std::strcmp(argv[i], "--pad") == 0) {
            options.pad = true;
            continue;
        }
        if (std::strcmp(argv[i], "--quiet") == 0 || std::strcmp(argv[i], "-q") == 0) {
            quiet = true;
            continue;
        }
        if (std::strcmp(argv[i], "--any-order") == 0) {
            options.any_order = true;
            continue;
        }
        const char *fill = nullptr;
        if (std::strncmp(argv[i], "--fill=", 7) == 0) {
            fill = argv[i] + 7;
        } else if (std::strcmp(argv[i], "--fill") == 0 && i + 1 < argc) {
            fill = argv[++i];
        }
        std::uint32_t value = 0;
        if (fill != nullptr && std::strlen(fill) == 2 && parse_hex_address(fill, value) == 1) {
            options.fill = static_cast<std::uint8_t>(value);
            continue;
        }
        std::printf("\nProblem with option %s", fill != nullptr ? fill : argv[i]);
        return 0;
    }
    return i;
}

// Lists the data address runs of a HEX file, its totals, start addresses and record order.
// Returns the exit status.
int print_info(const char *in_name) {
    std::FILE *in_file = std::fopen(in_name, "rb");
    if (in_file == nullptr || !open_input(in_file)) {
        std::printf("\nCannot open input file %s", in_name);
        return EXIT_USAGE;
    }
    HexSurvey survey;
    std::uint32_t detail = 0;
    int stop = survey_hex(survey, detail);
    if (stop != RECORD_END) {
        print_stop(in_name, stop, detail, 0);
        close_input();
        std::printf("\n");
        return EXIT_CONVERSION;
    }
    print_survey(in_name, survey);
    close_input();
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("quorlit %s\n", QUORLIT_VERSION);
        return finish(0);
    }
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        print_usage();
        std::printf("\n\nOptions, before the start address:"
                    "\n  --pad        pad the image with fill up to the window's size"
                    "\n  --fill XX    fill holes with the byte XX (two hex digits) instead of FF"
                    "\n  --any-order  take records in any address order, writing the image in place"
                    "\n  --quiet, -q  print nothing after a good run"
                    "\n\nquorlit --info IN.hex lists the file's data address runs, alone.\n");
        return finish(0);
    }
    if (argc == 3 && std::strcmp(argv[1], "--info") == 0) return finish(print_info(argv[2]));
    if (argc < 5) {
        print_usage();
        return finish(EXIT_USAGE);
    }
    ImageOptions options;
    bool quiet = false;
    int first = parse_options(argc, argv, options, quiet);
    if (first == 0) return finish(EXIT_USAGE);
    if (argc - first < 4) {
        print_usage();
        return finish(EXIT_USAGE);
    }
    const char *in_name = argv[first + 2];
    const char *out_name = argv[first + 3];
    std::uint32_t flash_start = 0;
    if (parse_hex_address(argv[first], flash_start) != 1) {
        std::printf("\nProblem with flash_start address %s", argv[first]);
        return finish(EXIT_USAGE);
    }
    std::uint32_t size_k = 0;
    if (!parse_size_k(argv[first + 1], size_k)) {
        std::printf("\nProblem with size %s", argv[first + 1]);
        return finish(EXIT_USAGE);
    }
    std::uint32_t flash_size = size_k << 10;
    if (argc - first > 4) {
        std::printf("\nProblem with argument %s", argv[first + 4]);
        return finish(EXIT_USAGE);
    }
    // The report would run into the image.
    if (!quiet && is_standard_output(out_name)) {
        std::printf("\nOutput is standard output %s", out_name);
        return finish(EXIT_USAGE);
    }

    std::FILE *in_file = std::fopen(in_name, "rb");
    if (in_file == nullptr || !open_input(in_file)) {
        std::printf("\nCannot open input file %s", in_name);
        return finish(EXIT_USAGE);
    }
    if (same_file(in_name, out_name)) {
        std::printf("\nInput and output are the same file %s", out_name);
        close_input();
        return finish(EXIT_USAGE);
    }
    // Records below the image's end are checked against the image as written, so it is read too.
    std::FILE *out_file = std::fopen(out_name, options.any_order ? "w+b" : "wb");
    if (out_file == nullptr) {
        std::printf("\nCannot create output file %s", out_name);
        close_input();
        return finish(EXIT_USAGE);
    }
    open_output(out_file);

    Image image;
    start_image(image, flash_start, flash_size, options);
    int stop = convert_hex_to_image(image);
    if (stop == RECORD_END) stop = finish_image(image);
    bool write_failed = !close_output();
    std::uint32_t count = image.bytes_written;
    if (stop != RECORD_END) print_stop(in_name, stop, image.stop_detail, flash_start + count);
    close_input();
    int status = stop == RECORD_END && !write_failed ? 0 : EXIT_CONVERSION;
    if (!quiet || status != 0) {
        std::printf("\n\n%s created ", out_name);
        std::printf("\nFrom %x to %x ", flash_start, flash_start + count);
        std::printf("\nSize %x (%u)", count, count);
    }
    if (write_failed) std::printf("\nError writing %s", out_name);
    return finish(status);
}
