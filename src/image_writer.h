// Image writer: places the data records of the inputs in a window of flash memory and streams the
// window's image to image_out.
#ifndef QUORLIT_IMAGE_WRITER_H
#define QUORLIT_IMAGE_WRITER_H

#include "stamps.h"
#include "stop_codes.h"
#include "window_checks.h"

#include <cstdint>

struct ImageOptions {
    std::uint8_t fill = 0xFF; // the byte of holes and padding
    bool pad = false;         // pad the image to the window's size
    bool any_order = false;   // write records below the image's end in place
    bool replace = false;     // with any_order: a later value replaces an earlier one
    std::uint32_t align = 0;  // round the image's end up to a multiple of this (0: not)
    bool track_runs = false;  // keep the data's runs also in order (to find data under stamps)
    bool carry_start = false; // keep the inputs' start address record, for Intel HEX output
};

// The start address record (type 03 or 05) that the inputs gave, as they gave it, and where.
constexpr int NO_START = -1; // its type where they gave none
struct StartRecord {
    int type = NO_START;
    std::uint32_t field = 0;
    std::uint8_t count = 0;
    std::uint8_t data[255];
    RecordPlace place;
};

// The image of the window [flash_start, flash_start + flash_size) as it grows over a conversion:
// byte i is flash address flash_start + i, and holes hold the fill byte.
struct Image {
    std::uint32_t flash_start = 0;
    std::uint32_t flash_size = 0;
    ImageOptions options;
    std::uint32_t bytes_written = 0; // the image's length so far
    int input = 0;                   // the input being read
    WindowChecks checks;             // the data around the window
    StartRecord start;               // with options.carry_start
};

// How many plain records were placed (see take_plain_record); the tests count them.
inline std::uint64_t plain_records_placed = 0;

// Whether a conversion of `inputs` inputs with `options` writes records below the image's end in
// place: asked for, or where values replace others, or where several inputs give the image. The
// output is then read back too, where it can be.
bool writes_in_place(const ImageOptions &options, int inputs);

// Whether Intel HEX output of an image made with `options` writes its fill as data: where the fill
// is not FF, the erased value a programmer leaves, or the image is padded.
inline bool writes_fill(const ImageOptions &options) {
    return options.pad || options.fill != 0xFF;
}

// Starts an empty image of the window on image_out, for the inputs of input_files.
void start_image(Image &image, std::uint32_t flash_start, std::uint32_t flash_size,
                 const ImageOptions &options);

// Adds the data records of hex_in, input `image.input`, up to its end-of-file record, to the
// image on image_out. Returns the stop: none, or the error that stopped it. Write errors are left
// on image_out for the caller to find.
Stop convert_hex_to_image(Image &image);

// Ends the image: pads it to the window's size when asked, and rounds its end up to a multiple
// of options.align. Returns the stop: none, CONVERT_TOO_LARGE for a window over 2 GiB, or
// CONVERT_PAST_WINDOW.
Stop finish_image(Image &image);

// Takes the check value of `plan`, checked against the window, of the image's blocks as they go
// to image_out, so that stamp_image reads back only what it must. Before the conversion.
void stream_stamps(const StampPlan &plan);

// Stamps the check values of `plan`, checked against the window, into the image on image_out,
// which must be read back: the image grows to hold them, and each value is computed over the
// final image (see stamps.h). Returns the stop: none, CONVERT_STAMP_ON_DATA (the caller finds
// the record that gave the data), CONVERT_PAST_WINDOW, CONVERT_PART_WORD, or the stop of an
// image that cannot be read back.
Stop stamp_image(Image &image, StampPlan &plan);

// The image's length so far.
std::uint32_t image_length(const Image &image);

// After a conversion that read every input: prints the window checks (see print_window_checks).
// Returns the number of lines.
int print_image_checks(const Image &image);

// Converts every input in turn into the image, and ends it: the first from hex_in as
// read_input(0) left it, the others from their start. Returns the stop, with the address after
// the image as it stopped.
Stop convert_inputs(Image &image);

#endif
