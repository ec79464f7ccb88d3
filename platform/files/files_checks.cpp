// files_checks.cpp - checks on files named on a command line before anything
// is done with them, a fresh temporary file, and a bounded read of a small
// text file.
//
// A name may stand for a FIFO, a device or a link to one: nothing here opens
// such a file in a way that could block, and nothing reads more than asked.
#include "platform/files/files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Opens for reading without blocking on a FIFO; -1 when the name is no
// regular file (after links) or cannot be opened.
int OpenRegular(const char *path, struct stat *st)
{
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return -1;
    if (::fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

int CheckInputFile(const char *path, long maxBytes)
{
    if (!path || !*path || maxBytes < 0)
        return FILE_ERR_PARAM;
    struct stat st;
    int fd = OpenRegular(path, &st);
    if (fd < 0)
        return FILE_ERR_OPEN;
    ::close(fd);
    return st.st_size > maxBytes ? FILE_ERR_TOO_LONG : 0;
}

int CheckOutputFile(const char *path)
{
    if (!path || !*path)
        return FILE_ERR_PARAM;
    struct stat st;
    if (::stat(path, &st) != 0)
        return errno == ENOENT ? 0 : FILE_ERR_OPEN;
    return S_ISREG(st.st_mode) ? 0 : FILE_ERR_OPEN;
}

int MakeTempFile(char path[FILE_PATH_MAX])
{
    const char *dir = std::getenv("TMPDIR");
    if (!dir || !*dir)
        dir = "/tmp";
    char name[FILE_PATH_MAX];
    if (MakePathname(dir, "qvar-XXXXXX", name) < 0)
        return FILE_ERR_TOO_LONG;
    int fd = ::mkstemp(name);
    if (fd < 0)
        return FILE_ERR_OPEN;
    ::close(fd);
    return CopyText(path, FILE_PATH_MAX, name);
}

int ReadTextFile(const char *path, char *buffer, int size)
{
    if (!path || !buffer || size < 1)
        return FILE_ERR_PARAM;
    struct stat st;
    int fd = OpenRegular(path, &st);
    if (fd < 0)
        return FILE_ERR_OPEN;
    if (st.st_size > size - 1) {
        ::close(fd);
        return FILE_ERR_TOO_LONG;
    }
    int got = 0;
    while (got < size - 1) {
        ssize_t n = ::read(fd, buffer + got, size_t(size - 1 - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return FILE_ERR_IO;
        }
        if (n == 0)
            break;
        got += int(n);
    }
    ::close(fd);
    buffer[got] = 0;
    return got;
}
