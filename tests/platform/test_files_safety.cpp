// Tests of the file service against what a user can name instead of a file
// (a FIFO, a link to a device, a huge file), writes that fail (a full disk,
// an I/O error, a failed flush), a user without HOME, and where the resource
// files are looked for.
#include "platform/files/files.h"
#include "platform/files/files_internal.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Puts back the file service's system calls a test replaced.
struct Scratch : qvar_test::ScratchDir {
    ~Scratch() { qvar::files::resetSys(); }
};

int readWords(const std::string &file, uint32_t (&w)[4])
{
    return FileToArray(file.c_str(), w, FILE_ELEM_U32, 4, 1, FILE_GROUPS_TOGETHER,
                       FILE_LAYOUT_COLUMNS, FILE_TEXT);
}

int appendLine(const std::string &file, const uint32_t (&line)[4])
{
    return ArrayToFile(file.c_str(), line, FILE_ELEM_U32, 4, 4, FILE_GROUPS_TOGETHER,
                       FILE_LAYOUT_COLUMNS, FILE_SEP_TAB, 4, FILE_TEXT, FILE_APPEND);
}

} // namespace

TEST(FilesByName, WhatIsNoRegularFileIsRefusedAtOnceAndLeftAlone)
{
    Scratch tmp;
    const std::string fifo = tmp.file("fifo.cfg"), zero = tmp.file("zero.cfg");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", zero);
    const uint32_t line[4] = {1, 2, 3, 4};
    uint32_t w[4] = {9, 9, 9, 9};

    // Reading a FIFO would wait for a writer, /dev/zero would never end.
    for (const std::string &name : {fifo, zero}) {
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(readWords(name, w), FILE_ERR_OPEN) << name;
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1)) << name;
        EXPECT_EQ(appendLine(name, line), FILE_ERR_OPEN) << name;
    }
    // A FIFO with a reader would take the bytes; it still is no file.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(ArrayToFile(fifo.c_str(), line, FILE_ELEM_U32, 4, 1, 0, 0, FILE_SEP_TAB, 0,
                          FILE_TEXT, FILE_REPLACE), FILE_ERR_OPEN);
    char got[8];
    EXPECT_LE(::read(reader, got, sizeof got), 0) << "bytes reached the FIFO";
    ::close(reader);
    EXPECT_EQ(w[0], 9u);

    // Choosing one as a file to replace does not delete it either.
    for (const std::string &name : {fifo, zero}) {
        EXPECT_EQ(RemoveFile(name.c_str()), FILE_ERR_OPEN) << name;
        EXPECT_TRUE(fs::exists(fs::symlink_status(name))) << name;
    }
    const std::string plain = tmp.file("plain.dat"), link = tmp.file("link.dat");
    ASSERT_EQ(appendLine(plain, line), 0);
    fs::create_symlink(plain, link);
    EXPECT_EQ(RemoveFile(link.c_str()), 0);
    EXPECT_EQ(RemoveFile(plain.c_str()), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(plain)));
}

TEST(FilesByName, ReadsAreBounded)
{
    Scratch tmp;
    const std::string big = tmp.file("big.cfg");
    {
        std::ofstream out(big, std::ios::binary);
        out << "1 2 3 4\n";
        out << std::string(10 * 1024 * 1024, ' ');
    }
    uint32_t w[4] = {9, 9, 9, 9};
    EXPECT_EQ(readWords(big, w), FILE_ERR_TOO_BIG);
    EXPECT_EQ(w[0], 9u);

    // Right at the bound still reads.
    fs::resize_file(big, FILE_READ_MAX);
    EXPECT_EQ(readWords(big, w), 0);
    EXPECT_EQ(w[3], 4u);
    fs::resize_file(big, FILE_READ_MAX + 1);
    EXPECT_EQ(readWords(big, w), FILE_ERR_TOO_BIG);

    std::string out = "kept";
    EXPECT_EQ(qvar::files::ReadRegularFile(big.c_str(), 100, out), FILE_ERR_TOO_BIG);
    EXPECT_EQ(out, "kept");
    EXPECT_EQ(qvar::files::ReadRegularFile(tmp.path().c_str(), 100, out), FILE_ERR_OPEN);
}

namespace {
int g_calls, g_failAt, g_errno;

// The writes from call g_failAt on fail with g_errno; the calls before it
// take three bytes each, as a disk that fills up part-way does.
ssize_t FailingWrite(int fd, const void *buf, size_t n)
{
    if (++g_calls >= g_failAt && g_failAt > 0) {
        errno = g_errno;
        return -1;
    }
    return ::write(fd, buf, n > 3 ? 3 : n);
}
} // namespace

// A full disk, an I/O error, a short write or a flush to the disk that fails:
// whether the call replaces or appends, the name keeps what it held (a new
// name stays absent: no empty file), nothing is left beside it, and the
// reason is the system's.
TEST(FilesByName, AFailedWriteKeepsWhatTheNameHeld)
{
    Scratch tmp;
    const std::string rec = tmp.file("rec.dat"), cfg = tmp.file("set.cfg"), fresh = tmp.file("new.dat");
    const uint32_t first[4] = {260, 0, 1500, 160}, second[4] = {261, 1, 1501, 161};
    ASSERT_EQ(appendLine(rec, first), 0);
    qvar_test::WriteText(cfg, "an earlier parameter file\n");
    const std::string line = qvar_test::ReadAll(rec);
    const std::vector<std::string> before = qvar_test::Entries(tmp.path());
    auto replace = [](const std::string &file, const uint32_t (&words)[4]) {
        return ArrayToFile(file.c_str(), words, FILE_ELEM_U32, 4, 1, FILE_GROUPS_TOGETHER,
                           FILE_LAYOUT_COLUMNS, FILE_SEP_FIXED, 5, FILE_TEXT, FILE_REPLACE);
    };

    struct Fault {
        int failAt, err;
        bool flush;
        const char *reason;
    } faults[] = {{1, ENOSPC, false, "No space left on device"},
                  {2, EIO, false, "Input/output error"},
                  {0, EIO, true, "Input/output error"}};
    for (const Fault &f : faults) {
        SCOPED_TRACE(f.reason + std::string(f.flush ? " on the flush" : " on the write"));
        g_calls = 0;
        g_failAt = f.failAt;
        g_errno = f.err;
        qvar::files::sys().write = FailingWrite;
        if (f.flush)
            qvar::files::sys().fsync = [](int) { return errno = EIO, -1; };
        EXPECT_EQ(replace(cfg, second), FILE_ERR_IO);
        EXPECT_STREQ(FileErrorText(FILE_ERR_IO), f.reason);
        EXPECT_EQ(replace(fresh, second), FILE_ERR_IO);
        if (!f.flush) {
            EXPECT_EQ(appendLine(rec, second), FILE_ERR_IO);
            EXPECT_EQ(appendLine(fresh, second), FILE_ERR_IO);
        }
        EXPECT_EQ(qvar_test::ReadAll(cfg), "an earlier parameter file\n");
        EXPECT_EQ(qvar_test::ReadAll(rec), line);
        EXPECT_EQ(qvar_test::Entries(tmp.path()), before) << "a file left beside, or an empty one under a new name";
        qvar::files::resetSys();
    }

    // With room again: replaced whole, keeping the file's permissions and a
    // link that names it.
    ::chmod(cfg.c_str(), 0640);
    const std::string link = tmp.file("link.cfg");
    fs::create_symlink(cfg, link);
    ASSERT_EQ(replace(link, second), 0);
    EXPECT_EQ(qvar_test::ReadAll(cfg), "  261\n    1\n 1501\n  161\n");
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::status(cfg).permissions() & fs::perms::all, fs::perms(0640));
    ASSERT_EQ(appendLine(rec, second), 0);
    EXPECT_EQ(qvar_test::ReadAll(rec), line + "261\t1\t1501\t161\n");
}

TEST(ProgramFolders, WithoutHomeTheUsersHomeComesFromThePasswordDatabase)
{
    Scratch tmp;
    qvar_test::ScopedEnv noHome("HOME", nullptr), noXdg("XDG_DATA_HOME", nullptr);
    static std::string pwHome;
    pwHome = tmp.file("pwhome");
    qvar::files::sys().passwdHome = [] { return pwHome.c_str(); };
    // The program's own folder is read-only, as when it is installed.
    qvar::files::sys().access = [](const char *path, int mode) {
        return std::string(path).rfind(pwHome, 0) == 0 ? ::access(path, mode) : (errno = EACCES, -1);
    };
    EXPECT_EQ(qvar::files::HomeDir(), pwHome);
    char dir[FILE_PATH_MAX] = "unchanged";
    ASSERT_EQ(GetProjectDir(dir), 0);
    EXPECT_EQ(std::string(dir), pwHome + "/.local/share/qvar-scope");
    EXPECT_TRUE(fs::is_directory(dir));

    // A relative HOME counts as none.
    qvar_test::ScopedEnv relative("HOME", "relative/home");
    EXPECT_EQ(qvar::files::HomeDir(), pwHome);
}

TEST(ProgramFolders, ResourcesBesideTheProgramThenInItsShareFolder)
{
    char dirs[FILE_RESOURCE_DIRS][FILE_PATH_MAX];
    ASSERT_EQ(GetResourceDirs(dirs), FILE_RESOURCE_DIRS);
    const fs::path self = fs::read_symlink("/proc/self/exe").parent_path();
    EXPECT_EQ(fs::path(dirs[0]), self);
    EXPECT_EQ(fs::path(dirs[1]), self.parent_path() / "share" / "qvar-scope");

    char path[FILE_PATH_MAX] = "unchanged";
    ASSERT_EQ(FindResourceFile("QVARRDX3V20.uir", path), 0);
    EXPECT_EQ(fs::path(path), self / "QVARRDX3V20.uir");
    CopyText(path, sizeof path, "unchanged");
    EXPECT_EQ(FindResourceFile("no-such-resource.uir", path), FILE_ERR_OPEN);
    EXPECT_STREQ(path, "unchanged");
}
