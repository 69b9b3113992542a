// The two process-wide streams of a run. The front end opens and closes them; the HEX reader
// only reads hex_in and the image writer only writes image_out. Tests point them at their own
// temporary or in-memory files.
#ifndef QUORLIT_STREAMS_H
#define QUORLIT_STREAMS_H

#include <cstdio>

inline std::FILE *hex_in = nullptr;
inline std::FILE *image_out = nullptr;

// One character from a stream, or EOF at its end or on a read error. The reader calls this once
// per input character, so on POSIX systems it skips the per-call stream lock (one thread only);
// elsewhere, or with QUORLIT_PORTABLE_STDIO defined, it is plain getc.
inline int stream_getc(std::FILE *stream) {
#if (defined(__unix__) || defined(__APPLE__)) && !defined(QUORLIT_PORTABLE_STDIO)
    return getc_unlocked(stream);
#else
    return std::getc(stream);
#endif
}

#endif
