// Tests of the file service: array <-> file layouts as the parameter file and
// the recorder file use them, reading back, failures, and the path helpers.
#include "platform/files/files.h"
#include "platform/files/files_internal.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

namespace fs = std::filesystem;
using namespace qvar_test;

namespace {

int writeU32Text(const std::string &file, const std::vector<uint32_t> &v, int groups, int order,
                 int layout, int sep, int width, int action = FILE_REPLACE)
{
    return ArrayToFile(file.c_str(), v.data(), FILE_ELEM_U32, int(v.size()), groups, order,
                       layout, sep, width, FILE_TEXT, action);
}

int readU32(const std::string &file, std::vector<uint32_t> &v, int groups = 1,
            int order = FILE_GROUPS_TOGETHER, int layout = FILE_LAYOUT_COLUMNS,
            int type = FILE_TEXT)
{
    return FileToArray(file.c_str(), v.data(), FILE_ELEM_U32, int(v.size()), groups, order,
                       layout, type);
}

} // namespace

TEST(ArrayToFile, GroupOrderAndLayoutArrangeTheFile)
{
    ScratchDir tmp;
    std::string f = tmp.file("g.txt");
    const std::vector<uint32_t> v = {1, 2, 3, 10, 20, 30};  // 2 groups of 3

    struct Case {
        int order, layout;
        const char *text;
    } cases[] = {
        {FILE_GROUPS_TOGETHER, FILE_LAYOUT_COLUMNS, "1\t10\n2\t20\n3\t30\n"},
        {FILE_GROUPS_TOGETHER, FILE_LAYOUT_ROWS, "1\t2\t3\n10\t20\t30\n"},
        {FILE_GROUPS_INTERLEAVED, FILE_LAYOUT_COLUMNS, "1\t2\n3\t10\n20\t30\n"},
        {FILE_GROUPS_INTERLEAVED, FILE_LAYOUT_ROWS, "1\t3\t20\n2\t10\t30\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string("order ") + std::to_string(c.order) + " layout " +
                     std::to_string(c.layout));
        ASSERT_EQ(writeU32Text(f, v, 2, c.order, c.layout, FILE_SEP_TAB, 8), 0);
        EXPECT_EQ(ReadAll(f), c.text);
        std::vector<uint32_t> back(6);
        ASSERT_EQ(readU32(f, back, 2, c.order, c.layout), 0);
        EXPECT_EQ(back, v);

        ASSERT_EQ(ArrayToFile(f.c_str(), v.data(), FILE_ELEM_U32, 6, 2, c.order, c.layout,
                              FILE_SEP_TAB, 0, FILE_BINARY, FILE_REPLACE), 0);
        EXPECT_EQ(ReadAll(f).size(), 24u);
        std::vector<uint32_t> raw(6);
        ASSERT_EQ(readU32(f, raw, 2, c.order, c.layout, FILE_BINARY), 0);
        EXPECT_EQ(raw, v);
    }
}

TEST(ArrayToFile, FailedWritesAreReported)
{
    ScratchDir tmp;
    std::string plain = tmp.file("file.txt");
    WriteText(plain, "x");
    const uint32_t v[2] = {1, 2};
    // A regular file cannot hold a child: the open fails even for root.
    EXPECT_EQ(ArrayToFile((plain + "/child").c_str(), v, FILE_ELEM_U32, 2, 1, 0, 0, FILE_SEP_TAB, 0, FILE_TEXT,
                          FILE_REPLACE), FILE_ERR_OPEN);
    EXPECT_EQ(ArrayToFile(tmp.path().c_str(), v, FILE_ELEM_U32, 2, 1, 0, 0, FILE_SEP_TAB, 0,
                          FILE_TEXT, FILE_APPEND), FILE_ERR_OPEN);
    // A device is no file to write to, even one that would take the bytes.
    EXPECT_EQ(ArrayToFile("/dev/full", v, FILE_ELEM_U32, 2, 1, 0, 0, FILE_SEP_TAB, 0, FILE_TEXT,
                          FILE_APPEND), FILE_ERR_OPEN);

    EXPECT_EQ(ArrayToFile(plain.c_str(), v, FILE_ELEM_U32, 3, 2, 0, 0, FILE_SEP_TAB, 0, FILE_TEXT,
                          FILE_REPLACE), FILE_ERR_PARAM);
    EXPECT_EQ(ArrayToFile(plain.c_str(), v, 7, 2, 1, 0, 0, FILE_SEP_TAB, 0, FILE_TEXT,
                          FILE_REPLACE), FILE_ERR_PARAM);
    EXPECT_EQ(ReadAll(plain), "x");
}

TEST(FileToArray, AcceptsCrLfLeadingBlanksAndTabs)
{
    ScratchDir tmp;
    std::string f = tmp.file("dos.cfg");
    WriteText(f, "    0\r\n  500\r\n\t 2048 \t\r\n65535\r\n");
    std::vector<uint32_t> back(4);
    ASSERT_EQ(readU32(f, back), 0);
    EXPECT_EQ(back, (std::vector<uint32_t>{0, 500, 2048, 65535}));

    // What follows the numbers asked for is not read.
    WriteText(f, "1 2 3 trailing words\n");
    std::vector<uint32_t> three(3);
    ASSERT_EQ(readU32(f, three), 0);
    EXPECT_EQ(three, (std::vector<uint32_t>{1, 2, 3}));
}

TEST(FileToArray, FailuresLeaveTheArrayAlone)
{
    ScratchDir tmp;
    std::string f = tmp.file("bad.cfg");
    const std::vector<uint32_t> before = {11, 22, 33};

    struct Case {
        const char *content;
        int rc;
    } cases[] = {
        {"1\n2\n", FILE_ERR_SHORT},
        {"", FILE_ERR_SHORT},
        {"1\nx\n3\n", FILE_ERR_FORMAT},
        {"1 2 3x\n", FILE_ERR_FORMAT},
        {"1 -2 3\n", FILE_ERR_FORMAT},
        {"1 2.5 3\n", FILE_ERR_FORMAT},
        {"1 2 4294967296\n", FILE_ERR_FORMAT},
        {"1 2 99999999999999999999999999\n", FILE_ERR_FORMAT},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.content);
        WriteText(f, c.content);
        std::vector<uint32_t> arr = before;
        EXPECT_EQ(readU32(f, arr), c.rc);
        EXPECT_EQ(arr, before);
    }

    WriteText(f, "0 4294967295 17");
    std::vector<uint32_t> edge(3);
    ASSERT_EQ(readU32(f, edge), 0);
    EXPECT_EQ(edge, (std::vector<uint32_t>{0, 4294967295u, 17}));

    unsigned char chars[2] = {1, 2};
    WriteText(f, "255 256");
    EXPECT_EQ(FileToArray(f.c_str(), chars, FILE_ELEM_CHAR, 2, 1, 0, 0, FILE_TEXT),
              FILE_ERR_FORMAT);
    EXPECT_EQ(chars[1], 2);

    WriteText(f, "abcdefg");                         // 7 bytes, two u32 need 8
    std::vector<uint32_t> raw = {5, 6};
    EXPECT_EQ(readU32(f, raw, 1, 0, 0, FILE_BINARY), FILE_ERR_SHORT);
    EXPECT_EQ(raw, (std::vector<uint32_t>{5, 6}));

    // Unreadable: missing, or a folder.
    EXPECT_EQ(readU32(tmp.file("missing.cfg"), raw), FILE_ERR_OPEN);
    EXPECT_EQ(readU32(tmp.path(), raw), FILE_ERR_OPEN);
    EXPECT_EQ(raw, (std::vector<uint32_t>{5, 6}));
}

TEST(PathHelpers, MakePathnameJoinsWithOneSlashAndRefusesOverlongPaths)
{
    char path[FILE_PATH_MAX];
    for (auto [dir, name, joined] : {std::tuple{"/opt/q", "QVarRecord.dat", "/opt/q/QVarRecord.dat"},
                                     {"/opt/q//", "/x.cfg", "/opt/q/x.cfg"},
                                     {"/", "x.cfg", "/x.cfg"},
                                     {"", "x.cfg", "x.cfg"}}) {
        ASSERT_EQ(MakePathname(dir, name, path), 0) << dir;
        EXPECT_STREQ(path, joined);
    }

    // dir (200) + '/' + name (58) = 259 characters: the most that fits.
    std::string dir = "/" + std::string(199, 'd');
    ASSERT_EQ(MakePathname(dir.c_str(), std::string(58, 'n').c_str(), path), 0);
    EXPECT_EQ(std::string(path).size(), 259u);
    std::string kept = path;
    EXPECT_EQ(MakePathname(dir.c_str(), std::string(59, 'n').c_str(), path), FILE_ERR_TOO_LONG);
    EXPECT_EQ(kept, path);
}

TEST(PathHelpers, CopyAndAppendAreBoundedAndAllOrNothing)
{
    char buf[FILE_PATH_MAX];
    ASSERT_EQ(CopyText(buf, sizeof buf, std::string(259, 'a').c_str()), 0);
    EXPECT_EQ(std::string(buf), std::string(259, 'a'));
    EXPECT_EQ(CopyText(buf, sizeof buf, std::string(260, 'b').c_str()), FILE_ERR_TOO_LONG);
    EXPECT_EQ(std::string(buf), std::string(259, 'a'));

    ASSERT_EQ(CopyText(buf, sizeof buf, std::string(250, 'c').c_str()), 0);
    EXPECT_EQ(AppendText(buf, sizeof buf, "0123456789"), FILE_ERR_TOO_LONG);
    EXPECT_EQ(std::string(buf), std::string(250, 'c'));
    ASSERT_EQ(AppendText(buf, sizeof buf, "012345678"), 0);
    EXPECT_EQ(std::string(buf), std::string(250, 'c') + "012345678");

    char small[4] = {'x', 'y', 'z', 'w'};        // no terminator inside
    EXPECT_EQ(AppendText(small, sizeof small, ""), FILE_ERR_PARAM);
}

TEST(ProgramFolders, ProjectDirFallsBackToAWritableDataFolder)
{
    ScratchDir tmp;
    char dir[FILE_PATH_MAX] = "unchanged";

    // Writable program folder: used as it is.
    ASSERT_EQ(qvar::files::ProjectDirFor(tmp.path().c_str(), nullptr, nullptr, dir), 0);
    EXPECT_EQ(std::string(dir), tmp.path());

    // A program folder that cannot be written (here: not there at all).
    std::string xdg = tmp.file("xdg/data");
    ASSERT_EQ(qvar::files::ProjectDirFor("/nonexistent/qvar/bin", xdg.c_str(), "/root", dir), 0);
    EXPECT_EQ(std::string(dir), xdg + "/qvar-scope");
    EXPECT_TRUE(fs::is_directory(dir));

    // No usable XDG_DATA_HOME: below the home folder.
    std::string home = tmp.file("home");
    for (const char *x : {static_cast<const char *>(nullptr), "", "relative/data"}) {
        ASSERT_EQ(qvar::files::ProjectDirFor("/nonexistent/qvar/bin", x, home.c_str(), dir), 0);
        EXPECT_EQ(std::string(dir), home + "/.local/share/qvar-scope");
        EXPECT_TRUE(fs::is_directory(dir));
    }

    // A regular file is no program folder, and no place for the fallback.
    std::string plain = tmp.file("plain");
    WriteText(plain, "");
    CopyText(dir, sizeof dir, "unchanged");
    EXPECT_EQ(qvar::files::ProjectDirFor(plain.c_str(), (plain + "/data").c_str(), nullptr, dir),
              FILE_ERR_OPEN);
    EXPECT_STREQ(dir, "unchanged");
}
