// What the platform can tell of files by name: which one a name leads to. POSIX compares device
// and inode; Windows, which has no inodes, goes by std::filesystem and the console's names.
#ifndef QUORLIT_PLATFORM_FILES_H
#define QUORLIT_PLATFORM_FILES_H

// Whether the name leads to the file that standard output writes to.
bool is_standard_output(const char *name);

// Whether two names lead to one existing file: the same name, a link, another path.
bool same_file(const char *a, const char *b);

#endif
