// What the platform can tell of files by name, and how it opens them. The name "-" stands for
// standard input where a file is read and for standard output where one is written. POSIX
// compares device and inode; Windows, which has no inodes, the volume and the file index (of a
// standard stream's handle for "-"), and knows the console's names.
#ifndef QUORLIT_PLATFORM_FILES_H
#define QUORLIT_PLATFORM_FILES_H

#include <cstdint>
#include <cstdio>

// Whether the name is "-".
bool is_dash(const char *name);

// Opens the named file, or standard input or output for "-", in binary mode `mode` ("rb", "wb"
// or "w+b"). Returns nullptr when it cannot.
std::FILE *open_file(const char *name, const char *mode);

// Whether writing to the name writes to standard output: "-", or a name that leads to the file
// that standard output writes to (as same_file tells it).
bool is_standard_output(const char *name);

// Whether the name means standard output on a platform where a file of that name does not reach
// it: on Windows the console's names (CON, CONOUT$) and /dev/stdout, which Wine and MSYS2 pass
// on. "-" is the name that does.
bool is_console_name(const char *name);

// Whether the input `in` and the output `out` lead to one existing file: the same name, a link,
// another path, or "-" for a standard stream that is that file. Where the platform cannot tell
// what file a standard stream is (Wine), a standard stream on a disk may be any: true.
bool same_file(const char *in, const char *out);

// Whether reading the open file never waits for a writer, and it holds at least `size` bytes: a
// regular file of that size, or a stream in memory (whose size is not told); not a pipe, a FIFO
// or a terminal.
bool reads_never_wait(std::FILE *file, std::uint64_t size);

// Whether the name leads to a regular file (on Windows, a file on a disk that is no folder).
bool is_regular_file(const char *name);

// Whether the name leads to a folder, which opens on some systems but cannot be read.
bool is_folder(const char *name);

// Whether the output `name` can be read back after it is written: a regular file, or none yet.
// A pipe, a FIFO or a device cannot, and opening a FIFO for reading would not wait for its
// reader.
bool can_read_back(const char *name);

// Creates and opens ("w+b") a file of its own for the image while it is built, removed when it
// is closed or the process ends, however it ends: named after the file `beside` with a suffix,
// which keeps it on the disk the output goes to, else (for "-", or a folder that takes no new
// file) in the system's folder for temporary files. Returns nullptr when it cannot.
std::FILE *open_temporary(const char *beside);

#endif
