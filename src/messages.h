// The texts of errors: how a run stopped, and where in the input and why, in the IN:LINE: form
// that compilers use and editors jump to.
#ifndef QUORLIT_MESSAGES_H
#define QUORLIT_MESSAGES_H

#include "input_files.h"
#include "stop_codes.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Where messages and the report go: standard output, or standard error when the image goes to
// standard output, so that the image's stream holds image bytes only.
inline std::FILE *message_out = stdout;

// Prints the message of the error `stop` and, on the next line, where and why it stopped.
void print_stop(const Stop &stop);

// Room for a file name and a line number; a longer name is cut.
constexpr std::size_t PLACE_TEXT = 1024;

// Writes into `text` the IN:LINE form of `place`, without the line where it cannot be found again
// (a pipe), or nothing where there is no such place (input -1).
void place_text(char (&text)[PLACE_TEXT], const RecordPlace &place);

// Prints `reason` about the record at `place`, on a line of its own.
void print_at(const RecordPlace &place, const char *reason);

#endif
