// fuzz_portscan.cpp - the port-folder scan: a fake device folder, sysfs tree,
// kernel command line and pinned-port folder built from the input (names,
// link targets, attribute texts), scanned and listed. Nothing is opened: a
// pinned link from the input may point at any device of the machine.
#include "platform/serial/serial.h"
#include "tests/fuzz/fuzz_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A file name from the input: no slashes, never "." or "..".
std::string Name(qvar_fuzz::Input &in)
{
    static const char *const common[] = {"ttyUSB0", "ttyUSB1", "ttyACM0", "ttyS0", "ttyS1",
                                         "console", "tty0", "tty", "com1", "com255"};
    const uint8_t pick = in.byte();
    std::string s = pick < 160 ? common[pick % 10] : in.piece(12);
    for (char &c : s)
        if (c == '/' || c == '\0')
            c = '_';
    if (s.empty() || s == "." || s == "..")
        s = "x";
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    qvar_fuzz::Input in(data, size);
    const fs::path root = fs::path(qvar_fuzz::ScratchDir()) / "scan";
    std::error_code ec;
    fs::remove_all(root, ec);
    const fs::path dev = root / "dev", sys = root / "sys", pins = root / "cfg/qvar-scope/ports";
    for (const fs::path &d : {dev, sys / "class/tty", pins, root / "proc"})
        fs::create_directories(d, ec);
    setenv("XDG_CONFIG_HOME", (root / "cfg").c_str(), 1);

    for (int i = 0; i < 24 && !in.empty(); ++i) {
        const uint8_t what = in.byte() % 6;
        const std::string name = Name(in);
        switch (what) {
        case 0:
            std::ofstream(dev / name) << "";
            break;
        case 1:   // a pinned link, anywhere, even at itself
            fs::create_symlink(in.piece(40), pins / name, ec);
            break;
        case 2:
            fs::create_directories(sys / "class/tty" / name, ec);
            std::ofstream(sys / "class/tty" / name / "type") << in.piece(8);
            break;
        case 3:
            fs::create_directories(sys / "class/tty" / name, ec);
            std::ofstream(sys / "class/tty" / name / "active") << in.piece(40);
            break;
        case 4:
            std::ofstream(root / "proc/cmdline") << in.piece(80);
            break;
        default:
            fs::create_directories(sys / "class/tty" / name / "device", ec);
            fs::create_symlink(in.piece(30), sys / "class/tty" / name / "device/driver", ec);
            break;
        }
    }
    ComSetScanRoots(dev.c_str(), sys.c_str());
    std::vector<ComPortInfo> list(COM_MAX_PORT);
    const int n = GetComPortList(list.data(), COM_MAX_PORT);
    if (n < 1 || n > COM_MAX_PORT)
        std::abort();
    int sims = 0;
    for (int i = 0; i < n; ++i) {
        const ComPortInfo &p = list[static_cast<size_t>(i)];
        if (p.number < 1 || p.number > COM_MAX_PORT || (i && p.number <= list[static_cast<size_t>(i) - 1].number))
            std::abort();   // numbers are unique and ascending
        sims += p.simulated;
    }
    if (sims != 1 || list[0].number < 1)
        std::abort();
    return 0;
}
