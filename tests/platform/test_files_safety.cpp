// Tests of the file service against what a user can name instead of a file
// (a FIFO, a link to a device, a huge file), a disk that fills up mid-line,
// a user without HOME, and where the resource files are looked for.
#include "platform/files/files.h"
#include "platform/files/files_internal.h"
#include "tests/support/process.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Puts back the file service's system calls a test replaced.
struct Scratch : qvar_test::ScratchDir {
    ~Scratch() { qvar::files::resetSys(); }
};

double secondsOf(const std::function<void()> &fn)
{
    const auto t0 = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

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

// Sets an environment variable for the scope of one test.
class EnvVar {
public:
    EnvVar(const char *name, const char *value) : name_(name)
    {
        if (const char *old = std::getenv(name))
            old_ = old;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~EnvVar() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

private:
    const char *name_;
    std::optional<std::string> old_;
};

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
        int rc = 0;
        const double took = secondsOf([&] { rc = readWords(name, w); });
        EXPECT_EQ(rc, FILE_ERR_OPEN) << name;
        EXPECT_LT(took, 1.0) << name;
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
int g_calls, g_failAt;
} // namespace

// A disk that fills up while a line goes out: the line is taken back whole,
// whether the first byte or a later one is refused.
TEST(FilesByName, AFullDiskLeavesOnlyWholeLines)
{
    Scratch tmp;
    const std::string rec = tmp.file("rec.dat");
    const uint32_t first[4] = {260, 0, 1500, 160}, second[4] = {261, 1, 1501, 161};
    ASSERT_EQ(appendLine(rec, first), 0);
    const std::string whole = qvar_test::ReadAll(rec);

    for (int failAt : {1, 2}) {
        g_calls = 0;
        g_failAt = failAt;
        // The first call takes part of the line, the one at failAt finds the disk full.
        qvar::files::sys().write = [](int fd, const void *buf, size_t n) -> ssize_t {
            if (++g_calls == g_failAt) {
                errno = ENOSPC;
                return -1;
            }
            return ::write(fd, buf, n > 3 ? 3 : n);
        };
        EXPECT_EQ(appendLine(rec, second), FILE_ERR_IO) << failAt;
        EXPECT_EQ(g_calls, failAt);
        EXPECT_EQ(qvar_test::ReadAll(rec), whole) << "after failing write " << failAt;
    }
    qvar::files::resetSys();
    ASSERT_EQ(appendLine(rec, second), 0);
    EXPECT_EQ(qvar_test::ReadAll(rec), whole + "261\t1\t1501\t161\n");
}

TEST(ProgramFolders, WithoutHomeTheUsersHomeComesFromThePasswordDatabase)
{
    Scratch tmp;
    EnvVar noHome("HOME", nullptr), noXdg("XDG_DATA_HOME", nullptr);
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
    {
        EnvVar relative("HOME", "relative/home");
        EXPECT_EQ(qvar::files::HomeDir(), pwHome);
    }
    // Nowhere to go: said so, and nothing falls back to the working directory.
    qvar::files::sys().passwdHome = [] { return static_cast<const char *>(nullptr); };
    EXPECT_EQ(qvar::files::HomeDir(), "");
    CopyText(dir, sizeof dir, "unchanged");
    EXPECT_EQ(GetProjectDir(dir), FILE_ERR_OPEN);
    EXPECT_STREQ(dir, "unchanged");
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
