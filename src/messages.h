// The texts of errors: how a run stopped, and where in the input and why, in the IN:LINE: form
// that compilers use and editors jump to.
#ifndef QUORLIT_MESSAGES_H
#define QUORLIT_MESSAGES_H

#include <cstdint>
#include <cstdio>

// Where messages and the report go: standard output, or standard error when the image goes to
// standard output, so that the image's stream holds image bytes only.
inline std::FILE *message_out = stdout;

// Prints the message of the error `stop` and, on the next line, where and why it stopped in the
// input `in_name`, which is still open. `detail` is what the stop names (see
// convert_hex_to_image) and `image_end` the address after the image.
void print_stop(const char *in_name, int stop, std::uint32_t detail, std::uint32_t image_end);

// Prints `reason` about the record that ends at input position `position`, on a line of its own.
void print_at(const char *in_name, std::uint64_t position, const char *reason);

#endif
