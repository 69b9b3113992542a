// Image writer: places the data records of hex_in in a window of flash memory and streams the
// window's image to image_out.
#ifndef QUORLIT_IMAGE_WRITER_H
#define QUORLIT_IMAGE_WRITER_H

#include "stop_codes.h"

#include <cstdint>

struct ImageOptions {
    std::uint8_t fill = 0xFF; // the byte of holes and padding
    bool pad = false;         // pad the image to the window's size
    bool any_order = false;   // write records below the image's end in place
};

// Converts hex_in to the image of the window [flash_start, flash_start + flash_size) on
// image_out: byte i of the image is flash address flash_start + i and holes hold the fill byte.
// The image ends with the last data byte inside the window or, padded, with the window's last
// byte. Returns the number of bytes written and sets `stop` to how the conversion ended; after an
// error `stop_detail` holds the record's address for
// CONVERT_LOWER_ADDRESS and CONVERT_NO_SEEK, the first address whose data would change for
// CONVERT_CHANGED_DATA, and the record's byte count for the reader's errors. Write errors are
// left on image_out for the caller to find.
std::uint32_t convert_hex_to_image(std::uint32_t flash_start, std::uint32_t flash_size,
                                   const ImageOptions &options, int &stop,
                                   std::uint32_t &stop_detail);

#endif
