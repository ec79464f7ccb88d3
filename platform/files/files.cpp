// files.cpp - array <-> file transfer, the program's folders, path helpers
// and bounded text copies. The file-selection dialog is in files_dialog.cpp.
#include "platform/files/files.h"
#include "platform/files/files_internal.h"

#include <algorithm>
#include <atomic>
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
    return {::write, ::fsync, ::access, [](int fd, off_t size) { return ::ftruncate(fd, size); },
            []() -> const char * {
                const struct passwd *pw = ::getpwuid(::getuid());
                return pw ? pw->pw_dir : nullptr;
            },
            ::read};
}

qvar::files::Sys g_sys = realSys();

// The system's reason for the last failure of a call on this thread; 0 when
// the call failed for a reason of its own (no regular file, bad arguments).
thread_local int t_errno = 0;

int failed(int code, int err)
{
    t_errno = err;
    return code;
}


// One open, one write, one close per call: the recorder appends a line a
// time and must find each one on disk, and a full disk often shows only at
// close, so that result counts as much as the write's. A write that fails
// part-way is cut back, so the file ends with the last call's whole text or
// without it, never with half a line; a file this call created goes again.
int appendAll(const char *file, const std::string &data)
{
    // A FIFO or a device named here must neither block us nor be touched.
    const int flags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    bool created = false;
    int fd = ::open(file, flags);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(file, flags | O_CREAT | O_EXCL, 0666);
        created = fd >= 0;
        if (fd < 0 && errno == EEXIST)
            fd = ::open(file, flags);
    }
    if (fd < 0)
        return failed(FILE_ERR_OPEN, errno);
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return failed(FILE_ERR_OPEN, 0);
    }
    int err = qvar::files::WriteFully(fd, data.data(), data.size());
    if (err)
        g_sys.ftruncate(fd, st.st_size);
    if (::close(fd) != 0 && !err)
        err = errno;
    if (err && created)
        ::unlink(file);
    return err ? failed(FILE_ERR_IO, err) : 0;
}

// A fresh file beside `target` that nobody else uses; -1 with errno set.
int openBeside(const std::string &target, mode_t mode, std::string &name)
{
    static std::atomic<unsigned> serial{0};
    const std::string stem = qvar::files::FolderOf(target) + "/.qvar-" + std::to_string(::getpid()) + "-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = stem + std::to_string(++serial) + ".tmp";
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

bool isBlank(char ch) { return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n'; }

// The words of a text in file order, with the line each stands on.
struct Words {
    std::string_view text;
    size_t at = 0;
    int line = 1;

    bool next(std::string_view &word, int &wordLine)
    {
        for (; at < text.size() && isBlank(text[at]); ++at)
            line += text[at] == '\n';
        if (at == text.size())
            return false;
        const size_t from = at;
        while (at < text.size() && !isBlank(text[at]))
            ++at;
        word = text.substr(from, at - from);
        wordLine = line;
        return true;
    }
};

enum class Number { Ok, NotANumber, TooLarge };

Number toNumber(std::string_view word, uint64_t max, uint32_t &out)
{
    uint64_t v = 0;
    for (const char ch : word) {
        if (ch < '0' || ch > '9')
            return Number::NotANumber;
        // Stays below 2^64: once past `max` it never grows again.
        if (v <= max)
            v = v * 10 + uint64_t(ch - '0');
    }
    if (v > max)
        return Number::TooLarge;
    out = uint32_t(v);
    return Number::Ok;
}

// Reads `count` numbers in file order; stops as soon as it has them, so what
// follows them is not looked at.
int parseText(std::string_view text, int elemType, int count, std::vector<uint32_t> &values)
{
    values.clear();
    values.reserve(size_t(count));
    Words words{text};
    std::string_view word;
    int line = 0;
    while (int(values.size()) < count) {
        if (!words.next(word, line))
            return FILE_ERR_SHORT;
        uint32_t v = 0;
        if (toNumber(word, elemMax(elemType), v) != Number::Ok)
            return FILE_ERR_FORMAT;
        values.push_back(v);
    }
    return 0;
}

void place(FilePlace *at, int number, int line, std::string_view word)
{
    if (!at)
        return;
    at->number = number;
    at->line = line;
    size_t n = std::min(word.size(), sizeof at->text - 1);
    for (size_t i = 0; i < n; ++i)
        at->text[i] = word[i] > ' ' && word[i] < 0x7F ? word[i] : '?';
    at->text[n] = '\0';
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


// The checks ArrayToFile and ArrayToText share; false for a request that
// cannot be met.
bool validWrite(const void *array, int elemType, int count, int groups, int groupOrder, int layout,
                int separator, int fieldWidth, int fileType, Layout &lay)
{
    return (array || count == 0) &&
           makeLayout(elemType, count, groups, groupOrder, layout, fileType, lay) &&
           (separator == FILE_SEP_TAB || separator == FILE_SEP_FIXED) && fieldWidth >= 0 &&
           fieldWidth <= kMaxFieldWidth;
}

} // namespace

// A write that takes nothing counts as a full disk.
int qvar::files::WriteFully(int fd, const char *data, size_t size)
{
    for (size_t done = 0; done < size;) {
        const ssize_t n = g_sys.write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno ? errno : EIO;
        if (n == 0)
            return ENOSPC;
        done += size_t(n);
    }
    return 0;
}

bool qvar::files::MakeDirs(const std::string &path)
{
    if (path.empty())
        return false;
    if (isDir(path))
        return true;
    size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !MakeDirs(path.substr(0, slash)))
        return false;
    return ::mkdir(path.c_str(), 0755) == 0 || (errno == EEXIST && isDir(path));
}

int ArrayToFile(const char *file, const void *array, int elemType, int count, int groups,
                int groupOrder, int layout, int separator, int fieldWidth, int fileType,
                int action)
{
    t_errno = 0;
    Layout lay;
    if (!file || !*file || (action != FILE_REPLACE && action != FILE_APPEND) ||
        !validWrite(array, elemType, count, groups, groupOrder, layout, separator, fieldWidth,
                    fileType, lay))
        return FILE_ERR_PARAM;

    std::string data = fileType == FILE_BINARY
                           ? renderBinary(array, elemType, lay)
                           : renderText(array, elemType, lay, separator, fieldWidth);
    if (action == FILE_APPEND)
        return appendAll(file, data);
    return WriteWholeFile(file, data.data(), (long long)data.size());
}

int ArrayToText(char *text, int size, const void *array, int elemType, int count, int groups,
                int groupOrder, int layout, int separator, int fieldWidth)
{
    Layout lay;
    if (!text || size <= 0 ||
        !validWrite(array, elemType, count, groups, groupOrder, layout, separator, fieldWidth,
                    FILE_TEXT, lay))
        return FILE_ERR_PARAM;
    const std::string rendered = renderText(array, elemType, lay, separator, fieldWidth);
    if (putText(text, size_t(size), rendered) != 0)
        return FILE_ERR_TOO_LONG;
    return int(rendered.size());
}

int WriteWholeFile(const char *file, const void *data, long long size)
{
    t_errno = 0;
    if (!file || !*file || size < 0 || (!data && size > 0))
        return FILE_ERR_PARAM;
    // Replacing a link replaces the file it points to and keeps the link.
    const std::string target = qvar::files::ResolvedPath(file);
    struct stat st;
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (!exists && errno != ENOENT)
        return failed(FILE_ERR_OPEN, errno);
    // A FIFO or a device is no file to replace; a file its owner made
    // read-only is not replaced behind the owner's back.
    if (exists && !S_ISREG(st.st_mode))
        return failed(FILE_ERR_OPEN, 0);
    if (exists && g_sys.access(target.c_str(), W_OK) != 0)
        return failed(FILE_ERR_OPEN, errno);

    std::string temp;
    const int fd = openBeside(target, exists ? 0600 : 0666, temp);
    if (fd < 0)
        return failed(FILE_ERR_OPEN, errno);
    if (exists) {
        ::fchmod(fd, st.st_mode & 07777);
        if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
            // Only the owner or root may give a file away; it stays ours.
        }
    }
    // Whatever fails, the name keeps its old file: the new one takes its
    // place only once every byte is on the disk.
    int err = qvar::files::WriteFully(fd, static_cast<const char *>(data), size_t(size));
    if (!err && g_sys.fsync(fd) != 0)
        err = errno ? errno : EIO;
    if (::close(fd) != 0 && !err)
        err = errno;
    if (!err && ::rename(temp.c_str(), target.c_str()) != 0)
        err = errno;
    if (err) {
        ::unlink(temp.c_str());
        return failed(err == ENOENT || err == EACCES ? FILE_ERR_OPEN : FILE_ERR_IO, err);
    }
    return 0;
}

const char *FileErrorText(int code)
{
    if (t_errno != 0 && (code == FILE_ERR_OPEN || code == FILE_ERR_IO || code == FILE_ERR_FOLDER))
        return std::strerror(t_errno);
    switch (code) {
    case 0: return "no error";
    case FILE_ERR_OPEN: return "not a regular file";
    case FILE_ERR_IO: return "input/output error";
    case FILE_ERR_SHORT: return "fewer numbers than expected";
    case FILE_ERR_FORMAT: return "something that is not a number";
    case FILE_ERR_TOO_LONG: return "name too long";
    case FILE_ERR_TOO_BIG: return "file too large";
    case FILE_ERR_RANGE: return "a number too large";
    case FILE_ERR_EXTRA: return "more than the numbers expected";
    case FILE_ERR_FOLDER: return "no such folder, or it cannot be written";
    default: return "invalid request";
    }
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

int FileToNumbers(const char *file, uint32_t *values, int count, uint32_t max, FilePlace *at)
{
    if (!file || !*file || (!values && count > 0) || count < 0)
        return FILE_ERR_PARAM;
    std::string data;
    if (int rc = qvar::files::ReadRegularFile(file, FILE_READ_MAX, data); rc != 0)
        return rc;
    std::vector<uint32_t> got;
    got.reserve(size_t(count));
    Words words{data};
    std::string_view word;
    int line = 1;
    while (words.next(word, line)) {
        const int number = int(got.size()) + 1;
        if (number > count) {
            place(at, number, line, word);
            return FILE_ERR_EXTRA;
        }
        uint32_t v = 0;
        const Number n = toNumber(word, max, v);
        if (n != Number::Ok) {
            place(at, number, line, word);
            return n == Number::TooLarge ? FILE_ERR_RANGE : FILE_ERR_FORMAT;
        }
        got.push_back(v);
    }
    if (int(got.size()) < count) {
        place(at, int(got.size()), words.line, "");
        return FILE_ERR_SHORT;
    }
    std::copy(got.begin(), got.end(), values);
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
    if (!qvar::files::MakeDirs(target) || g_sys.access(target.c_str(), W_OK) != 0)
        return FILE_ERR_OPEN;
    return putText(dir, FILE_PATH_MAX, target);
}

int &qvar::files::LastErrno() { return t_errno; }

std::string qvar::files::FolderOf(const std::string &path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string qvar::files::ResolvedPath(const char *file)
{
    char *real = ::realpath(file, nullptr);
    if (!real)
        return file;
    std::string path(real);
    std::free(real);
    return path;
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

qvar::files::FileReader::~FileReader()
{
    if (fd_ >= 0)
        ::close(fd_);
}

int qvar::files::FileReader::open(const char *path, size_t max)
{
    if (!path || !*path || fd_ >= 0)
        return FILE_ERR_PARAM;
    t_errno = 0;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return failed(FILE_ERR_OPEN, errno);
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return FILE_ERR_OPEN;
    }
    if (st.st_size < 0 || uint64_t(st.st_size) > max) {
        ::close(fd);
        return FILE_ERR_TOO_BIG;
    }
    fd_ = fd;
    size_ = size_t(st.st_size);
    max_ = max;
    return 0;
}

// The size may change while we read: the bound holds for what is read.
long qvar::files::FileReader::read(char *buf, size_t n)
{
    if (fd_ < 0)
        return FILE_ERR_PARAM;
    // One byte beyond the bound is enough to know the file outgrew it.
    n = std::min(n, max_ + 1 - std::min(got_, max_ + 1));
    if (n == 0)
        return got_ > max_ ? long(FILE_ERR_TOO_BIG) : 0L;
    for (;;) {
        const ssize_t r = g_sys.read(fd_, buf, n);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return failed(FILE_ERR_IO, errno);
        got_ += size_t(r);
        return got_ > max_ ? long(FILE_ERR_TOO_BIG) : long(r);
    }
}

int qvar::files::ReadRegularFile(const char *path, size_t max, std::string &out)
{
    FileReader f;
    if (int rc = f.open(path, max); rc != 0)
        return rc;
    std::string data(f.size() + 1, '\0');
    size_t got = 0;
    for (;;) {
        if (got == data.size())
            data.resize(std::min(max + 1, got * 2 + 4096));
        const long n = f.read(data.data() + got, data.size() - got);
        if (n < 0)
            return int(n);
        if (n == 0)
            break;
        got += size_t(n);
    }
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
