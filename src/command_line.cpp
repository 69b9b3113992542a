// The command line: options, the window, the files, the usage text and the help.
#include "command_line.h"

#include "hex_reader.h"
#include "messages.h"

#include <cstdio>
#include <cstring>

namespace {

// Skips a 0x or 0X prefix.
const char *skip_0x(const char *text) {
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) return text + 2;
    return text;
}

// Reads the digits of `base` (10 or 16) at the start of `text` into `value`, and returns what
// follows them; nullptr when there is no digit or the value reaches 2^32.
const char *read_number(const char *text, unsigned base, std::uint64_t &value) {
    value = 0;
    const char *start = text;
    for (;; ++text) {
        int digit = hex_digit_value(static_cast<unsigned char>(*text));
        if (digit < 0 || static_cast<unsigned>(digit) >= base) break;
        value = value * base + static_cast<std::uint64_t>(digit);
        if (value > 0xFFFFFFFFu) return nullptr;
    }
    return text == start ? nullptr : text;
}

// Returns how many bytes a K or an M after a size stands for (1 without either), and steps past
// it; 0 for any other letter.
std::uint64_t read_unit(const char *&text) {
    if (*text == '\0') return 1;
    char unit = text[0];
    if (text[1] != '\0') return 0;
    ++text;
    if (unit == 'K' || unit == 'k') return 1024;
    if (unit == 'M' || unit == 'm') return 1024 * 1024;
    return 0;
}

} // namespace

int parse_hex_address(const char *text, std::uint32_t &value) {
    text = skip_0x(text);
    std::size_t length = std::strlen(text);
    if (length > 8) return ADDRESS_TOO_LONG;
    if (length == 0) return ADDRESS_NOT_HEX;
    std::uint32_t result = 0;
    for (std::size_t i = 0; i < length; ++i) {
        int digit = hex_digit_value(static_cast<unsigned char>(text[i]));
        if (digit < 0) return ADDRESS_NOT_HEX;
        result = result << 4 | static_cast<std::uint32_t>(digit);
    }
    value = result;
    return ADDRESS_OK;
}

bool parse_size(const char *text, std::uint32_t &bytes) {
    while (*text != '\0' && std::strchr(" \t\n\v\f\r", *text) != nullptr) ++text;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    const char *digits = skip_0x(text);
    bool in_bytes = digits != text;
    std::uint64_t value = 0;
    text = read_number(digits, in_bytes ? 16 : 10, value);
    if (text == nullptr) return false;
    std::uint64_t unit = read_unit(text);
    if (unit == 0) return false;
    if (!in_bytes && unit == 1) unit = 1024; // plain decimal digits count KiB
    // KiB in decimal digits wrap at 4 GiB, as they always have; the other forms do not.
    if (!in_bytes && unit == 1024) {
        auto kib = static_cast<std::uint32_t>(value);
        bytes = (negative ? 0u - kib : kib) << 10;
        return true;
    }
    if (negative || value * unit > 0xFFFFFFFFu) return false;
    bytes = static_cast<std::uint32_t>(value * unit);
    return true;
}

bool parse_fill(const char *text, std::uint8_t &fill) {
    std::size_t digits = std::strlen(skip_0x(text));
    std::uint32_t value = 0;
    if (digits < 1 || digits > 2 || parse_hex_address(text, value) != ADDRESS_OK) return false;
    fill = static_cast<std::uint8_t>(value);
    return true;
}

namespace {

void print_usage() {
    std::fprintf(message_out, "\nQuorlit Converts 32 bit files for flash Version 1.0");
    std::fprintf(message_out, "\nIntel HEX: https://en.wikipedia.org/wiki/Intel_HEX"
                              "  Binary image: https://en.wikipedia.org/wiki/Binary_file\n");
    std::fprintf(message_out, "\nExample:");
    std::fprintf(message_out, "\nQuorlit 1d00e000 256 hexfile binfile");
    std::fprintf(message_out, "\nWhere 1d00e000 is the start address in hex (without the 0x)");
    std::fprintf(message_out, "\n      256 is the size of flash in K");
}

void print_help() {
    print_usage();
    std::fprintf(message_out,
                 "\n\nOptions, before the start address:"
                 "\n  --pad        pad the image with fill up to the window's size"
                 "\n  --fill XX    fill holes with the byte XX (one or two hex digits, 0x "
                 "optional) instead of FF"
                 "\n  --any-order  take records in any address order, writing the image in place"
                 "\n  --overlap=error|replace  an address given another value stops the run "
                 "(error), or takes the later value (replace)"
                 "\n  --quiet, -q  print nothing after a good run"
                 "\n\nSeveral inputs (IN.hex MORE.hex ... OUT.bin) merge into one image, in any "
                 "order."
                 "\nquorlit --info IN.hex [MORE.hex ...] lists the data address runs, alone.\n");
}

// Reads the options before the four arguments. Returns the index of the first argument, or 0
// after printing the problem with an option.
int parse_options(int argc, char **argv, CommandLine &line) {
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        if (std::strcmp(argv[i], "--pad") == 0) {
            line.options.pad = true;
            continue;
        }
        if (std::strcmp(argv[i], "--quiet") == 0 || std::strcmp(argv[i], "-q") == 0) {
            line.quiet = true;
            continue;
        }
        if (std::strcmp(argv[i], "--any-order") == 0) {
            line.options.any_order = true;
            continue;
        }
        if (std::strcmp(argv[i], "--overlap=error") == 0) {
            line.options.replace = false;
            continue;
        }
        if (std::strcmp(argv[i], "--overlap=replace") == 0) {
            line.options.replace = true;
            continue;
        }
        const char *fill = nullptr;
        if (std::strncmp(argv[i], "--fill=", 7) == 0) {
            fill = argv[i] + 7;
        } else if (std::strcmp(argv[i], "--fill") == 0 && i + 1 < argc) {
            fill = argv[++i];
        }
        if (fill != nullptr && parse_fill(fill, line.options.fill)) continue;
        // --fill=XX names itself; --fill XX names its value.
        bool value_apart = fill != nullptr && fill != argv[i] + 7;
        std::fprintf(message_out, "\nProblem with option %s", value_apart ? fill : argv[i]);
        return 0;
    }
    return i;
}

// Reads START, SIZE_K, the inputs and OUT.bin from argv[first] on. Returns COMMAND_RUN, or prints
// the problem and returns EXIT_USAGE.
int parse_window(int argc, char **argv, int first, CommandLine &line) {
    if (parse_hex_address(argv[first], line.flash_start) != ADDRESS_OK) {
        std::fprintf(message_out, "\nProblem with flash_start address %s", argv[first]);
        return EXIT_USAGE;
    }
    if (!parse_size(argv[first + 1], line.flash_size)) {
        std::fprintf(message_out, "\nProblem with size %s", argv[first + 1]);
        return EXIT_USAGE;
    }
    for (int i = first + 2; i < argc; ++i) {
        // An option after START is a slip, not a file name.
        if (argv[i][0] == '-' && argv[i][1] != '\0') {
            std::fprintf(
                message_out,
                "\nProblem with argument %s: options come before START (./%s names a file)",
                argv[i], argv[i]);
            return EXIT_USAGE;
        }
    }
    line.in_names = argv + first + 2;
    line.in_count = argc - first - 3;
    line.out_name = argv[argc - 1];
    return COMMAND_RUN;
}

} // namespace

int parse_command_line(int argc, char **argv, CommandLine &line) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::fprintf(message_out, "quorlit %s\n", QUORLIT_VERSION);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        print_help();
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "--info") == 0) {
        line.info = true;
        line.in_names = argv + 2;
        line.in_count = argc - 2;
        return COMMAND_RUN;
    }
    if (argc < 5) {
        print_usage();
        return EXIT_USAGE;
    }
    int first = parse_options(argc, argv, line);
    if (first == 0) return EXIT_USAGE;
    if (argc - first < 4) {
        print_usage();
        return EXIT_USAGE;
    }
    return parse_window(argc, argv, first, line);
}
