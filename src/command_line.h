// The command line: options, the window, the files, and the usage text.
//
//   quorlit [OPTIONS] START SIZE IN.hex OUT.bin
//   quorlit [OPTIONS] START SIZE IN.hex [MORE.hex ...] -o OUT.bin
//   quorlit --info [--strict] IN.hex [MORE.hex ...]
//   quorlit --help | --version
//
// OPTIONS: --pad, --fill XX, --any-order, --overlap=error|replace, --strict, --quiet,
// --stamp KIND@WHERE[=PLACEHOLDER], --stamp-from ADDR|+OFF, --align N, --hex, --crlf, and
// -o OUT.bin, which may also follow the inputs. quorlit --list-stamps lists the kinds of --stamp.
#ifndef QUORLIT_COMMAND_LINE_H
#define QUORLIT_COMMAND_LINE_H

#include "image_writer.h"
#include "stamps.h"

#include <cstdint>

// Exit status 1: nothing was converted; 2: the conversion or a write failed.
constexpr int EXIT_USAGE = 1;
constexpr int EXIT_CONVERSION = 2;

// What parse_command_line returns when there is a run to do.
constexpr int COMMAND_RUN = -1;

struct CommandLine {
    bool info = false; // --info IN.hex: the survey of the files instead of a conversion
    bool quiet = false;
    bool strict = false; // a window check fails the run; with --info, a conflict
    ImageOptions options;
    std::uint32_t flash_start = 0;
    std::uint32_t flash_size = 0; // in bytes, wrapping at 4 GiB
    char **in_names = nullptr;    // the inputs, in the order given
    int in_count = 0;
    const char *out_name = nullptr;
    bool out_by_option = false; // -o named the output
    bool hex = false;           // --hex: the output is Intel HEX
    bool crlf = false;          // --crlf: its lines end in CR LF
    StampPlan stamps;           // --stamp, --stamp-from
};

// What parse_hex_address returns.
constexpr int ADDRESS_OK = 1;
constexpr int ADDRESS_TOO_LONG = 2; // more than 8 characters after the prefix
constexpr int ADDRESS_NOT_HEX = 4;  // none, or one that is not a hexadecimal digit

// Returns ADDRESS_OK and sets `value` when `text` is 1 to 8 hexadecimal digits (either case) after
// an optional 0x or 0X; otherwise says why not.
int parse_hex_address(const char *text, std::uint32_t &value);

// Returns true and sets `bytes` to the window size that `text` gives, in the forms of a GNU linker
// script's LENGTH but for plain decimal digits, which count KiB: after optional white space and
// sign, decimal digits with nothing, K or k after them (KiB, wrapping at 4 GiB, so -1 is 4 GiB
// less 1 KiB), or with M or m (MiB); or 0x and hexadecimal digits, a length in bytes, with
// nothing, K or M after them. A size of 4 GiB or more in bytes or MiB is refused.
bool parse_size(const char *text, std::uint32_t &bytes);

// Returns true and sets `fill` when `text` is one or two hexadecimal digits, with or without 0x.
bool parse_fill(const char *text, std::uint8_t &fill);

// Returns true and sets `align` when `text` is a power of two up to 64 KiB, in decimal or in
// hexadecimal after 0x.
bool parse_align(const char *text, std::uint32_t &align);

// Reads the command line into `line` and returns COMMAND_RUN; or prints the usage text, the help,
// the version or the problem with an argument, and returns the exit status.
int parse_command_line(int argc, char **argv, CommandLine &line);

// Whether the name ends in .hex, .ihx or .ihex, in any case.
bool named_as_hex(const char *name);

// Returns the name of the output as the command line gives it, before it is read: where the
// messages go depends on it. nullptr for --info, or too few arguments.
const char *output_argument(int argc, char **argv);

#endif
