// Image writer: places the data records of hex_in in a window of flash memory and streams the
// window's image to image_out.
#ifndef QUORLIT_IMAGE_WRITER_H
#define QUORLIT_IMAGE_WRITER_H

#include <cstdint>

// How a conversion ended, besides RECORD_END (the image is whole) and the reader's errors.
constexpr int CONVERT_LOWER_ADDRESS = -16; // a record inside the window starts below the image
constexpr int CONVERT_TOO_LARGE = -17;     // the image would grow past 2 GiB

// Converts hex_in to the image of the window [flash_start, flash_start + flash_size) on
// image_out: byte i of the image is flash address flash_start + i and holes hold `fill`. The image
// ends with the last data byte inside the window or, with `pad`, with the window's last byte.
// Returns the number of bytes written and sets `stop` to how the conversion ended; after an
// error it has printed the error's message, and `stop_detail` holds the record's address for
// CONVERT_LOWER_ADDRESS and its byte count for the reader's errors. Write errors are left on
// image_out for the caller to find.
std::uint32_t convert_hex_to_image(std::uint32_t flash_start, std::uint32_t flash_size,
                                   std::uint8_t fill, bool pad, int &stop,
                                   std::uint32_t &stop_detail);

#endif
