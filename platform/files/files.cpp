// files.cpp - array <-> file transfer, the program's folders, path helpers
// and bounded text copies. The file-selection dialog is in files_dialog.cpp.
#include "platform/files/files.h"
#include "platform/files/files_internal.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Fixed-width fields wider than this are a caller's mistake, not a layout.
constexpr int kMaxFieldWidth = 1024;

// How `count` elements in `groups` groups map between the caller's array and
// the order in which they stand in the file. Both directions use the same map,
// so whatever ArrayToFile writes, FileToArray puts back where it came from.
struct Layout {
    int count = 0;
    int groups = 1;
    int perGroup = 0;
    bool interleaved = false;
    bool groupsAsRows = false;

    // Rows and columns of a text file.
    int rows() const { return groupsAsRows ? groups : perGroup; }
    int cols() const { return groupsAsRows ? perGroup : groups; }

    // Array index of the k-th value in file order (row by row).
    int arrayIndex(int k) const
    {
        int group, item;
        if (groupsAsRows) {
            group = k / perGroup;
            item = k % perGroup;
        } else {
            item = k / groups;
            group = k % groups;
        }
        return interleaved ? item * groups + group : group * perGroup + item;
    }
};

bool validElemType(int t) { return t == FILE_ELEM_CHAR || t == FILE_ELEM_U32; }
size_t elemSize(int t) { return t == FILE_ELEM_CHAR ? 1 : sizeof(uint32_t); }
uint64_t elemMax(int t) { return t == FILE_ELEM_CHAR ? 0xFFu : 0xFFFFFFFFu; }

bool makeLayout(int elemType, int count, int groups, int groupOrder, int layout, int fileType,
                Layout &out)
{
    if (!validElemType(elemType) || count < 0 || groups < 1 || count % groups != 0)
        return false;
    if (groupOrder != FILE_GROUPS_TOGETHER && groupOrder != FILE_GROUPS_INTERLEAVED)
        return false;
    if (layout != FILE_LAYOUT_COLUMNS && layout != FILE_LAYOUT_ROWS)
        return false;
    if (fileType != FILE_TEXT && fileType != FILE_BINARY)
        return false;
    out.count = count;
    out.groups = groups;
    out.perGroup = count / groups;
    out.interleaved = groupOrder == FILE_GROUPS_INTERLEAVED;
    out.groupsAsRows = layout == FILE_LAYOUT_ROWS;
    return true;
}

uint32_t loadElem(const void *array, int elemType, int index)
{
    if (elemType == FILE_ELEM_CHAR)
        return static_cast<const unsigned char *>(array)[index];
    uint32_t v;
    std::memcpy(&v, static_cast<const unsigned char *>(array) + size_t(index) * sizeof v, sizeof v);
    return v;
}

void storeElem(void *array, int elemType, int index, uint32_t v)
{
    if (elemType == FILE_ELEM_CHAR) {
        static_cast<unsigned char *>(array)[index] = static_cast<unsigned char>(v);
        return;
    }
    std::memcpy(static_cast<unsigned char *>(array) + size_t(index) * sizeof v, &v, sizeof v);
}

std::string renderText(const void *array, int elemType, const Layout &lay, int separator,
                       int fieldWidth)
{
    std::string out;
    char num[16];
    int k = 0;
    for (int r = 0; r < lay.rows(); ++r) {
        for (int c = 0; c < lay.cols(); ++c, ++k) {
            int len = std::snprintf(num, sizeof num, "%u",
                                    unsigned(loadElem(array, elemType, lay.arrayIndex(k))));
            if (separator == FILE_SEP_TAB) {
                if (c > 0)
                    out += '\t';
            } else {
                // A number wider than its field would run into its left
                // neighbour and read back as one; keep one blank between.
                int pad = fieldWidth - len;
                if (c > 0 && pad < 1)
                    pad = 1;
                if (pad > 0)
                    out.append(size_t(pad), ' ');
            }
            out.append(num, size_t(len));
        }
        out += '\n';
    }
    return out;
}

std::string renderBinary(const void *array, int elemType, const Layout &lay)
{
    std::string out;
    out.reserve(size_t(lay.count) * elemSize(elemType));
    for (int k = 0; k < lay.count; ++k) {
        uint32_t v = loadElem(array, elemType, lay.arrayIndex(k));
        if (elemType == FILE_ELEM_CHAR) {
            out += static_cast<char>(v);
        } else {
            char raw[sizeof v];
            std::memcpy(raw, &v, sizeof v);
            out.append(raw, sizeof v);
        }
    }
    return out;
}

qvar::files::Sys realSys()
{
    return {::write, ::access, [](int fd, off_t size) { return ::ftruncate(fd, size); },
            []() -> const char * {
                const struct passwd *pw = ::getpwuid(::getuid());
                return pw ? pw->pw_dir : nullptr;
            }};
}

qvar::files::Sys g_sys = realSys();

// One open, one write, one close per call: the recorder appends a line a
// time and must find each one on disk, and a full disk often shows only at
// close, so that result counts as much as the write's. A write that fails
// part-way is taken back, so the file ends with the last call's whole text
// or without it, never with half a line.
int writeAll(const char *file, const std::string &data, bool append)
{
    // Truncated only once it is known to be a file: a FIFO or a device named
    // here must neither block us nor be touched.
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (append ? O_APPEND : 0);
    int fd = ::open(file, flags, 0666);
    if (fd < 0)
        return FILE_ERR_OPEN;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (!append && ::ftruncate(fd, 0) != 0)) {
        ::close(fd);
        return FILE_ERR_OPEN;
    }
    const off_t before = append ? st.st_size : 0;
    int rc = 0;
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = g_sys.write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            g_sys.ftruncate(fd, before);
            rc = FILE_ERR_IO;
            break;
        }
        done += size_t(n);
    }
    if (::close(fd) != 0 && rc == 0)
        rc = FILE_ERR_IO;
    return rc;
}

bool isBlank(char ch) { return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n'; }

// Reads `count` numbers in file order; stops as soon as it has them, so what
// follows them is not looked at.
int parseText(std::string_view text, int elemType, int count, std::vector<uint32_t> &values)
{
    const uint64_t max = elemMax(elemType);
    values.clear();
    values.reserve(size_t(count));
    size_t at = 0;
    while (int(values.size()) < count) {
        while (at < text.size() && isBlank(text[at]))
            ++at;
        if (at == text.size())
            return FILE_ERR_SHORT;
        uint64_t v = 0;
        bool bad = false;
        for (; at < text.size() && !isBlank(text[at]); ++at) {
            const char ch = text[at];
            if (ch < '0' || ch > '9') {
                bad = true;
                continue;
            }
            // Stays below 2^64: once past `max` it never grows again.
            if (v <= max)
                v = v * 10 + uint64_t(ch - '0');
        }
        if (bad || v > max)
            return FILE_ERR_FORMAT;
        values.push_back(uint32_t(v));
    }
    return 0;
}

int parseBinary(std::string_view raw, int elemType, int count, std::vector<uint32_t> &values)
{
    const size_t size = elemSize(elemType);
    if (raw.size() < size_t(count) * size)
        return FILE_ERR_SHORT;
    values.resize(size_t(count));
    for (int k = 0; k < count; ++k) {
        if (elemType == FILE_ELEM_CHAR) {
            values[size_t(k)] = static_cast<unsigned char>(raw[size_t(k)]);
        } else {
            uint32_t v;
            std::memcpy(&v, raw.data() + size_t(k) * size, size);
            values[size_t(k)] = v;
        }
    }
    return 0;
}

// Copies `src` to `dst` when it fits with its terminator; else leaves dst alone.
int putText(char *dst, size_t size, std::string_view src)
{
    if (src.size() + 1 > size)
        return FILE_ERR_TOO_LONG;
    std::memmove(dst, src.data(), src.size());
    dst[src.size()] = '\0';
    return 0;
}

bool isDir(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// mkdir -p; an existing folder is success.
bool makeDirs(const std::string &path)
{
    if (path.empty())
        return false;
    if (isDir(path))
        return true;
    size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !makeDirs(path.substr(0, slash)))
        return false;
    return ::mkdir(path.c_str(), 0755) == 0 || (errno == EEXIST && isDir(path));
}

} // namespace

int ArrayToFile(const char *file, const void *array, int elemType, int count, int groups,
                int groupOrder, int layout, int separator, int fieldWidth, int fileType,
                int action)
{
    Layout lay;
    if (!file || !*file || (!array && count > 0))
        return FILE_ERR_PARAM;
    if (!makeLayout(elemType, count, groups, groupOrder, layout, fileType, lay))
        return FILE_ERR_PARAM;
    if (separator != FILE_SEP_TAB && separator != FILE_SEP_FIXED)
        return FILE_ERR_PARAM;
    if (fieldWidth < 0 || fieldWidth > kMaxFieldWidth)
        return FILE_ERR_PARAM;
    if (action != FILE_REPLACE && action != FILE_APPEND)
        return FILE_ERR_PARAM;

    std::string data = fileType == FILE_BINARY
                           ? renderBinary(array, elemType, lay)
                           : renderText(array, elemType, lay, separator, fieldWidth);
    return writeAll(file, data, action == FILE_APPEND);
}

int FileToArray(const char *file, void *array, int elemType, int count, int groups,
                int groupOrder, int layout, int fileType)
{
    Layout lay;
    if (!file || !*file || (!array && count > 0))
        return FILE_ERR_PARAM;
    if (!makeLayout(elemType, count, groups, groupOrder, layout, fileType, lay))
        return FILE_ERR_PARAM;

    std::string data;
    if (int rc = qvar::files::ReadRegularFile(file, FILE_READ_MAX, data); rc != 0)
        return rc;
    // Parsed aside first: a file that fails half-way must not leave the
    // caller's array half overwritten.
    std::vector<uint32_t> values;
    int rc = fileType == FILE_BINARY ? parseBinary(data, elemType, count, values)
                                     : parseText(data, elemType, count, values);
    if (rc != 0)
        return rc;
    for (int k = 0; k < count; ++k)
        storeElem(array, elemType, lay.arrayIndex(k), values[size_t(k)]);
    return 0;
}

int GetProgramDir(char dir[FILE_PATH_MAX])
{
    if (!dir)
        return FILE_ERR_PARAM;
    std::vector<char> buf(4096);
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0 || size_t(n) >= buf.size() - 1)
        return FILE_ERR_OPEN;
    std::string exe(buf.data(), size_t(n));
    size_t slash = exe.find_last_of('/');
    if (slash == std::string::npos)
        return FILE_ERR_OPEN;
    return putText(dir, FILE_PATH_MAX, slash == 0 ? std::string_view("/") :
                                                    std::string_view(exe).substr(0, slash));
}

int qvar::files::ProjectDirFor(const char *programDir, const char *xdgDataHome,
                               const char *home, char dir[FILE_PATH_MAX])
{
    if (!dir)
        return FILE_ERR_PARAM;
    if (programDir && *programDir && isDir(programDir) && g_sys.access(programDir, W_OK) == 0)
        return putText(dir, FILE_PATH_MAX, programDir);

    // Relative values do not count: the folder would move with the working
    // directory.
    std::string base;
    if (xdgDataHome && xdgDataHome[0] == '/')
        base = xdgDataHome;
    else if (home && home[0] == '/')
        base = std::string(home) + "/.local/share";
    else
        return FILE_ERR_OPEN;
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    std::string target = (base == "/" ? "" : base) + "/qvar-scope";
    if (target.size() + 1 > FILE_PATH_MAX)
        return FILE_ERR_TOO_LONG;
    if (!makeDirs(target) || g_sys.access(target.c_str(), W_OK) != 0)
        return FILE_ERR_OPEN;
    return putText(dir, FILE_PATH_MAX, target);
}

std::string qvar::files::HomeDir()
{
    const char *home = std::getenv("HOME");
    if (home && home[0] == '/')
        return home;
    // A session without HOME (a service, `env -i`) still has a user.
    const char *pw = g_sys.passwdHome();
    return pw && pw[0] == '/' ? pw : "";
}

int GetProjectDir(char dir[FILE_PATH_MAX])
{
    char programDir[FILE_PATH_MAX];
    int rc = GetProgramDir(programDir);
    if (rc != 0)
        return rc;
    const std::string home = qvar::files::HomeDir();
    return qvar::files::ProjectDirFor(programDir, std::getenv("XDG_DATA_HOME"),
                                      home.empty() ? nullptr : home.c_str(), dir);
}

int GetResourceDirs(char dirs[FILE_RESOURCE_DIRS][FILE_PATH_MAX])
{
    if (!dirs)
        return FILE_ERR_PARAM;
    char programDir[FILE_PATH_MAX];
    if (int rc = GetProgramDir(programDir); rc != 0)
        return rc;
    // <prefix>/bin/qvar-scope finds <prefix>/share/qvar-scope.
    std::string_view parent(programDir);
    parent = parent.substr(0, parent.find_last_of('/'));
    const std::string shared = std::string(parent) + "/share/qvar-scope";
    if (shared.size() + 1 > FILE_PATH_MAX)
        return FILE_ERR_TOO_LONG;
    putText(dirs[0], FILE_PATH_MAX, programDir);
    putText(dirs[1], FILE_PATH_MAX, shared);
    return FILE_RESOURCE_DIRS;
}

int FindResourceFile(const char *name, char path[FILE_PATH_MAX])
{
    if (!name || !*name || !path)
        return FILE_ERR_PARAM;
    char dirs[FILE_RESOURCE_DIRS][FILE_PATH_MAX];
    const int n = GetResourceDirs(dirs);
    for (int i = 0; i < n; ++i) {
        char candidate[FILE_PATH_MAX];
        struct stat st;
        if (MakePathname(dirs[i], name, candidate) == 0 && ::stat(candidate, &st) == 0 &&
            S_ISREG(st.st_mode))
            return putText(path, FILE_PATH_MAX, candidate);
    }
    return n < 0 ? n : FILE_ERR_OPEN;
}

int qvar::files::ReadRegularFile(const char *path, size_t max, std::string &out)
{
    if (!path || !*path)
        return FILE_ERR_PARAM;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return FILE_ERR_OPEN;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return FILE_ERR_OPEN;
    }
    if (st.st_size < 0 || uint64_t(st.st_size) > max) {
        ::close(fd);
        return FILE_ERR_TOO_BIG;
    }
    // The size may change while we read: the bound holds for what is read.
    std::string data(size_t(st.st_size) + 1, '\0');
    size_t got = 0;
    int rc = 0;
    for (;;) {
        if (got == data.size()) {
            if (got > max) {
                rc = FILE_ERR_TOO_BIG;
                break;
            }
            data.resize(std::min(max + 1, got * 2 + 4096));
        }
        const ssize_t n = ::read(fd, data.data() + got, data.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            rc = FILE_ERR_IO;
        if (n <= 0)
            break;
        got += size_t(n);
    }
    ::close(fd);
    if (rc == 0 && got > max)
        rc = FILE_ERR_TOO_BIG;
    if (rc != 0)
        return rc;
    data.resize(got);
    out = std::move(data);
    return 0;
}

qvar::files::Sys &qvar::files::sys() { return g_sys; }
void qvar::files::resetSys() { g_sys = realSys(); }

int MakePathname(const char *dir, const char *name, char path[FILE_PATH_MAX])
{
    if (!dir || !name || !path)
        return FILE_ERR_PARAM;
    std::string_view d(dir), n(name);
    while (!n.empty() && n.front() == '/')
        n.remove_prefix(1);
    std::string joined;
    if (d.empty()) {
        joined = n;
    } else {
        while (d.size() > 1 && d.back() == '/')
            d.remove_suffix(1);
        joined = d;
        if (joined.back() != '/')
            joined += '/';
        joined += n;
    }
    return putText(path, FILE_PATH_MAX, joined);
}

int RemoveFile(const char *file)
{
    if (!file || !*file)
        return FILE_ERR_PARAM;
    // Only files go: a FIFO or a device someone named here stays, and the
    // write that follows refuses it.
    struct stat st;
    if (::lstat(file, &st) != 0)
        return FILE_ERR_OPEN;
    if (S_ISLNK(st.st_mode) && ::stat(file, &st) != 0)
        st.st_mode = S_IFREG;   // a dangling link is no device
    if (!S_ISREG(st.st_mode))
        return FILE_ERR_OPEN;
    return ::unlink(file) == 0 ? 0 : FILE_ERR_OPEN;
}

int CopyText(char *dst, int size, const char *src)
{
    if (!dst || !src || size <= 0)
        return FILE_ERR_PARAM;
    return putText(dst, size_t(size), src);
}

int AppendText(char *dst, int size, const char *src)
{
    if (!dst || !src || size <= 0)
        return FILE_ERR_PARAM;
    size_t have = ::strnlen(dst, size_t(size));
    if (have == size_t(size))
        return FILE_ERR_PARAM;                  // dst holds no terminated text
    return putText(dst + have, size_t(size) - have, src);
}
