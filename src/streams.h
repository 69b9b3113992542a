// The two process-wide streams of a run, and the little that differs between platforms. The
// front end opens and closes the streams; the HEX reader only reads hex_in and the image writer
// only writes image_out. Tests point them at their own temporary or in-memory files.
#ifndef QUORLIT_STREAMS_H
#define QUORLIT_STREAMS_H

#include <cstddef>
#include <cstdio>

inline std::FILE *hex_in = nullptr;
inline std::FILE *image_out = nullptr;

// The reader takes every input character, and the writer every record, through these two calls.
// The tool has one thread, so where the C library offers it they skip the stream lock that
// getc and fwrite take on each call; elsewhere, or with QUORLIT_PORTABLE_STDIO defined, they
// are plain getc and fwrite.
#if !defined(QUORLIT_PORTABLE_STDIO) && (defined(__unix__) || defined(__APPLE__))
#define QUORLIT_UNLOCKED_STDIO 1
#elif !defined(QUORLIT_PORTABLE_STDIO) && defined(_WIN32)
#define QUORLIT_NOLOCK_STDIO 1
#endif

#if defined(QUORLIT_UNLOCKED_STDIO)
#include <sys/stat.h>
#else
#include <filesystem>
#include <system_error>
#endif

// One character from a stream, or EOF at its end or on a read error.
inline int stream_getc(std::FILE *stream) {
#if defined(QUORLIT_UNLOCKED_STDIO)
    return getc_unlocked(stream);
#elif defined(QUORLIT_NOLOCK_STDIO)
    return _getc_nolock(stream);
#else
    return std::getc(stream);
#endif
}

// Writes `length` bytes to a stream; a failure stays recorded on the stream (ferror).
inline void stream_write(const void *bytes, std::size_t length, std::FILE *stream) {
#if defined(QUORLIT_UNLOCKED_STDIO) && defined(__GLIBC__)
    fwrite_unlocked(bytes, 1, length, stream);
#elif defined(QUORLIT_NOLOCK_STDIO) && (defined(_UCRT) || __MSVCRT_VERSION__ >= 0x800)
    _fwrite_nolock(bytes, 1, length, stream);
#else
    std::fwrite(bytes, 1, length, stream);
#endif
}

// Whether two names lead to one existing file: the same name, a link, another path. POSIX tells
// by device and inode, which keeps the C++ library (and its megabyte or two) out of the process.
// Elsewhere file names are UTF-8, on Windows through quorlit.manifest.
inline bool same_file(const char *a, const char *b) {
#if defined(QUORLIT_UNLOCKED_STDIO)
    struct stat first, second;
    return stat(a, &first) == 0 && stat(b, &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
#else
    std::error_code error;
    return std::filesystem::equivalent(std::filesystem::u8path(a), std::filesystem::u8path(b),
                                       error);
#endif
}

#endif
