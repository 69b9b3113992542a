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

// MinGW-w64's C++ library formats as the GNU C library does, not as msvcrt does.
#if defined(__MINGW32__)
#define QUORLIT_PRINTF_LIKE __attribute__((format(gnu_printf, 1, 2)))
#elif defined(__GNUC__)
#define QUORLIT_PRINTF_LIKE __attribute__((format(printf, 1, 2)))
#else
#define QUORLIT_PRINTF_LIKE
#endif

// Prints a message to message_out through `format`, as printf does.
void say(const char *format, ...) QUORLIT_PRINTF_LIKE;

// Ends the messages with a newline where they do not end with one, so that whatever a log
// prints next starts a line of its own.
void end_messages();
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
