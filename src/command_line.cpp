// The command line: options, the window, the files, the usage text and the help.
#include "command_line.h"

#include "hex_reader.h"
#include "messages.h"

#include <cctype>
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

bool parse_align(const char *text, std::uint32_t &align) {
    const char *digits = skip_0x(text);
    std::uint64_t value = 0;
    const char *end = read_number(digits, digits != text ? 16 : 10, value);
    if (end == nullptr || *end != '\0' || value == 0 || value > 0x10000) return false;
    if ((value & (value - 1)) != 0) return false;
    align = static_cast<std::uint32_t>(value);
    return true;
}

namespace {

void print_usage() {
    say("\nQuorlit Converts 32 bit files for flash Version 1.0");
    say("\nIntel HEX: https://en.wikipedia.org/wiki/Intel_HEX"
        "  Binary image: https://en.wikipedia.org/wiki/Binary_file\n");
    say("\nExample:");
    say("\nQuorlit 1d00e000 256 hexfile binfile");
    say("\nWhere 1d00e000 is the start address in hex (without the 0x)");
    say("\n      256 is the size of flash in K");
}

void print_help() {
    say("quorlit %s: the flat binary image of a window of flash memory, or its Intel HEX,\n"
        "from Intel HEX files\n"
        "\n"
        "usage: quorlit [OPTIONS] START SIZE IN.hex OUT.bin\n"
        "       quorlit [OPTIONS] START SIZE IN.hex [MORE.hex ...] -o OUT.bin\n"
        "       quorlit --hex [OPTIONS] START SIZE IN.hex [MORE.hex ...] -o OUT.hex\n"
        "       quorlit --info [--strict] IN.hex [MORE.hex ...]\n"
        "\n"
        "  START    the window's first address: 1 to 8 hexadecimal digits, 0x optional\n"
        "  SIZE     the window's size: KiB in decimal (256, 256K), MiB (1M), or bytes in\n"
        "           hexadecimal (0x40000; 0x100K and 0x1M count KiB and MiB)\n"
        "  IN.hex   an Intel HEX file; - reads standard input\n"
        "  OUT.bin  the image, byte i holding address START + i; - writes standard output\n"
        "           (with --quiet)\n"
        "\n"
        "Options (before START; -o also after the inputs):\n"
        "  -o, --output OUT.bin  name the image; needed to merge several inputs\n"
        "  --pad        pad the image with fill up to the window's size\n"
        "  --fill XX    fill holes with the byte XX (hexadecimal, 0x optional), not FF\n"
        "  --any-order  take records in any address order, writing the image in place\n"
        "  --overlap=error|replace  an address given another value stops the run\n"
        "               (error, the default) or takes the later value (replace)\n"
        "  --strict     fail the run (status 2) on any window check; with --info, on\n"
        "               an address given two values\n"
        "  --stamp KIND@WHERE[=PLACEHOLDER]  stamp a check value into the image, over\n"
        "               the final image from START to its end but the stamp's own bytes:\n"
        "               KIND as --list-stamps lists (crc32, stm32, len32, ...; -be for\n"
        "               big-endian), WHERE end (after the image, rounded up to 4), last\n"
        "               (the window's last bytes), an address or +OFFSET (hexadecimal);\n"
        "               PLACEHOLDER, the value of data that the stamp may replace\n"
        "  --stamp-from ADDR|+OFF  start the check values' range there\n"
        "  --align N    round the image's end up to a multiple of N (a power of two)\n"
        "  --hex        write OUT as Intel HEX: the image's data at their addresses,\n"
        "               16 bytes a record, and the inputs' start address record; holes\n"
        "               left out where the fill is FF without --pad (OUT.hex, .ihx or\n"
        "               .ihex needs it; -o replaces an Intel HEX file of that name)\n"
        "  --crlf       end the lines of --hex output with CR LF, not LF\n"
        "  --quiet, -q  print nothing after a good run\n"
        "  --info       list the data address runs of the inputs, and what a conversion\n"
        "               of them would meet; writes no image\n"
        "  --list-stamps, --help, --version\n"
        "\n"
        "Window checks, after the report: a line for each edge of the window that cuts\n"
        "through data, for a window that holds no data, for each input of a merge that\n"
        "gives the window none, and for each input whose values replaced others.\n"
        "\n"
        "Exit status: 0 the image is whole; 1 nothing was converted (the command line, an\n"
        "input that cannot be opened or is not Intel HEX, an output that is); 2 the\n"
        "conversion stopped on an error, a write failed, or --strict met a window check.\n",
        QUORLIT_VERSION);
}

// Whether `word` names an option rather than a file: "-" alone is standard input or output.
bool is_option(const char *word) {
    return word[0] == '-' && word[1] != '\0';
}

// Whether `word` is -o or --output, whose value follows it.
bool is_output_option(const char *word) {
    return std::strcmp(word, "-o") == 0 || std::strcmp(word, "--output") == 0;
}

// Takes the output's name from the option at argv[i] into `line`. Returns the index of the
// option's last word, or 0 after printing the problem: no value, a second output, or a value
// that looks like another option.
int parse_output(int argc, char **argv, int i, CommandLine &line) {
    const char *name = nullptr;
    int last = i;
    if (std::strncmp(argv[i], "--output=", 9) == 0) {
        name = argv[i] + 9;
    } else if (i + 1 < argc) {
        last = i + 1;
        name = argv[last];
    }
    if (name == nullptr || name[0] == '\0' || is_option(name) || line.out_name != nullptr) {
        say("\nProblem with option %s", argv[i]);
        return 0;
    }
    line.out_name = name;
    return last;
}

// Whether `word` is the option `name`, as NAME or NAME=VALUE.
bool takes_value(const char *word, const char *name) {
    std::size_t length = std::strlen(name);
    return std::strncmp(word, name, length) == 0 && (word[length] == '\0' || word[length] == '=');
}

// Reads --stamp, --stamp-from or --align at argv[i], and its value, into `line`. Returns the
// index of its last word, or 0 after printing the problem with it.
int parse_stamp_option(int argc, char **argv, int i, CommandLine &line) {
    const char *word = argv[i];
    const char *value = std::strchr(word, '=');
    int last = i;
    if (value != nullptr) {
        ++value;
    } else if (i + 1 < argc) {
        last = i + 1;
        value = argv[last];
    }
    StampPlan &plan = line.stamps;
    bool good = value != nullptr;
    if (good && takes_value(word, "--align")) {
        good = parse_align(value, line.options.align);
    } else if (good && takes_value(word, "--stamp-from")) {
        good = parse_stamp_from(value, plan);
    } else if (good) {
        good = plan.count < STAMPS_MAX && parse_stamp(value, plan.stamps[plan.count]);
        if (good) ++plan.count;
    }
    if (good) return last;
    // --stamp=X names itself; --stamp X names its value too.
    if (last != i) {
        say("\nProblem with option %s %s", word, value);
    } else {
        say("\nProblem with option %s", word);
    }
    if (takes_value(word, "--stamp"))
        say("\n--stamp takes KIND@WHERE[=PLACEHOLDER]: KIND as quorlit --list-stamps lists, "
            "WHERE end, last, an address or +OFFSET (hexadecimal); %d stamps at most",
            STAMPS_MAX);
    return 0;
}

// Reads the option at argv[i], and its value, into `line`. Returns the index of its last word,
// or 0 after printing the problem with it.
int parse_option(int argc, char **argv, int i, CommandLine &line) {
    const char *word = argv[i];
    if (std::strcmp(word, "--pad") == 0) {
        line.options.pad = true;
    } else if (std::strcmp(word, "--quiet") == 0 || std::strcmp(word, "-q") == 0) {
        line.quiet = true;
    } else if (std::strcmp(word, "--any-order") == 0) {
        line.options.any_order = true;
    } else if (std::strcmp(word, "--overlap=error") == 0) {
        line.options.replace = false;
    } else if (std::strcmp(word, "--overlap=replace") == 0) {
        line.options.replace = true;
    } else if (std::strcmp(word, "--strict") == 0) {
        line.strict = true;
    } else if (std::strcmp(word, "--info") == 0) {
        line.info = true;
    } else if (std::strcmp(word, "--hex") == 0) {
        line.hex = true;
        line.options.carry_start = true;
    } else if (std::strcmp(word, "--crlf") == 0) {
        line.crlf = true;
    } else if (is_output_option(word) || std::strncmp(word, "--output=", 9) == 0) {
        return parse_output(argc, argv, i, line);
    } else if (takes_value(word, "--stamp") || takes_value(word, "--stamp-from") ||
               takes_value(word, "--align")) {
        return parse_stamp_option(argc, argv, i, line);
    } else {
        const char *fill = nullptr;
        if (std::strncmp(word, "--fill=", 7) == 0) {
            fill = word + 7;
        } else if (std::strcmp(word, "--fill") == 0 && i + 1 < argc) {
            fill = argv[++i];
        }
        if (fill == nullptr || !parse_fill(fill, line.options.fill)) {
            // --fill=XX names itself; --fill XX names its value.
            bool value_apart = fill != nullptr && std::strncmp(word, "--fill=", 7) != 0;
            say("\nProblem with option %s", value_apart ? fill : word);
            return 0;
        }
    }
    return i;
}

// Reads the options before START (or the files of --info). Returns the index of the first
// argument after them, or 0 after printing the problem with an option.
int parse_options(int argc, char **argv, CommandLine &line) {
    int i = 1;
    for (; i < argc && is_option(argv[i]); ++i) {
        i = parse_option(argc, argv, i, line);
        if (i == 0) return 0;
    }
    return i;
}

// Takes an output named by an option after the inputs, the last one or two of argv[first] to
// argv[end - 1], into `line`. Returns the end of the arguments before it, or 0 after printing
// the problem with it.
int parse_output_after(int argc, char **argv, int first, int end, CommandLine &line) {
    if (end - first >= 2 && is_output_option(argv[end - 2])) {
        if (parse_output(argc, argv, end - 2, line) == 0) return 0;
        return end - 2;
    }
    if (end > first && std::strncmp(argv[end - 1], "--output=", 9) == 0) {
        if (parse_output(argc, argv, end - 1, line) == 0) return 0;
        return end - 1;
    }
    return end;
}

// Prints the problem with an option among the files from argv[first] on, up to `end`, and returns
// true; false when there is none.
bool option_among_files(char **argv, int first, int end, const char *before) {
    for (int i = first; i < end; ++i) {
        if (is_option(argv[i]) && is_output_option(argv[i])) {
            say("\nProblem with option %s", argv[i]);
            return true;
        }
        // An option among the files is a slip, not a file name.
        if (is_option(argv[i])) {
            say("\nProblem with argument %s: options come before %s (./%s names a file)", argv[i],
                before, argv[i]);
            return true;
        }
    }
    return false;
}

// Reads the files of --info from argv[first] on. Returns COMMAND_RUN, or prints the problem and
// returns EXIT_USAGE.
int parse_info(int argc, char **argv, int first, CommandLine &line) {
    if (line.out_name != nullptr || line.hex || line.crlf) {
        const char *option = line.out_name != nullptr ? "-o" : line.hex ? "--hex" : "--crlf";
        say("\nProblem with option %s: --info writes no image", option);
        return EXIT_USAGE;
    }
    if (first == argc) {
        print_usage();
        return EXIT_USAGE;
    }
    if (option_among_files(argv, first, argc, "the files")) return EXIT_USAGE;
    line.in_names = argv + first;
    line.in_count = argc - first;
    return COMMAND_RUN;
}

// Reads START and SIZE at argv[first]. Returns COMMAND_RUN, or prints the problem and what is
// accepted, and returns EXIT_USAGE.
int parse_window(char **argv, int first, CommandLine &line) {
    if (parse_hex_address(argv[first], line.flash_start) != ADDRESS_OK) {
        say("\nProblem with flash_start address %s", argv[first]);
        say("\nSTART is 1 to 8 hexadecimal digits, 0x optional: 1d00e000, 0x08000000");
        return EXIT_USAGE;
    }
    if (!parse_size(argv[first + 1], line.flash_size)) {
        say("\nProblem with size %s", argv[first + 1]);
        say("\nSIZE is KiB in decimal (256, 256K), MiB (1M), or bytes in hexadecimal (0x40000; "
            "0x100K and 0x1M count KiB and MiB), under 4 GiB");
        return EXIT_USAGE;
    }
    return COMMAND_RUN;
}

// Reads START, SIZE, the inputs and the output from argv[first] on. Returns COMMAND_RUN, or
// prints the problem and returns EXIT_USAGE.
int parse_conversion(int argc, char **argv, int first, CommandLine &line) {
    bool named_before = line.out_name != nullptr;
    int end = named_before ? argc : parse_output_after(argc, argv, first, argc, line);
    if (end == 0) return EXIT_USAGE;
    bool named = line.out_name != nullptr;
    // START, SIZE and an input; and the output, where no option names it.
    if (end - first < (named ? 3 : 4)) {
        print_usage();
        return EXIT_USAGE;
    }
    if (option_among_files(argv, first + 2, end, "START")) return EXIT_USAGE;
    if (parse_window(argv, first, line) != COMMAND_RUN) return EXIT_USAGE;
    if (!check_stamp_plan(line.stamps, line.flash_start, line.flash_size)) return EXIT_USAGE;
    // A stamp in the window's last bytes pads the image up to them.
    if (stamps_pad(line.stamps)) line.options.pad = true;
    // Stamps at fixed places must not fall on data: the run list says where data lies. Intel HEX
    // of a stamped image is written from it too.
    line.options.track_runs = stamps_fixed(line.stamps) || (line.hex && line.stamps.count > 0);
    // The last of several files is no output unless an option names it: a forgotten OUT.bin
    // would overwrite an input.
    if (!named && end - first > 4) {
        say("\nProblem with argument %s: several inputs need -o OUT.bin to name the output",
            argv[end - 1]);
        return EXIT_USAGE;
    }
    line.in_names = argv + first + 2;
    line.in_count = named ? end - first - 2 : 1;
    line.out_by_option = named;
    if (!named) line.out_name = argv[first + 3];
    if (line.crlf && !line.hex) {
        say("\nProblem with option --crlf: it ends the lines of --hex output");
        return EXIT_USAGE;
    }
    return COMMAND_RUN;
}

} // namespace

int parse_command_line(int argc, char **argv, CommandLine &line) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        say("quorlit %s\n", QUORLIT_VERSION);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--list-stamps") == 0) {
        print_stamp_kinds();
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        print_help();
        return 0;
    }
    bool info = false;
    for (int i = 1; i < argc; ++i) info = info || std::strcmp(argv[i], "--info") == 0;
    if (argc < 5 && !info) {
        print_usage();
        return EXIT_USAGE;
    }
    int first = parse_options(argc, argv, line);
    if (first == 0) return EXIT_USAGE;
    if (line.info) return parse_info(argc, argv, first, line);
    return parse_conversion(argc, argv, first, line);
}

bool named_as_hex(const char *name) {
    std::size_t length = std::strlen(name);
    for (const char *ending : {".hex", ".ihx", ".ihex"}) {
        std::size_t size = std::strlen(ending);
        bool same = length >= size;
        for (std::size_t i = 0; same && i < size; ++i)
            same = std::tolower(static_cast<unsigned char>(name[length - size + i])) == ending[i];
        if (same) return true;
    }
    return false;
}

const char *output_argument(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--info") == 0) return nullptr;
        // argv[argc] is a null pointer: -o last names nothing.
        if (is_output_option(argv[i])) return argv[i + 1];
        if (std::strncmp(argv[i], "--output=", 9) == 0) return argv[i] + 9;
    }
    return argc > 4 ? argv[argc - 1] : nullptr;
}
