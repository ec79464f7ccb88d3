// port_sandbox.h - test support for the serial service: empty device and
// sysfs trees and a config folder of the test's own, so the port scan sees
// nothing of the machine's real ports, and a pseudo-terminal to pin.
#pragma once

#include "platform/serial/serial.h"
#include "platform/serial/sysio.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <pty.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qvar_test {

// A pseudo-terminal pair; path is empty if none could be had.
struct Pty {
    Pty()
    {
        char name[128];
        if (openpty(&master, &slave, name, nullptr, nullptr) == 0)
            path = name;
    }
    ~Pty()
    {
        close(master);
        close(slave);
    }
    int master = -1, slave = -1;
    std::string path;
};

class PortSandbox : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/qvar-ports-XXXXXX";
        root_ = mkdtemp(tmpl);
        for (const char *d : {"dev", "sys/class/tty", "cfg/qvar-scope/ports"})
            std::filesystem::create_directories(root_ / d);
        xdg_.emplace("XDG_CONFIG_HOME", (root_ / "cfg").c_str());
        rescan();
    }
    void TearDown() override
    {
        for (int p = 1; p <= 8; ++p)
            CloseCom(p);
        qvar::sysio::reset_table();
        xdg_.reset();
        ComSetScanRoots((root_ / "none").c_str(), (root_ / "none").c_str());
        std::filesystem::remove_all(root_);
    }

    void rescan() { ComSetScanRoots((root_ / "dev").c_str(), (root_ / "sys").c_str()); }
    std::filesystem::path link(int number) const
    {
        return root_ / "cfg/qvar-scope/ports" / ("com" + std::to_string(number));
    }
    void pin(int number, const std::filesystem::path &target) { std::filesystem::create_symlink(target, link(number)); }
    void device(const std::string &name) { std::ofstream(root_ / "dev" / name) << ""; }

    // number -> the entry, as the selector gets it; number -> its description.
    static std::map<int, ComPortInfo> list()
    {
        std::vector<ComPortInfo> all(COM_MAX_PORT);
        const int n = GetComPortList(all.data(), COM_MAX_PORT);
        std::map<int, ComPortInfo> out;
        for (int i = 0; i < n; ++i)
            out[all[size_t(i)].number] = all[size_t(i)];
        return out;
    }
    static std::map<int, std::string> described()
    {
        std::map<int, std::string> out;
        for (const auto &[n, p] : list())
            out[n] = p.description;
        return out;
    }
    static int open_port(int number = 1, int inQ = 4096) { return OpenComConfig(number, "", 19200, 0, 8, 1, inQ, 4096); }

    std::filesystem::path root_;
    std::optional<ScopedEnv> xdg_;
};

} // namespace qvar_test
