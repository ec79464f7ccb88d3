// files_checks.cpp - checks on files named on a command line before anything
// is done with them, a fresh temporary file, and a bounded read of a small
// text file.
//
// A name may stand for a FIFO, a device or a link to one: nothing here opens
// such a file in a way that could block, and nothing reads more than asked.
#include "platform/files/files.h"
#include "platform/files/files_internal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    std::string text;
    if (int rc = qvar::files::ReadRegularFile(path, size_t(size - 1), text); rc != 0)
        return rc;
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = 0;
    return int(text.size());
}
