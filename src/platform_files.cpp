#include "platform_files.h"

#include <cstdio>

#if defined(QUORLIT_STD_FILESYSTEM) || !(defined(__unix__) || defined(__APPLE__))
#include <filesystem>
#include <system_error>
#endif

#if defined(__unix__) || defined(__APPLE__)
#include <sys/stat.h>
#else
#include <cctype>
#endif

// POSIX tells by device and inode, which keeps the C++ library (and its megabyte or two) out of
// the process. Elsewhere file names are UTF-8, on Windows through quorlit.manifest.
bool same_file(const char *a, const char *b) {
#if defined(QUORLIT_STD_FILESYSTEM) || !(defined(__unix__) || defined(__APPLE__))
    std::error_code error;
    return std::filesystem::equivalent(std::filesystem::u8path(a), std::filesystem::u8path(b),
                                       error);
#else
    struct stat first, second;
    return stat(a, &first) == 0 && stat(b, &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
#endif
}

bool is_standard_output(const char *name) {
#if defined(__unix__) || defined(__APPLE__)
    struct stat named, out;
    return stat(name, &named) == 0 && fstat(fileno(stdout), &out) == 0 &&
           named.st_dev == out.st_dev && named.st_ino == out.st_ino;
#else
    // Windows has no inodes to compare: the console's names and /dev/stdout, which Wine and
    // MSYS2 pass on.
    const char *names[] = {"CON", "CONOUT$", "/dev/stdout"};
    for (const char *known : names) {
        std::size_t i = 0;
        while (known[i] != '\0' && std::toupper(static_cast<unsigned char>(name[i])) ==
                                       std::toupper(static_cast<unsigned char>(known[i])))
            ++i;
        if (known[i] == '\0' && name[i] == '\0') return true;
    }
    return false;
#endif
}
