// serial_ports.cpp - which device answers to which port number: pinned links, the device scan, the console guard, why a port may not open.
//
// Numbers must stay put between runs while the hardware does, because users
// remember "port 2". Pinned numbers are taken first; the scan fills the lowest
// free numbers in a fixed order (USB, then ACM adapters, then on-board UARTs,
// each by its kernel index); the simulated controller comes after all of them
// so plugging in an adapter does not move it under a pinned number.
//
// The console is never offered: writing our frames to it would corrupt the
// kernel's log line and a login on it. Hardware evidence for on-board UARTs
// is read from sysfs only; opening a ttyS that has no chip behind it can block
// or fail in odd ways, and opening the console is exactly what we must avoid.
//
// The console guard holds again at every open (is_console_device): a pinned
// link can be re-pointed while the program runs.
//
// The kernel command line is read from "proc/cmdline" beside the sysfs root,
// so /sys gives /proc/cmdline and a test's fake tree brings its own.
#include "platform/serial/serial.h"
#include "platform/serial/serial_internal.h"
#include "platform/serial/sysio.h"
#include "platform/settings.h"

#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <sstream>

namespace qvar::serial {
namespace {

struct Scan {
    std::string devDir = "/dev";
    std::string sysDir = "/sys";
    bool done = false;
    std::vector<PortEntry> entries;
    // The console's names as the last scan read them; their nodes are looked
    // up again at every open.
    std::set<std::string> consoleNames;
    std::set<std::string> realConsoleNames;
    int simNumber = 1;
};

Scan &scan_state()
{
    static Scan s;
    return s;
}

std::string dirname_of(const std::string &path)
{
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string basename_of(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string join(const std::string &dir, const std::string &name)
{
    if (!name.empty() && name.front() == '/')
        return name;
    if (!dir.empty() && dir.back() == '/')
        return dir + name;
    return dir + "/" + name;
}

std::string trim(const std::string &s)
{
    auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return {};
    auto e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::vector<std::string> words(const std::string &s)
{
    std::istringstream in(s);
    std::vector<std::string> out;
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
}

// Follows a chain of links to the name of the device at its end; pinned links
// often go through /dev/serial/by-id first.
std::string final_name(std::string path)
{
    for (int hop = 0; hop < 16 && sysio::is_link(path); ++hop) {
        auto target = sysio::readlink(path);
        if (!target)
            break;
        path = join(dirname_of(path), *target);
    }
    return basename_of(path);
}

bool digits_only(const std::string &s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Names that stand for the console whatever the kernel says.
bool always_console(const std::string &name)
{
    if (name == "console" || name == "tty")
        return true;
    return name.size() > 3 && name.compare(0, 3, "tty") == 0 && digits_only(name.substr(3));
}

std::set<std::string> console_names(const std::string &sysDir)
{
    std::set<std::string> names;
    // "active" lists the consoles; tty0 and console are indirections whose own
    // "active" names the real one. Bounded so a looping fake tree cannot hang.
    std::vector<std::string> todo{"console"};
    std::set<std::string> visited;
    while (!todo.empty() && visited.size() < 16) {
        std::string name = todo.back();
        todo.pop_back();
        if (!visited.insert(name).second)
            continue;
        auto active = sysio::read_small_file(sysDir + "/class/tty/" + name + "/active");
        if (!active)
            continue;
        for (const auto &w : words(*active)) {
            names.insert(w);
            todo.push_back(w);
        }
    }
    if (auto cmdline = sysio::read_small_file(join(dirname_of(sysDir), "proc/cmdline"))) {
        for (const auto &w : words(*cmdline)) {
            if (w.compare(0, 8, "console=") != 0)
                continue;
            std::string dev = w.substr(8, w.find(',') == std::string::npos ? std::string::npos
                                                                             : w.find(',') - 8);
            if (dev.compare(0, 5, "/dev/") == 0)
                dev = dev.substr(5);
            if (!dev.empty())
                names.insert(dev);
        }
    }
    return names;
}

// Kernel index of "ttyUSB12" with prefix "ttyUSB", or -1 when the name is not
// of that family.
long index_of(const std::string &name, const std::string &prefix)
{
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
        return -1;
    std::string rest = name.substr(prefix.size());
    if (!digits_only(rest) || rest.size() > 6)
        return -1;
    return std::stol(rest);
}

bool uart_has_hardware(const std::string &sysDir, const std::string &name)
{
    const std::string base = sysDir + "/class/tty/" + name;
    // The 8250 driver registers a fixed number of ttyS placeholders; only
    // those with a detected chip have a non-zero port type.
    if (auto type = sysio::read_small_file(base + "/type", 64)) {
        std::string t = trim(*type);
        return digits_only(t) && std::stol(t) != 0;
    }
    // Other UART drivers do not publish a type; a device bound to a driver
    // other than the 8250 placeholder platform driver is real hardware.
    if (auto driver = sysio::readlink(base + "/device/driver"))
        return basename_of(*driver) != "serial8250";
    return false;
}

struct Found {
    PortEntry::Kind kind;
    long index;
    std::string name;
};

// What the scan knows of the console: its names and its device numbers.
struct ConsoleGuard {
    std::set<std::string> names;
    std::set<dev_t> devices;

    bool named(const std::string &name) const { return always_console(name) || names.count(name); }
    bool node(const std::string &path) const
    {
        auto dev = sysio::char_device(path);
        return dev && devices.count(*dev);
    }
};

// The console's device numbers: tty (5,0), console (5,1) and the virtual
// terminals tty0..tty63 (4,0..63) on every Linux machine, whatever their
// nodes are called, and the nodes of the console's names both in the scanned
// device folder and in the machine's own /dev: a test's fake tree must never
// hide the real console.
std::set<dev_t> console_devices(const std::string &devDir, const std::set<std::string> &names)
{
    std::set<dev_t> devices{makedev(5, 0), makedev(5, 1)};
    for (unsigned minor = 0; minor < 64; ++minor)
        devices.insert(makedev(4, minor));
    for (const std::string &dir : {devDir, std::string("/dev")}) {
        for (const char *fixed : {"console", "tty", "tty0"})
            if (auto dev = sysio::char_device(join(dir, fixed)))
                devices.insert(*dev);
        for (const auto &name : names)
            if (auto dev = sysio::char_device(join(dir, name)))
                devices.insert(*dev);
    }
    return devices;
}

// Names from the scanned sysfs, and the machine's own console names as well.
ConsoleGuard console_guard(Scan &s)
{
    ConsoleGuard g;
    g.names = console_names(s.sysDir);
    s.realConsoleNames = s.sysDir == "/sys" ? g.names : console_names("/sys");
    std::set<std::string> all = g.names;
    all.insert(s.realConsoleNames.begin(), s.realConsoleNames.end());
    g.devices = console_devices(s.devDir, all);
    s.consoleNames = all;
    return g;
}

// Pinned numbers from the com<N> links. A pinned link may reach the console
// under another name (a second device node, a udev alias); the device number
// gives it away.
void scan_pinned(Scan &s, const ConsoleGuard &guard, std::set<int> &used, std::set<std::string> &pinnedNames)
{
    const std::string dir = pinned_ports_dir();
    if (dir.empty())
        return;
    for (const auto &name : sysio::list_dir(dir)) {
        if (name.size() < 4 || name.compare(0, 3, "com") != 0 || !digits_only(name.substr(3)) ||
            name.size() > 6)
            continue;
        int number = std::stoi(name.substr(3));
        if (number < 1 || number > COM_MAX_PORT || used.count(number))
            continue;
        const std::string link = join(dir, name);
        auto target = sysio::readlink(link);
        if (!target)
            continue;
        const std::string dev = final_name(link);
        if (guard.named(dev) || guard.node(link))
            continue;
        PortEntry e;
        e.number = number;
        e.kind = PortEntry::Pinned;
        e.device = join(dir, *target);
        e.link = link;
        e.description = "pinned: " + e.device;
        s.entries.push_back(e);
        used.insert(number);
        pinnedNames.insert(dev);
    }
}

// Serial devices in the device folder, in numbering order.
std::vector<Found> scan_devices(const Scan &s, const ConsoleGuard &guard,
                                const std::set<std::string> &pinnedNames)
{
    std::vector<Found> found;
    for (const auto &name : sysio::list_dir(s.devDir)) {
        if (guard.named(name) || pinnedNames.count(name))
            continue;
        if (long i = index_of(name, "ttyUSB"); i >= 0)
            found.push_back({PortEntry::UsbAdapter, i, name});
        else if (long i = index_of(name, "ttyACM"); i >= 0)
            found.push_back({PortEntry::AcmAdapter, i, name});
        else if (long i = index_of(name, "ttyS"); i >= 0 && uart_has_hardware(s.sysDir, name))
            found.push_back({PortEntry::OnBoard, i, name});
    }
    std::sort(found.begin(), found.end(), [](const Found &a, const Found &b) {
        return a.kind != b.kind ? a.kind < b.kind : a.index < b.index;
    });
    return found;
}

PortEntry device_entry(const Scan &s, const Found &f, int number)
{
    PortEntry e;
    e.number = number;
    e.kind = f.kind;
    e.device = join(s.devDir, f.name);
    e.description = (f.kind == PortEntry::UsbAdapter   ? "USB serial adapter "
                     : f.kind == PortEntry::AcmAdapter ? "USB ACM adapter "
                                                       : "on-board serial port ") + f.name;
    return e;
}

// Numbers for the devices found. A device seen by the previous scan keeps its
// number while it is free, and so does the simulated controller: the program
// holds the number of the port in use across a rescan. Newcomers take the
// lowest free numbers; the last number stays for the simulated controller.
void number_devices(Scan &s, const std::vector<Found> &found, std::set<int> &used,
                    const std::map<std::string, int> &before, int simBefore)
{
    std::vector<const Found *> newcomers;
    for (const auto &f : found) {
        auto it = before.find(f.name);
        if (it != before.end() && !used.count(it->second) && it->second < COM_MAX_PORT) {
            s.entries.push_back(device_entry(s, f, it->second));
            used.insert(it->second);
        } else {
            newcomers.push_back(&f);
        }
    }
    const bool keepSim = simBefore > 0 && !used.count(simBefore);
    if (keepSim)
        used.insert(simBefore);
    int next = 1;
    for (const Found *f : newcomers) {
        while (next <= COM_MAX_PORT && used.count(next))
            ++next;
        if (next >= COM_MAX_PORT)
            break;
        s.entries.push_back(device_entry(s, *f, next));
        used.insert(next);
    }
    if (keepSim)
        used.erase(simBefore);
    int sim = keepSim ? simBefore : used.empty() ? 1 : *used.rbegin() + 1;
    if (sim > COM_MAX_PORT) {
        sim = 1;
        while (used.count(sim))
            ++sim;
    }
    s.simNumber = sim;
    PortEntry e;
    e.number = sim;
    e.kind = PortEntry::Simulated;
    e.description = "simulated controller";
    s.entries.push_back(e);
}

void do_scan(Scan &s)
{
    std::map<std::string, int> before;
    for (const auto &e : s.entries)
        if (e.kind != PortEntry::Pinned && e.kind != PortEntry::Simulated)
            before[basename_of(e.device)] = e.number;
    const int simBefore = s.done ? s.simNumber : 0;

    s.entries.clear();
    const ConsoleGuard guard = console_guard(s);
    std::set<int> used;
    std::set<std::string> pinnedNames;
    scan_pinned(s, guard, used, pinnedNames);
    number_devices(s, scan_devices(s, guard, pinnedNames), used, before, simBefore);
    std::sort(s.entries.begin(), s.entries.end(),
              [](const PortEntry &a, const PortEntry &b) { return a.number < b.number; });
    s.done = true;
}

Scan &scanned()
{
    Scan &s = scan_state();
    if (!s.done)
        do_scan(s);
    return s;
}

// Why the last open of a device failed, by device path; cleared when it opens.
std::map<std::string, PortAccess> &access_notes()
{
    static std::map<std::string, PortAccess> notes;
    return notes;
}

} // namespace

std::string pinned_ports_dir()
{
    char dir[4096];
    return UserConfigDir(dir, sizeof dir) < 0 ? std::string() : std::string(dir) + "/ports";
}

const std::vector<PortEntry> &ports() { return scanned().entries; }

void rescan() { do_scan(scan_state()); }

const PortEntry *find_port(int number)
{
    for (const auto &e : ports())
        if (e.number == number)
            return &e;
    return nullptr;
}

int simulated_port() { return scanned().simNumber; }

void set_scan_roots(const std::string &devDir, const std::string &sysDir)
{
    Scan &s = scan_state();
    s.devDir = devDir.empty() ? "/dev" : devDir;
    s.sysDir = sysDir.empty() ? "/sys" : sysDir;
    // Other roots are another machine: its numbering starts afresh.
    s.entries.clear();
    s.done = false;
    access_notes().clear();
    do_scan(s);
}

bool is_console_device(dev_t device)
{
    const Scan &s = scanned();
    return console_devices(s.devDir, s.consoleNames).count(device) > 0;
}

void note_access(const std::string &device, PortAccess access)
{
    if (access == PortAccess::Ok)
        access_notes().erase(device);
    else
        access_notes()[device] = access;
}

PortAccess access_of(const PortEntry &e)
{
    if (e.kind == PortEntry::Simulated)
        return PortAccess::Ok;
    const int r = sysio::access_rw(e.path_to_open());
    if (r == -EACCES || r == -EPERM)
        return PortAccess::Denied;
    auto it = access_notes().find(e.path_to_open());
    return it == access_notes().end() ? PortAccess::Ok : it->second;
}

} // namespace qvar::serial

// ---------------------------------------------------------------- the contract's port list

using namespace qvar::serial;

int GetComPortList(ComPortInfo *list, int max)
{
    rescan();
    const auto &all = ports();
    if (list) {
        for (int i = 0; i < max && i < static_cast<int>(all.size()); ++i) {
            const PortEntry &e = all[static_cast<size_t>(i)];
            ComPortInfo &info = list[i];
            std::memset(&info, 0, sizeof info);
            info.number = e.number;
            info.simulated = e.kind == PortEntry::Simulated;
            info.pinned = e.kind == PortEntry::Pinned;
            const PortAccess access = access_of(e);
            info.access = access == PortAccess::Denied ? COM_ACCESS_DENIED
                          : access == PortAccess::InUse ? COM_ACCESS_IN_USE
                                                         : COM_ACCESS_OK;
            std::string text = e.description;
            if (info.access != COM_ACCESS_OK)
                text += std::string(info.access == COM_ACCESS_DENIED ? " (no permission) - " : " (in use) - ") +
                        ComAccessRemedy(info.access);
            std::strncpy(info.device, e.device.c_str(), sizeof info.device - 1);
            std::strncpy(info.description, text.c_str(), sizeof info.description - 1);
        }
    }
    return static_cast<int>(all.size());
}

const char *ComAccessRemedy(int access)
{
    switch (access) {
    case COM_ACCESS_DENIED:
        return "add yourself to group dialout (sudo usermod -aG dialout $USER), then log in again";
    case COM_ACCESS_IN_USE:
        return "close the program that uses it, then choose the port again";
    default:
        return "";
    }
}

int ComPinnedPortsDir(char *buffer, int size)
{
    const std::string dir = pinned_ports_dir();
    if (dir.empty() || !buffer || size <= 0 || dir.size() >= static_cast<size_t>(size))
        return -1;
    std::memcpy(buffer, dir.c_str(), dir.size() + 1);
    return static_cast<int>(dir.size());
}

int ComSimulatedPort(void)
{
    return simulated_port();
}

void ComSetScanRoots(const char *devDir, const char *sysDir)
{
    set_scan_roots(devDir ? devDir : "", sysDir ? sysDir : "");
}
