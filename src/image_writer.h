// Image writer: places the data records of hex_in in a window of flash memory and streams the
// window's image to image_out.
#ifndef QUORLIT_IMAGE_WRITER_H
#define QUORLIT_IMAGE_WRITER_H

#include <cstdint>

// Converts hex_in to the image of the window [flash_start, flash_start + flash_size) on
// image_out: byte i of the image is flash address flash_start + i, holes are 0xFF, and the image
// ends with the last data byte inside the window. Returns the number of bytes written. Sets
// `reached_end` when the conversion read the end-of-file record; otherwise it printed why it
// stopped. Write errors are left on image_out for the caller to find.
std::uint32_t convert_hex_to_image(std::uint32_t flash_start, std::uint32_t flash_size,
                                   bool &reached_end);

#endif
