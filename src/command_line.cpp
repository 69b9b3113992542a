#include "command_line.h"

#include "hex_reader.h"
#include "messages.h"

#include <cstdio>
#include <cstring>

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

bool parse_size_k(const char *text, std::uint32_t &value) {
    while (*text != '\0' && std::strchr(" \t\n\v\f\r", *text) != nullptr) ++text;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    if (*text < '0' || *text > '9') return false;
    std::uint64_t result = 0;
    for (; *text >= '0' && *text <= '9' && result <= 0xFFFFFFFFu; ++text)
        result = result * 10u + static_cast<std::uint64_t>(*text - '0');
    if (result > 0xFFFFFFFFu) return false;
    if (*text == 'K' || *text == 'k') ++text;
    if (*text != '\0') return false;
    auto magnitude = static_cast<std::uint32_t>(result);
    value = negative ? 0u - magnitude : magnitude;
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
                 "\n  --fill XX    fill holes with the byte XX (two hex digits) instead of FF"
                 "\n  --any-order  take records in any address order, writing the image in place"
                 "\n  --quiet, -q  print nothing after a good run"
                 "\n\nquorlit --info IN.hex lists the file's data address runs, alone.\n");
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
        const char *fill = nullptr;
        if (std::strncmp(argv[i], "--fill=", 7) == 0) {
            fill = argv[i] + 7;
        } else if (std::strcmp(argv[i], "--fill") == 0 && i + 1 < argc) {
            fill = argv[++i];
        }
        std::uint32_t value = 0;
        if (fill != nullptr && std::strlen(fill) == 2 && parse_hex_address(fill, value) == 1) {
            line.options.fill = static_cast<std::uint8_t>(value);
            continue;
        }
        // --fill=XX names itself; --fill XX names its value.
        bool value_apart = fill != nullptr && fill != argv[i] + 7;
        std::fprintf(message_out, "\nProblem with option %s", value_apart ? fill : argv[i]);
        return 0;
    }
    return i;
}

// Reads START, SIZE_K, IN.hex and OUT.bin from argv[first] on. Returns COMMAND_RUN, or prints
// the problem and returns EXIT_USAGE.
int parse_window(int argc, char **argv, int first, CommandLine &line) {
    if (parse_hex_address(argv[first], line.flash_start) != 1) {
        std::fprintf(message_out, "\nProblem with flash_start address %s", argv[first]);
        return EXIT_USAGE;
    }
    std::uint32_t size_k = 0;
    if (!parse_size_k(argv[first + 1], size_k)) {
        std::fprintf(message_out, "\nProblem with size %s", argv[first + 1]);
        return EXIT_USAGE;
    }
    line.flash_size = size_k << 10;
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
    if (argc - first > 4) {
        std::fprintf(message_out, "\nProblem with argument %s", argv[first + 4]);
        return EXIT_USAGE;
    }
    line.in_name = argv[first + 2];
    line.out_name = argv[first + 3];
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
    if (argc == 3 && std::strcmp(argv[1], "--info") == 0) {
        line.info = true;
        line.in_name = argv[2];
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
