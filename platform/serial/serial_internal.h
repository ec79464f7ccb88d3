// serial_internal.h - what serial.cpp needs from the port numbering and the termios backend (platform-internal).
#pragma once

#include "platform/serial/serial_backend.h"

#include <sys/types.h>

#include <string>
#include <vector>

namespace qvar::serial {

struct PortEntry {
    enum Kind { Pinned, UsbAdapter, AcmAdapter, OnBoard, Simulated };
    int number = 0;
    Kind kind = OnBoard;
    std::string device;        // the device; empty for the simulated controller
    std::string link;          // a pinned port's com<N> link, opened instead of
                               // `device` so a re-pointed link counts at once
    std::string description;
    bool missing = false;      // a pinned link whose device is not there

    const std::string &path_to_open() const { return link.empty() ? device : link; }
};

// The numbered ports, ascending. Scans on first use; rescan() reads the
// pinned links and the scan roots again. Numbers follow from what is there,
// except that a port held open (note_open until note_closed) keeps its
// number while its device is there.
const std::vector<PortEntry> &ports();
void rescan();
const PortEntry *find_port(int number);
int simulated_port();
void note_open(int number);
void note_closed(int number);
void set_scan_roots(const std::string &devDir, const std::string &sysDir);

// The folder of pinned com<N> links, "" when the user has no home folder.
std::string pinned_ports_dir();

// Whether a device number is a console's: /dev/console, /dev/tty, the virtual
// terminals and whatever the kernel uses as its console, looked up afresh.
bool is_console_device(dev_t device);

// What keeps a device from being opened, as learnt from access(2) at each
// scan and from the last failed open.
enum class PortAccess { Ok, Denied, InUse };
void note_access(const std::string &device, PortAccess access);
PortAccess access_of(const PortEntry &e);

// The baud rates a termios line takes.
bool baud_supported(long baud);

// Switches RTS/CTS handshake on a termios port; other backends ignore it.
int set_cts_handshake(Backend &backend, bool on);

} // namespace qvar::serial
