// What the platform tells of files by name, and how it opens "-".
#include "platform_files.h"

#include <cstring>

// Windows and POSIX have calls of their own; other systems, and builds that test this path, go
// by std::filesystem.
#if defined(QUORLIT_STD_FILESYSTEM) || !(defined(__unix__) || defined(__APPLE__) || defined(_WIN32))
#define QUORLIT_FILESYSTEM 1
#include <filesystem>
#include <system_error>
#endif

#if defined(__unix__) || defined(__APPLE__)
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#endif

#if defined(_WIN32)
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#endif

namespace {

// Whether files are told apart by their paths (std::filesystem) rather than device and inode.
#if defined(QUORLIT_FILESYSTEM)
constexpr bool BY_PATH = true;
#else
constexpr bool BY_PATH = false;
#endif

#if defined(_WIN32)
// Opens the named file or folder only to ask what it is, or returns INVALID_HANDLE_VALUE with
// the error in GetLastError. Names are UTF-8 (quorlit.manifest); Win32 takes UTF-16.
HANDLE open_named(const char *name) {
    int length = MultiByteToWideChar(CP_UTF8, 0, name, -1, nullptr, 0);
    wchar_t *wide = nullptr;
    if (length > 0) {
        auto size = sizeof *wide * static_cast<std::size_t>(length);
        wide = static_cast<wchar_t *>(std::malloc(size));
    }
    if (wide == nullptr) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    MultiByteToWideChar(CP_UTF8, 0, name, -1, wide, length);
    HANDLE named = CreateFileW(wide, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    std::free(wide);
    return named;
}

// What a file is: its volume and its identifier on the volume, and its attributes.
struct FileIdentity {
    unsigned long long volume; // 0 where the platform does not tell it (Wine's standard streams)
    unsigned char id[16];
    DWORD attributes;
};

// Reads what the named file, or the standard stream `standard` for "-", is, and in `type`
// whether it is on a disk (FILE_TYPE_DISK). Returns false where it cannot, with the error in
// GetLastError. The identifier comes from FileIdInfo, which Wine also tells of a standard
// stream, or else from the older file index.
bool identify(const char *name, std::FILE *standard, FileIdentity &identity, DWORD &type) {
    type = FILE_TYPE_UNKNOWN;
    HANDLE handle = is_dash(name) ? reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(standard)))
                                  : open_named(name);
    if (handle == INVALID_HANDLE_VALUE) return false;
    type = GetFileType(handle);
    identity = {};
    FILE_ID_INFO id;
    bool known = GetFileInformationByHandleEx(handle, FileIdInfo, &id, sizeof id) != 0;
    if (known) {
        identity.volume = id.VolumeSerialNumber;
        std::memcpy(identity.id, id.FileId.Identifier, sizeof identity.id);
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(handle, &info) != 0) {
        identity.attributes = info.dwFileAttributes;
        if (!known) {
            identity.volume = info.dwVolumeSerialNumber;
            std::memcpy(identity.id, &info.nFileIndexLow, sizeof info.nFileIndexLow);
            std::memcpy(identity.id + 4, &info.nFileIndexHigh, sizeof info.nFileIndexHigh);
            known = true;
        }
    }
    if (!is_dash(name)) CloseHandle(handle);
    return known;
}

// What is known of the file behind a name, or a standard stream for "-".
constexpr int NO_FILE = 0;      // none on a disk: no such file, a console, a pipe
constexpr int KNOWN_FILE = 1;   // a file whose identity is known
constexpr int UNKNOWN_FILE = 2; // a standard stream on a disk whose identity is not told

int file_kind(const char *name, std::FILE *standard, FileIdentity &identity) {
    DWORD type = FILE_TYPE_UNKNOWN;
    if (identify(name, standard, identity, type)) return KNOWN_FILE;
    return is_dash(name) && type == FILE_TYPE_DISK ? UNKNOWN_FILE : NO_FILE;
}

// Whether `name` is `known`, in either case.
bool same_name(const char *name, const char *known) {
    std::size_t i = 0;
    while (known[i] != '\0' && std::toupper(static_cast<unsigned char>(name[i])) ==
                                   std::toupper(static_cast<unsigned char>(known[i])))
        ++i;
    return known[i] == '\0' && name[i] == '\0';
}
#endif

#if defined(__unix__) || defined(__APPLE__)
// Reads the identity of the named file, or of the standard stream `standard` for "-".
bool identify(const char *name, std::FILE *standard, struct stat &identity) {
    if (is_dash(name)) return fstat(fileno(standard), &identity) == 0;
    return stat(name, &identity) == 0;
}
#endif

} // namespace

bool is_dash(const char *name) {
    return std::strcmp(name, "-") == 0;
}

std::FILE *open_file(const char *name, const char *mode) {
    if (!is_dash(name)) return std::fopen(name, mode);
    std::FILE *standard = mode[0] == 'r' ? stdin : stdout;
#if defined(_WIN32)
    // Windows opens the standard streams in text mode, which would turn each LF into CR LF.
    if (_setmode(_fileno(standard), _O_BINARY) == -1) return nullptr;
#endif
    return standard;
}

bool is_standard_output(const char *name) {
    if (is_dash(name)) return true;
#if defined(__unix__) || defined(__APPLE__)
    struct stat named, out;
    return stat(name, &named) == 0 && fstat(fileno(stdout), &out) == 0 &&
           named.st_dev == out.st_dev && named.st_ino == out.st_ino;
#elif defined(_WIN32)
    return is_console_name(name) || same_file(name, "-");
#else
    return is_console_name(name);
#endif
}

bool is_console_name(const char *name) {
#if defined(_WIN32)
    return same_name(name, "CON") || same_name(name, "CONOUT$") || same_name(name, "/dev/stdout");
#else
    (void)name;
    return false;
#endif
}

// POSIX tells by device and inode and Windows by volume and file index, which keeps the C++
// library's std::filesystem (a megabyte of code) out of the program, and tells what "-" stands
// for. Elsewhere std::filesystem compares the paths.
bool same_file(const char *in, const char *out) {
#if defined(_WIN32)
    FileIdentity first, second;
    int in_kind = file_kind(in, stdin, first);
    int out_kind = file_kind(out, stdout, second);
    if (in_kind == NO_FILE || out_kind == NO_FILE) return false;
    // Where the platform cannot tell, refuse rather than risk the input.
    if (in_kind == UNKNOWN_FILE || out_kind == UNKNOWN_FILE) return true;
    // A volume not told matches any.
    bool same_volume = first.volume == second.volume || first.volume == 0 || second.volume == 0;
    return same_volume && std::memcmp(first.id, second.id, sizeof first.id) == 0;
#else
    bool standard = is_dash(in) || is_dash(out);
#if defined(__unix__) || defined(__APPLE__)
    if (!BY_PATH || standard) {
        struct stat first, second;
        return identify(in, stdin, first) && identify(out, stdout, second) &&
               first.st_dev == second.st_dev && first.st_ino == second.st_ino;
    }
#endif
#if defined(QUORLIT_FILESYSTEM)
    if (standard) return false;
    std::error_code error;
    return std::filesystem::equivalent(std::filesystem::u8path(in), std::filesystem::u8path(out),
                                       error);
#else
    return false;
#endif
#endif
}

bool is_regular_file(const char *name) {
    if (is_dash(name)) return false;
#if defined(_WIN32)
    FileIdentity identity;
    DWORD type;
    return identify(name, nullptr, identity, type) && type == FILE_TYPE_DISK &&
           (identity.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
#elif defined(QUORLIT_FILESYSTEM)
    std::error_code error;
    return std::filesystem::is_regular_file(std::filesystem::u8path(name), error);
#else
    struct stat identity;
    return stat(name, &identity) == 0 && S_ISREG(identity.st_mode);
#endif
}

bool is_folder(const char *name) {
    if (is_dash(name)) return false;
#if defined(_WIN32)
    FileIdentity identity;
    DWORD type;
    return identify(name, nullptr, identity, type) &&
           (identity.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
#elif defined(QUORLIT_FILESYSTEM)
    std::error_code error;
    return std::filesystem::is_directory(std::filesystem::u8path(name), error);
#else
    struct stat identity;
    return stat(name, &identity) == 0 && S_ISDIR(identity.st_mode);
#endif
}

bool reads_never_wait(std::FILE *file, std::uint64_t size) {
#if defined(_WIN32)
    auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    LARGE_INTEGER held;
    return handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_DISK &&
           GetFileSizeEx(handle, &held) && static_cast<std::uint64_t>(held.QuadPart) >= size;
#else
    int descriptor = fileno(file);
    if (descriptor < 0) return true; // a stream in memory
    struct stat identity;
    return fstat(descriptor, &identity) == 0 && S_ISREG(identity.st_mode) &&
           static_cast<std::uint64_t>(identity.st_size) >= size;
#endif
}

bool can_read_back(const char *name) {
    if (is_dash(name)) return false;
#if defined(_WIN32)
    FileIdentity identity;
    DWORD type;
    if (!identify(name, nullptr, identity, type))
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
    return type == FILE_TYPE_DISK && (identity.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
#elif defined(QUORLIT_FILESYSTEM)
    std::error_code error;
    auto type = std::filesystem::status(std::filesystem::u8path(name), error).type();
    return type == std::filesystem::file_type::not_found ||
           type == std::filesystem::file_type::regular;
#else
    struct stat identity;
    return stat(name, &identity) != 0 || S_ISREG(identity.st_mode);
#endif
}

namespace {

// Room for the name of a temporary file: a path, and a suffix of our own.
constexpr std::size_t TEMPORARY_NAME = 4096;

// Creates and opens a file of our own whose name is `prefix` and a suffix, removed when it is
// closed. Returns nullptr when it cannot.
std::FILE *create_temporary(const char *prefix) {
    char name[TEMPORARY_NAME + 64];
#if defined(__unix__) || defined(__APPLE__)
    std::snprintf(name, sizeof name, "%s.quorlit-XXXXXX", prefix);
    int descriptor = mkstemp(name);
    if (descriptor == -1) return nullptr;
    // Unlinked at once: the file goes with its last descriptor, whatever ends the process.
    unlink(name);
    std::FILE *file = fdopen(descriptor, "w+b");
    if (file == nullptr) close(descriptor);
    return file;
#elif defined(_WIN32)
    // _O_TEMPORARY: Windows deletes the file when its last handle closes, also on a kill.
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        std::snprintf(name, sizeof name, "%s.quorlit-%lu-%u.tmp", prefix,
                      static_cast<unsigned long>(GetCurrentProcessId()), attempt);
        int descriptor = _open(name, _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY | _O_TEMPORARY,
                               _S_IREAD | _S_IWRITE);
        if (descriptor < 0 && errno == EEXIST) continue;
        if (descriptor < 0) return nullptr;
        std::FILE *file = _fdopen(descriptor, "w+b");
        if (file == nullptr) _close(descriptor);
        return file;
    }
    return nullptr;
#else
    (void)prefix;
    (void)name;
    return std::tmpfile();
#endif
}

// Sets `prefix` to the system's folder for temporary files, ending in a separator.
void temporary_prefix(char (&prefix)[TEMPORARY_NAME]) {
#if defined(_WIN32)
    DWORD length = GetTempPathA(sizeof prefix, prefix);
    if (length >= sizeof prefix) length = 0;
    prefix[length] = '\0';
#else
    const char *folder = std::getenv("TMPDIR");
    if (folder == nullptr || folder[0] == '\0' || std::strlen(folder) + 2 > sizeof prefix)
        folder = "/tmp";
    std::snprintf(prefix, sizeof prefix, "%s/", folder);
#endif
}

} // namespace

std::FILE *open_temporary(const char *beside) {
    // Beside the output: its own name and a suffix.
    bool fits = std::strlen(beside) < TEMPORARY_NAME;
    std::FILE *file = !is_dash(beside) && fits ? create_temporary(beside) : nullptr;
    if (file != nullptr) return file;
    char prefix[TEMPORARY_NAME];
    temporary_prefix(prefix);
    return create_temporary(prefix);
}
