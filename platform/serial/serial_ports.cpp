// serial_ports.cpp - which device answers to which port number: pinned links, the device scan, the console guard, why a port may not open.
//
// Numbers must stay put between runs while the hardware does, because users
// remember "port 2", and every program of the user must give the same machine
// the same numbers: the tool's selector and `qvar-cli ports` are read side by
// side. So a number follows from what is there now and nothing else: pinned
// numbers are taken first; the scan fills the lowest free numbers in a fixed
// order (USB, then ACM adapters, then on-board UARTs, each by its kernel
// index); the simulated controller takes the first free number after the
// devices found, so a program pinning a pseudo-terminal does not move it.
// The one exception is a port this program holds open: it keeps its number
// while it is open, so the line in use never changes its name under the
// user's hands.
//
// Labels say what a user needs to pick the right port: the adapter's product
// name from sysfs, the program that serves a pinned pseudo-terminal (the
// process holding its master side, from /proc beside the sysfs root), and a
// pinned device that is not there is marked missing rather than offered.
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
#include <optional>
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
    // Ports this program has open, by number: the scanned device's name, or
    // kSimKey. Pinned ports are stable by themselves and not kept here.
    std::map<int, std::string> held;
};

const char kSimKey[] = "\x01simulated";

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

// Follows a chain of links to the device at its end; pinned links often go
// through /dev/serial/by-id first.
std::string final_path(std::string path)
{
    for (int hop = 0; hop < 16 && sysio::is_link(path); ++hop) {
        auto target = sysio::readlink(path);
        if (!target)
            break;
        path = join(dirname_of(path), *target);
    }
    return path;
}

std::string final_name(const std::string &path) { return basename_of(final_path(path)); }

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

// The kind of serial device a name stands for, by its family alone.
std::optional<PortEntry::Kind> kind_of_name(const std::string &name)
{
    if (index_of(name, "ttyUSB") >= 0)
        return PortEntry::UsbAdapter;
    if (index_of(name, "ttyACM") >= 0)
        return PortEntry::AcmAdapter;
    if (index_of(name, "ttyS") >= 0)
        return PortEntry::OnBoard;
    return std::nullopt;
}

// The product name the USB device behind a tty gives itself: sysfs keeps it
// on the USB device, one folder above an ACM port's interface and two above
// a USB-serial port. "" when there is none.
std::string usb_product(const std::string &sysDir, const std::string &name)
{
    const std::string device = sysDir + "/class/tty/" + name + "/device";
    for (const char *up : {"/../product", "/../../product"})
        if (auto text = sysio::read_small_file(device + up, 128))
            if (std::string t = trim(*text); !t.empty())
                return t;
    return {};
}

std::string device_description(const Scan &s, PortEntry::Kind kind, const std::string &name)
{
    if (kind == PortEntry::OnBoard)
        return "on-board serial port " + name;
    const std::string what = kind == PortEntry::UsbAdapter ? "USB serial " : "USB ACM ";
    const std::string product = usb_product(s.sysDir, name);
    return product.empty() ? what + "adapter " + name : what + product + " (" + name + ")";
}

// "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", udev's name for an adapter,
// gives "FTDI FT232R USB UART": the one thing that still names a pinned
// adapter once it is unplugged. "" for names of another form.
std::string by_id_product(const std::string &name)
{
    if (name.compare(0, 4, "usb-") != 0)
        return {};
    std::string rest = name.substr(4);
    if (auto dash = rest.rfind("-if"); dash != std::string::npos)
        rest.resize(dash);
    auto serial = rest.rfind('_');
    if (serial == std::string::npos || serial == 0)
        return {};
    rest.resize(serial);
    std::replace(rest.begin(), rest.end(), '_', ' ');
    return rest;
}

// The program that serves pseudo-terminal /dev/pts/<index>: the process that
// holds its master side, whose fdinfo names the index. Only processes the
// user may look into are seen; "" when none is.
std::string pty_server(const std::string &procDir, const std::string &index)
{
    for (const auto &pid : sysio::list_dir(procDir)) {
        if (!digits_only(pid))
            continue;
        const std::string fdDir = procDir + "/" + pid + "/fd";
        for (const auto &fd : sysio::list_dir(fdDir)) {
            auto target = sysio::readlink(fdDir + "/" + fd);
            if (!target || basename_of(*target) != "ptmx")
                continue;
            auto info = sysio::read_small_file(procDir + "/" + pid + "/fdinfo/" + fd);
            const size_t at = info ? info->find("tty-index:") : std::string::npos;
            if (at == std::string::npos)
                continue;
            const auto value = words(info->substr(at + 10, 16));
            if (value.empty() || value.front() != index)
                continue;
            if (auto comm = sysio::read_small_file(procDir + "/" + pid + "/comm", 64))
                return trim(*comm);
        }
    }
    return {};
}

// What a pinned link leads to, in a user's words: the adapter, the program
// serving a pseudo-terminal, or the link's target itself; "(missing)" when
// the device is not there.
std::string pinned_description(const Scan &s, const std::string &link, const std::string &target,
                               bool missing)
{
    const std::string end = final_path(link);
    const std::string name = basename_of(end);
    std::string text;
    if (auto kind = kind_of_name(name)) {
        text = device_description(s, *kind, name);
    } else if (basename_of(dirname_of(end)) == "pts" && digits_only(name)) {
        const std::string server = missing ? std::string() : pty_server(join(dirname_of(s.sysDir), "proc"), name);
        text = (server.empty() ? "pseudo-terminal " : server + " on ") + end;
    } else if (std::string product = by_id_product(name); !product.empty()) {
        text = "USB serial " + product;
    } else {
        text = "pinned to " + target;
    }
    return missing ? text + " (missing)" : text;
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
        e.missing = !sysio::exists(link);
        e.description = pinned_description(s, link, e.device, e.missing);
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
    e.description = device_description(s, f.kind, f.name);
    return e;
}

// The number this program holds `key` open under, or 0.
int held_number(const Scan &s, const std::string &key)
{
    for (const auto &[number, k] : s.held)
        if (k == key)
            return number;
    return 0;
}

// Numbers for the devices found, after the pinned ones: a port held open
// keeps its number while it is free; the others take the lowest free numbers
// in the scan's order. The simulated controller takes the first free number
// after the devices found, so a pin made for a program on a pseudo-terminal
// (qvar-sim --port 7) does not move it.
void number_devices(Scan &s, const std::vector<Found> &found, std::set<int> &used)
{
    std::vector<const Found *> rest;
    int highest = 0;
    for (const auto &f : found) {
        const int keep = held_number(s, f.name);
        if (keep > 0 && !used.count(keep)) {
            s.entries.push_back(device_entry(s, f, keep));
            used.insert(keep);
            highest = std::max(highest, keep);
        } else {
            rest.push_back(&f);
        }
    }
    const int heldSim = held_number(s, kSimKey);
    const bool keepSim = heldSim > 0 && !used.count(heldSim);
    if (keepSim)
        used.insert(heldSim);
    int next = 1;
    for (const Found *f : rest) {
        while (next <= COM_MAX_PORT && used.count(next))
            ++next;
        if (next >= COM_MAX_PORT)
            break;
        s.entries.push_back(device_entry(s, *f, next));
        used.insert(next);
        highest = std::max(highest, next);
    }
    if (keepSim)
        used.erase(heldSim);
    int sim = keepSim ? heldSim : highest + 1;
    while (!keepSim && sim <= COM_MAX_PORT && used.count(sim))
        ++sim;
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
    s.entries.clear();
    const ConsoleGuard guard = console_guard(s);
    std::set<int> used;
    std::set<std::string> pinnedNames;
    scan_pinned(s, guard, used, pinnedNames);
    number_devices(s, scan_devices(s, guard, pinnedNames), used);
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

void note_open(int number)
{
    Scan &s = scanned();
    const PortEntry *e = find_port(number);
    if (!e || e->kind == PortEntry::Pinned)
        return;
    s.held[number] = e->kind == PortEntry::Simulated ? std::string(kSimKey) : basename_of(e->device);
}

void note_closed(int number) { scan_state().held.erase(number); }

void set_scan_roots(const std::string &devDir, const std::string &sysDir)
{
    Scan &s = scan_state();
    s.devDir = devDir.empty() ? "/dev" : devDir;
    s.sysDir = sysDir.empty() ? "/sys" : sysDir;
    // Other roots are another machine: its numbering starts afresh.
    s.entries.clear();
    s.held.clear();
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
            info.missing = e.missing;
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
