// Image writer: places the data records of hex_in in a window of flash memory and streams the
// window's image to image_out.
#ifndef QUORLIT_IMAGE_WRITER_H
#define QUORLIT_IMAGE_WRITER_H

#include "stop_codes.h"
#include "window_checks.h"

#include <cstdint>

struct ImageOptions {
    std::uint8_t fill = 0xFF; // the byte of holes and padding
    bool pad = false;         // pad the image to the window's size
    bool any_order = false;   // write records below the image's end in place
    bool replace = false;     // with any_order: a later value replaces an earlier one
};

// The image of the window [flash_start, flash_start + flash_size) as it grows over a run: byte i
// is flash address flash_start + i, and holes hold the fill byte.
struct Image {
    std::uint32_t flash_start = 0;
    std::uint32_t flash_size = 0;
    ImageOptions options;
    std::uint32_t bytes_written = 0; // the image's length so far
    std::uint32_t stop_detail = 0;   // what the error that stopped the run names
    int input = 0;                   // the input being read
    WindowChecks checks;             // the data around the window
};

// Whether plainly good records are decoded whole (see image_writer.cpp); the tests turn it off to
// compare with the character reader alone, and count the records decoded whole.
inline bool plain_records = true;
inline std::uint64_t plain_records_placed = 0;

// Starts an empty image of the window on image_out.
void start_image(Image &image, std::uint32_t flash_start, std::uint32_t flash_size,
                 const ImageOptions &options);

// Adds the data records of hex_in, input `image.input`, up to its end-of-file record, to the
// image on image_out. Returns RECORD_END, or the error that stopped it; `stop_detail` then holds
// the address of the record's piece that failed (its bytes after a 64 KiB segment's wrap are a
// piece of their own) for CONVERT_LOWER_ADDRESS and CONVERT_NO_SEEK, the first address whose
// data would change for CONVERT_CHANGED_DATA, and the record's byte count for the reader's
// errors. Write errors are left on image_out for the caller to find.
int convert_hex_to_image(Image &image);

// Ends the image: pads it to the window's size when asked. Returns RECORD_END, or
// CONVERT_TOO_LARGE for a window over 2 GiB.
int finish_image(Image &image);

#endif
