// The two process-wide streams of a run: hex_in, the HEX input, and image_out, the image. The
// front end opens and closes them; the HEX reader alone reads hex_in, and the image writer alone
// writes image_out, each through the functions of its room.
#ifndef QUORLIT_STREAMS_H
#define QUORLIT_STREAMS_H

#include "input_stream.h"
#include "output_stream.h"

#endif
