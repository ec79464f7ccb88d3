// port_sandbox.h - test support for the serial service: empty device and
// sysfs trees and a config folder of the test's own, so the port scan sees
// nothing of the machine's real ports, and a pseudo-terminal to pin.
#pragma once

#include "platform/serial/serial.h"
#include "platform/serial/sysio.h"

#include <gtest/gtest.h>

#include <pty.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

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
        if (const char *old = std::getenv("XDG_CONFIG_HOME"))
            savedXdg_ = old;
        setenv("XDG_CONFIG_HOME", (root_ / "cfg").c_str(), 1);
        rescan();
    }
    void TearDown() override
    {
        for (int p = 1; p <= 8; ++p)
            CloseCom(p);
        qvar::sysio::reset_table();
        if (savedXdg_)
            setenv("XDG_CONFIG_HOME", savedXdg_->c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
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

    std::filesystem::path root_;
    std::optional<std::string> savedXdg_;
};

} // namespace qvar_test
