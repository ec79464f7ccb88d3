// files_checks.cpp - checks on files named on a command line before anything
// is done with them, so that a name that cannot be written is refused before
// the line is touched.
//
// A name may stand for a FIFO, a device or a link to one: nothing here opens
// it, so nothing can block.
#include "platform/files/files.h"
#include "platform/files/files_internal.h"

#include <cerrno>
#include <climits>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Longer than the system takes as a path, or as one name within it.
bool tooLong(const std::string &path)
{
    if (path.size() >= PATH_MAX)
        return true;
    size_t from = 0;
    while (from < path.size()) {
        size_t slash = path.find('/', from);
        if (slash == std::string::npos)
            slash = path.size();
        if (slash - from > NAME_MAX)
            return true;
        from = slash + 1;
    }
    return false;
}

} // namespace

int CheckOutputFile(const char *path)
{
    int &err = qvar::files::LastErrno();
    err = 0;
    if (!path || !*path)
        return FILE_ERR_PARAM;
    std::string target = path;
    if (tooLong(target))
        return FILE_ERR_TOO_LONG;
    struct stat st;
    if (::stat(path, &st) == 0) {
        if (!S_ISREG(st.st_mode))
            return FILE_ERR_OPEN;
        // The new file is written beside the one a link points to.
        target = qvar::files::ResolvedPath(path);
    } else if (errno == ENAMETOOLONG) {
        return FILE_ERR_TOO_LONG;
    } else if (errno != ENOENT) {
        err = errno;
        return FILE_ERR_FOLDER;
    }
    // The file is written beside its name and renamed over it, so its folder
    // must take a new file even where the file itself exists.
    const std::string folder = qvar::files::FolderOf(target);
    if (::stat(folder.c_str(), &st) != 0) {
        err = errno;
        return FILE_ERR_FOLDER;
    }
    if (!S_ISDIR(st.st_mode))
        return FILE_ERR_FOLDER;
    if (qvar::files::sys().access(folder.c_str(), W_OK | X_OK) != 0) {
        err = errno;
        return FILE_ERR_FOLDER;
    }
    return 0;
}
