// Serial service against the machine changing under it: ports plugged and
// pulled while the program runs, a pinned link re-pointed at a console, a
// device the user may not open or another program holds, and a close that
// reports failure.
#include "platform/serial/serial.h"
#include "platform/serial/sysio.h"
#include "tests/support/port_sandbox.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <string>

namespace fs = std::filesystem;
using qvar::sysio::Call;

namespace {

using qvar_test::Pty;

using PortChanges = qvar_test::PortSandbox;

// What a look at a device whose number is g_consoleLike sees: the console's.
dev_t g_consoleLike;
int as_console(int r, struct stat *s)
{
    if (S_ISCHR(s->st_mode) && s->st_rdev == g_consoleLike)
        s->st_rdev = makedev(5, 1);
    return r;
}

TEST_F(PortChanges, ListingsNumberWhatIsThereAsAnyProgramWouldSaveThePortInUse)
{
    device("ttyUSB0");
    device("ttyUSB1");
    rescan();
    auto ports = list();
    ASSERT_EQ(3u, ports.size());
    EXPECT_STREQ("USB serial adapter ttyUSB1", ports[2].description);
    EXPECT_EQ(3, ComSimulatedPort());
    ASSERT_EQ(0, open_port(3));                   // the simulated controller in use

    // Pulled: the other adapter moves up as it would for any program; the
    // port in use keeps its number.
    fs::remove(root_ / "dev/ttyUSB0");
    ports = list();
    ASSERT_EQ(2u, ports.size());
    EXPECT_STREQ("USB serial adapter ttyUSB1", ports[1].description);
    EXPECT_EQ(1, ports[3].simulated);

    // A new adapter and a pseudo-terminal pinned while running: the pin
    // takes its number, the adapter the lowest free one.
    Pty pty;
    ASSERT_FALSE(pty.path.empty());
    device("ttyACM0");
    pin(7, pty.path);
    ports = list();
    EXPECT_STREQ("USB ACM adapter ttyACM0", ports[2].description);
    EXPECT_EQ(1, ports[7].pinned);
    EXPECT_EQ(pty.path, std::string(ports[7].device));
    EXPECT_EQ(3, ComSimulatedPort());
    EXPECT_EQ(0, open_port(7));
    EXPECT_EQ(0, GetInQLen(3));                   // still open, still the same port

    // Let go, every port has the number a program that saw nothing before
    // (qvar-cli ports) gives it.
    fs::remove(root_ / "dev/ttyUSB1");
    ASSERT_EQ(0, CloseCom(3));
    ASSERT_EQ(0, CloseCom(7));
    const std::map<int, std::string> here = described();
    rescan();
    const std::map<int, std::string> fresh = described();
    const std::map<int, std::string> expected{
        {1, "USB ACM adapter ttyACM0"}, {2, "simulated controller"}, {7, "pseudo-terminal " + pty.path}};
    EXPECT_EQ(expected, here);
    EXPECT_EQ(expected, fresh);

    fs::remove(link(7));
    EXPECT_EQ(0u, list().count(7));
}

TEST_F(PortChanges, PinRepointedAtAConsoleIsRefusedAtTheOpen)
{
    Pty line, console;
    ASSERT_FALSE(line.path.empty());
    pin(2, line.path);
    ASSERT_EQ(0, open_port(2));
    ASSERT_EQ(0, CloseCom(2));

    // The second pty plays /dev/console: its device number says so.
    struct stat st;
    ASSERT_EQ(0, stat(console.path.c_str(), &st));
    g_consoleLike = st.st_rdev;
    qvar::sysio::table().stat = [](const char *p, struct stat *s) { return as_console(::stat(p, s), s); };
    qvar::sysio::table().fstat = [](int fd, struct stat *s) { return as_console(::fstat(fd, s), s); };
    fs::remove(link(2));
    pin(2, console.path);
    const long opens = qvar::sysio::call_count(Call::Open);
    EXPECT_EQ(COM_ERR_CANNOT_OPEN, open_port(2));
    EXPECT_EQ(opens, qvar::sysio::call_count(Call::Open));   // refused before the open

    // Swapped between the look and the open: fstat catches it before any set-up.
    qvar::sysio::table().stat = ::stat;
    const long setups = qvar::sysio::call_count(Call::TcSetAttr);
    EXPECT_EQ(COM_ERR_CANNOT_OPEN, open_port(2));
    EXPECT_EQ(setups, qvar::sysio::call_count(Call::TcSetAttr));
    EXPECT_EQ(COM_ERR_NOT_OPEN, GetInQLen(2));

    // Not a console any more: it opens.
    qvar::sysio::reset_table();
    EXPECT_EQ(0, open_port(2));
}

TEST_F(PortChanges, PortThatMayNotOpenSaysWhyAndWhatToDo)
{
    Pty pty;
    ASSERT_FALSE(pty.path.empty());
    pin(3, pty.path);
    ASSERT_EQ(0, chmod(pty.path.c_str(), 0));
    ASSERT_EQ(1u, list().count(3));
    // Tests run as root, who may open anything: the open is made to fail
    // as it would for a user outside the device's group.
    qvar::sysio::fail_nth(Call::Open, 1, EACCES);
    testing::internal::CaptureStderr();
    EXPECT_EQ(COM_ERR_CANNOT_OPEN, open_port(3));
    const std::string said = testing::internal::GetCapturedStderr();
    const std::string remedy = "add yourself to group dialout (sudo usermod -aG dialout $USER), then log in again";
    EXPECT_NE(std::string::npos, said.find(link(3).string())) << said;
    EXPECT_NE(std::string::npos, said.find(remedy)) << said;

    auto ports = list();
    EXPECT_EQ(COM_ACCESS_DENIED, ports[3].access);
    EXPECT_EQ("pseudo-terminal " + pty.path + " (no permission) - " + remedy, std::string(ports[3].description));
    EXPECT_EQ(remedy, ComAccessRemedy(COM_ACCESS_DENIED));

    // Held by another program.
    chmod(pty.path.c_str(), 0620);
    const int other = open(pty.path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(0, flock(other, LOCK_EX | LOCK_NB));
    testing::internal::CaptureStderr();
    EXPECT_EQ(COM_ERR_CANNOT_OPEN, open_port(3));
    EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find("(in use)"));
    ports = list();
    EXPECT_EQ(COM_ACCESS_IN_USE, ports[3].access);
    EXPECT_NE(std::string::npos, std::string(ports[3].description).find(" (in use) - "));

    // Once it opens, the entry is plain again.
    close(other);
    EXPECT_EQ(0, open_port(3));
    ports = list();
    EXPECT_EQ(COM_ACCESS_OK, ports[3].access);
    EXPECT_EQ("pseudo-terminal " + pty.path, std::string(ports[3].description));
}

TEST_F(PortChanges, CloseThatReportsFailureStillReleasesTheDevice)
{
    Pty pty;
    pin(1, pty.path);
    ASSERT_EQ(1, list()[1].pinned);
    // Descriptors of this process on the terminal.
    auto open_fds = [&] {
        int n = 0;
        std::error_code ec;
        for (auto &e : fs::directory_iterator("/proc/self/fd"))
            n += fs::read_symlink(e.path(), ec) == pty.path;
        return n;
    };
    const int before = open_fds();
    ASSERT_EQ(0, open_port(1));
    EXPECT_EQ(before + 1, open_fds());
    qvar::sysio::fail_nth(Call::Close, 1, EIO);
    EXPECT_EQ(0, CloseCom(1));
    EXPECT_EQ(before, open_fds());
    // The lock went with the descriptor: another open gets the device.
    const int other = open(pty.path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    EXPECT_EQ(0, flock(other, LOCK_EX | LOCK_NB));
    close(other);
    EXPECT_EQ(0, open_port(1));
}

TEST_F(PortChanges, PinnedFolderFollowsTheEnvironmentAndThePasswordDatabase)
{
    char dir[512];
    ASSERT_GT(ComPinnedPortsDir(dir, sizeof dir), 0);
    EXPECT_EQ((root_ / "cfg/qvar-scope/ports").string(), dir);
    EXPECT_EQ(-1, ComPinnedPortsDir(dir, 8));     // does not fit

    qvar_test::ScopedEnv xdg("XDG_CONFIG_HOME", "relative/cfg");
    qvar_test::ScopedEnv home("HOME", "/home/someone");
    ASSERT_GT(ComPinnedPortsDir(dir, sizeof dir), 0);
    EXPECT_STREQ("/home/someone/.config/qvar-scope/ports", dir);
    // A relative or missing HOME: the user's home from the password database.
    for (const char *relative : {"relative", static_cast<const char *>(nullptr)}) {
        qvar_test::ScopedEnv odd("HOME", relative);
        ASSERT_GT(ComPinnedPortsDir(dir, sizeof dir), 0);
        EXPECT_EQ('/', dir[0]) << dir;
        EXPECT_NE(std::string::npos, std::string(dir).find("/.config/qvar-scope/ports")) << dir;
    }
}

} // namespace
