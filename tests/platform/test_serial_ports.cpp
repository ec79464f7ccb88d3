// Port numbering against fake /dev and /sys trees: pinned links, adapter order, UART evidence, console guard.
#include "platform/serial.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

class PortNumbering : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/qvar-ports-XXXXXX";
        root_ = mkdtemp(tmpl);
        fs::create_directories(root_ / "dev");
        fs::create_directories(root_ / "sys/class/tty");
        fs::create_directories(root_ / "cfg/qvar-scope/ports");
        if (const char *old = std::getenv("XDG_CONFIG_HOME"))
            savedXdg_ = old;
        setenv("XDG_CONFIG_HOME", (root_ / "cfg").c_str(), 1);
    }

    void TearDown() override
    {
        if (savedXdg_)
            setenv("XDG_CONFIG_HOME", savedXdg_->c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
        ComSetScanRoots((root_ / "none").c_str(), (root_ / "none").c_str());
        fs::remove_all(root_);
    }

    void device(const std::string &name) { std::ofstream(root_ / "dev" / name) << ""; }

    void sysfile(const std::string &rel, const std::string &text)
    {
        fs::create_directories((root_ / "sys" / rel).parent_path());
        std::ofstream(root_ / "sys" / rel) << text;
    }

    void uart_driver(const std::string &name, const std::string &driver)
    {
        fs::create_directories(root_ / "sys/class/tty" / name / "device");
        fs::create_symlink("../../../../bus/platform/drivers/" + driver,
                           root_ / "sys/class/tty" / name / "device/driver");
    }

    void pin(int number, const fs::path &target)
    {
        fs::create_symlink(target, root_ / "cfg/qvar-scope/ports" / ("com" + std::to_string(number)));
    }

    // number -> description, after a fresh scan of the fake tree.
    std::map<int, std::string> scan()
    {
        ComSetScanRoots((root_ / "dev").c_str(), (root_ / "sys").c_str());
        std::vector<ComPortInfo> list(COM_MAX_PORT);
        int n = GetComPortList(list.data(), COM_MAX_PORT);
        std::map<int, std::string> out;
        for (int i = 0; i < n; ++i)
            out[list[static_cast<size_t>(i)].number] = list[static_cast<size_t>(i)].description;
        return out;
    }

    fs::path root_;
    std::optional<std::string> savedXdg_;
};

TEST_F(PortNumbering, EmptyMachineHasOnlyTheSimulatedControllerAsPortOne)
{
    auto ports = scan();
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports.at(1), "simulated controller");
    EXPECT_EQ(ComSimulatedPort(), 1);
    // The simulated port opens by its number.
    EXPECT_EQ(OpenComConfig(1, "", 19200, 0, 8, 1, 512, 512), 0);
    EXPECT_EQ(CloseCom(1), 0);
}

TEST_F(PortNumbering, AdaptersFirstInIndexOrderThenUartsWithHardware)
{
    for (auto name : {"ttyUSB10", "ttyUSB2", "ttyUSB0", "ttyACM1", "ttyACM0", "ttyS0", "ttyS1",
                      "ttyS2", "ttyS3", "ttyS4", "ttyS10", "ttyUSBx", "tty5", "null"})
        device(name);
    sysfile("class/tty/ttyS0/type", "4\n");      // 16550A behind it
    sysfile("class/tty/ttyS1/type", "0\n");      // placeholder
    uart_driver("ttyS2", "dw-apb-uart");         // no type file, real driver
    uart_driver("ttyS3", "serial8250");          // placeholder driver
    sysfile("class/tty/ttyS10/type", "4\n");
    // ttyS4: nothing known about it

    auto ports = scan();
    std::map<int, std::string> expected{
        {1, "USB serial adapter ttyUSB0"}, {2, "USB serial adapter ttyUSB2"},
        {3, "USB serial adapter ttyUSB10"}, {4, "USB ACM adapter ttyACM0"},
        {5, "USB ACM adapter ttyACM1"}, {6, "on-board serial port ttyS0"},
        {7, "on-board serial port ttyS2"}, {8, "on-board serial port ttyS10"},
        {9, "simulated controller"}};
    EXPECT_EQ(ports, expected);
    EXPECT_EQ(ComSimulatedPort(), 9);

    ComPortInfo first[2];
    std::memset(first, 0x7f, sizeof first);
    EXPECT_EQ(GetComPortList(first, 1), 9);          // total, though only one was filled
    EXPECT_EQ(first[0].number, 1);
    EXPECT_EQ(std::string(first[0].device), (root_ / "dev/ttyUSB0").string());
    EXPECT_EQ(first[0].simulated, 0);
    EXPECT_EQ(first[1].number, 0x7f7f7f7f);           // untouched beyond max
}

TEST_F(PortNumbering, ConsoleIsNeverListedWhereverItIsNamed)
{
    for (auto name : {"ttyS0", "ttyS1", "ttyS2", "ttyUSB0", "ttyUSB1"})
        device(name);
    for (auto name : {"ttyS0", "ttyS1", "ttyS2"})
        sysfile(std::string("class/tty/") + name + "/type", "4");
    // console -> tty0 -> ttyS1, plus ttyS0 directly, plus the kernel command line.
    sysfile("class/tty/console/active", "tty0 ttyS0\n");
    sysfile("class/tty/tty0/active", "ttyS1\n");
    fs::create_directories(root_ / "proc");
    std::ofstream(root_ / "proc/cmdline") << "ro quiet console=/dev/ttyUSB1,115200n8 console=tty1\n";
    // Pinning the console, directly or through a by-id style chain, does not
    // bring it back.
    fs::create_directories(root_ / "dev/serial/by-id");
    fs::create_symlink("../../ttyS0", root_ / "dev/serial/by-id/usb-thing");
    pin(3, root_ / "dev/ttyS1");
    pin(4, root_ / "dev/serial/by-id/usb-thing");

    auto ports = scan();
    std::map<int, std::string> expected{
        {1, "USB serial adapter ttyUSB0"}, {2, "on-board serial port ttyS2"}, {3, "simulated controller"}};
    EXPECT_EQ(ports, expected);
    EXPECT_EQ(OpenComConfig(4, "", 19200, 0, 8, 1, 512, 512), COM_ERR_NO_PORT);
}

TEST_F(PortNumbering, PinnedNumbersAreKeptAndTheirDevicesNotCountedTwice)
{
    for (auto name : {"ttyUSB0", "ttyUSB1", "ttyACM0"})
        device(name);
    pin(1, root_ / "dev/ttyUSB1");
    pin(9, "/nonexistent/qvar-pinned");
    pin(12, "/nonexistent/" + std::string(200, 'd'));   // longer than the description field
    pin(0, root_ / "dev/ttyUSB0");        // outside the range: ignored
    fs::create_symlink(root_ / "dev/ttyUSB0", root_ / "cfg/qvar-scope/ports/comX");

    auto ports = scan();
    std::map<int, std::string> expected{
        {1, "pinned: " + (root_ / "dev/ttyUSB1").string()}, {2, "USB serial adapter ttyUSB0"},
        {3, "USB ACM adapter ttyACM0"}, {9, "pinned: /nonexistent/qvar-pinned"},
        {12, ("pinned: /nonexistent/" + std::string(200, 'd')).substr(0, 71)},
        {13, "simulated controller"}};
    EXPECT_EQ(ports, expected);
    EXPECT_EQ(ComSimulatedPort(), 13);

    std::vector<ComPortInfo> list(8);
    ASSERT_EQ(GetComPortList(list.data(), 8), 6);
    EXPECT_EQ(list[0].pinned, 1);
    EXPECT_EQ(list[1].pinned, 0);
    EXPECT_EQ(list[5].simulated, 1);
    EXPECT_STREQ(list[5].device, "");

    // A pinned target that is missing exists as a number but cannot be opened.
    EXPECT_EQ(OpenComConfig(9, "", 19200, 0, 8, 1, 512, 512), COM_ERR_CANNOT_OPEN);
    EXPECT_EQ(OpenComConfig(5, "", 19200, 0, 8, 1, 512, 512), COM_ERR_NO_PORT);
    EXPECT_EQ(OpenComConfig(0, "", 19200, 0, 8, 1, 512, 512), COM_ERR_PORT_NUMBER);
    EXPECT_EQ(OpenComConfig(256, "", 19200, 0, 8, 1, 512, 512), COM_ERR_PORT_NUMBER);
}

} // namespace
