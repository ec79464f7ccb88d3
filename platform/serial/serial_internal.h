// serial_internal.h - what serial.cpp needs from the port numbering and the termios backend (platform-internal).
#pragma once

#include "platform/serial/serial_backend.h"

#include <string>
#include <vector>

namespace qvar::serial {

struct PortEntry {
    enum Kind { Pinned, UsbAdapter, AcmAdapter, OnBoard, Simulated };
    int number = 0;
    Kind kind = OnBoard;
    std::string device;        // path to open; empty for the simulated controller
    std::string description;
};

// The numbered ports, ascending. Scans on first use; rescan() reads the
// pinned links and the scan roots again.
const std::vector<PortEntry> &ports();
void rescan();
const PortEntry *find_port(int number);
int simulated_port();
void set_scan_roots(const std::string &devDir, const std::string &sysDir);

// Switches RTS/CTS handshake on a termios port; other backends ignore it.
int set_cts_handshake(Backend &backend, bool on);

} // namespace qvar::serial
