// files_internal.h - pieces of the file service that the other platform
// services and the tests reach directly (platform-internal; the program uses
// files.h).
#pragma once

#include "platform/files/files.h"

#include <string>

#include <sys/types.h>

namespace qvar::files {

// Where the program keeps its files when it runs from `programDir`: that folder
// when the user may write it, otherwise <xdgDataHome>/qvar-scope, or
// <home>/.local/share/qvar-scope when xdgDataHome is unset, empty or relative.
// The fallback folder is created (with its parents) when missing.
// 0, FILE_ERR_OPEN when no usable folder can be made, FILE_ERR_TOO_LONG;
// `dir` changes only on success.
int ProjectDirFor(const char *programDir, const char *xdgDataHome, const char *home,
                  char dir[FILE_PATH_MAX]);

// Reads the whole file `path` into `out` when it is a regular file of at most
// `max` bytes. Opened without blocking, so a FIFO, a device or a link to one
// is refused at once (FILE_ERR_OPEN), as is anything larger (FILE_ERR_TOO_BIG);
// FILE_ERR_IO for a failed read. `out` changes only on success.
int ReadRegularFile(const char *path, size_t max, std::string &out);

// The folder a path names a file in ("." for a bare name), and the file a
// name stands for with its links followed (the name itself while the file
// does not exist).
std::string FolderOf(const std::string &path);
std::string ResolvedPath(const char *file);

// The system's reason (an errno) FileErrorText gives for the last failure of
// a call on this thread; 0 for a reason of the service's own.
int &LastErrno();

// The same file read piece by piece, for files too large to hold twice.
// open() takes the name as bytes, as it is on disk, and applies the same
// checks; read() fills up to `n` bytes and returns the count, 0 at the end,
// FILE_ERR_IO, or FILE_ERR_TOO_BIG once the file has grown past `max`. Any
// thread may read; the descriptor is closed with the reader.
class FileReader {
public:
    FileReader() = default;
    ~FileReader();
    FileReader(const FileReader &) = delete;
    FileReader &operator=(const FileReader &) = delete;

    int open(const char *path, size_t max);
    long read(char *buf, size_t n);
    size_t size() const { return size_; }   // when it was opened

private:
    int fd_ = -1;
    size_t size_ = 0, max_ = 0, got_ = 0;
};

// Writes all of `data` to `fd` through the system-call seam below; 0, or the
// errno of the write that failed (a write that takes nothing: ENOSPC).
int WriteFully(int fd, const char *data, size_t size);

// mkdir -p (new folders 0755); true when `path` is a folder afterwards.
bool MakeDirs(const std::string &path);

// $HOME when it is an absolute path, else the user's home from the password
// database; "" when neither is known.
std::string HomeDir();

// The system calls behind the file service's writes, piecewise reads and
// folder checks. Tests swap an entry to make one fail (a full disk, a flush
// to the disk that fails, a read-only program folder, a user without a
// home) or to hold a read back; resetSys() restores the real ones.
struct Sys {
    ssize_t (*write)(int fd, const void *buf, size_t n);
    int (*fsync)(int fd);
    int (*access)(const char *path, int mode);
    int (*ftruncate)(int fd, off_t size);
    const char *(*passwdHome)();     // nullptr when the user has none
    ssize_t (*read)(int fd, void *buf, size_t n);   // FileReader's, on whatever thread reads
};
Sys &sys();
void resetSys();

} // namespace qvar::files
