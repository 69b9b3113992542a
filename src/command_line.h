// The command line: options, the window, the files, and the usage text.
//
//   quorlit [--pad] [--fill XX] [--any-order] [--quiet] START SIZE_K IN.hex OUT.bin
//   quorlit --info IN.hex
//   quorlit --help | --version
#ifndef QUORLIT_COMMAND_LINE_H
#define QUORLIT_COMMAND_LINE_H

#include "image_writer.h"

#include <cstdint>

// Exit status 1: nothing was converted; 2: the conversion or a write failed.
constexpr int EXIT_USAGE = 1;
constexpr int EXIT_CONVERSION = 2;

// What parse_command_line returns when there is a run to do.
constexpr int COMMAND_RUN = -1;

struct CommandLine {
    bool info = false; // --info IN.hex: the map of a file instead of a conversion
    bool quiet = false;
    ImageOptions options;
    std::uint32_t flash_start = 0;
    std::uint32_t flash_size = 0; // in bytes, wrapping at 4 GiB
    const char *in_name = nullptr;
    const char *out_name = nullptr;
};

// Returns 1 and sets `value` when `text` is 1 to 8 hexadecimal digits (either case, no 0x);
// returns 2 when it is longer than 8 characters and 4 when it is empty or holds another
// character.
int parse_hex_address(const char *text, std::uint32_t &value);

// Returns true and sets `value` when `text` is a decimal size: optional leading white space, an
// optional sign, digits, and an optional K or k. The value wraps in 32 bits, so -1 is 2^32 - 1.
bool parse_size_k(const char *text, std::uint32_t &value);

// Reads the command line into `line` and returns COMMAND_RUN; or prints the usage text, the help,
// the version or the problem with an argument, and returns the exit status.
int parse_command_line(int argc, char **argv, CommandLine &line);

#endif
