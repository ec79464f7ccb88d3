// files_internal.h - pieces of the file service that tests reach directly
// (platform-internal; the program uses files.h).
#pragma once

#include "platform/files/files.h"

namespace qvar::files {

// Where the program keeps its files when it runs from `programDir`: that folder
// when the user may write it, otherwise <xdgDataHome>/qvar-scope, or
// <home>/.local/share/qvar-scope when xdgDataHome is unset, empty or relative.
// The fallback folder is created (with its parents) when missing.
// 0, FILE_ERR_OPEN when no usable folder can be made, FILE_ERR_TOO_LONG;
// `dir` changes only on success.
int ProjectDirFor(const char *programDir, const char *xdgDataHome, const char *home,
                  char dir[FILE_PATH_MAX]);

} // namespace qvar::files
