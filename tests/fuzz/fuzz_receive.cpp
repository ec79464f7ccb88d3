// fuzz_receive.cpp - the receive path: arbitrary bytes in arbitrary chunks on
// a pseudo-terminal port, taken by the serial service's queue, its timing
// rules and the link's receive callback, interleaved with reads, flushes and
// writes as the input says, after an echo answer has taught the link the
// controller's frames; and the same bytes as requests to the simulated
// controller.
#define QVAR_HIDE_SYNC   // unistd.h has a sync() of its own
#include "link/com232.h"
#include "platform/serial/serial.h"
#include "platform/ui/pump.h"
#include "sim/controller.h"
#include "state/qvar.h"
#include "tests/fuzz/fuzz_support.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

namespace {

constexpr int kPort = 1;
int g_master = -1;

void Drain()
{
    char buf[4096];
    while (read(g_master, buf, sizeof buf) > 0) {
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    namespace fs = std::filesystem;
    const std::string root = qvar_fuzz::ScratchDir();
    fs::create_directories(root + "/cfg/qvar-scope/ports");
    fs::create_directories(root + "/empty");
    int slave = -1;
    char name[128];
    if (openpty(&g_master, &slave, name, nullptr, nullptr) != 0)
        std::abort();
    fcntl(g_master, F_SETFL, fcntl(g_master, F_GETFL) | O_NONBLOCK);
    std::error_code ec;
    fs::create_symlink(name, root + "/cfg/qvar-scope/ports/com1", ec);
    setenv("XDG_CONFIG_HOME", (root + "/cfg").c_str(), 1);
    ComSetScanRoots((root + "/empty").c_str(), (root + "/empty").c_str());
    if (OpenComConfig(kPort, "", 19200, 0, 8, 1, 512, 512) != 0)
        std::abort();
    com = kPort;
    // An echo answer teaches the link this controller's frames, so the inputs
    // go through its frame check and search, not only through the plain
    // taking of any 36 bytes before an echo was seen.
    SetComTime(kPort, 1.0);
    std::thread controller([] {
        uint8_t request[36];
        size_t got = 0;
        for (int tries = 0; got < sizeof request && tries < 1000; ++tries) {
            pollfd p{g_master, POLLIN, 0};
            if (poll(&p, 1, 2) > 0) {
                const ssize_t n = read(g_master, request + got, sizeof request - got);
                got += n > 0 ? static_cast<size_t>(n) : 0;
            }
        }
        uint8_t answer[36] = {0x00, 0x55, 0x00, 0x05, 0x00, 0xAA};
        if (got == sizeof request && write(g_master, answer, sizeof answer) != sizeof answer)
            std::abort();
    });
    const int echo = CheckComLine(kPort);
    controller.join();
    if (echo != 1)
        std::abort();
    SetComTime(kPort, 0.0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    qvar_fuzz::Input in(data, size);
    qvar::sim::Controller controller(1);
    controller.set_paced(false);
    char buf[600];
    double now = 0;
    while (!in.empty()) {
        switch (in.byte() % 7) {
        case 0: {   // bytes on the line
            const std::string chunk = in.piece(200);
            if (!chunk.empty() && write(g_master, chunk.data(), chunk.size()) < 0)
                Drain();
            controller.host_write(reinterpret_cast<const uint8_t *>(chunk.data()), chunk.size(), now += 0.001);
            break;
        }
        case 1:
            ComRd(kPort, buf, in.byte() % (sizeof buf));
            break;
        case 2:
            GetInQLen(kPort);
            break;
        case 3:
            FlushInQ(kPort);
            break;
        case 4: {
            const std::string out = in.piece(36);
            ComWrt(kPort, out.data(), static_cast<int>(out.size()));
            Drain();
            break;
        }
        case 5: {   // the link's receive callback, from the pump
            InstallComCallback(kPort, COM_EV_RECEIVE, in.byte() % 64 + 1, 0x55, RX_Receive_Function, nullptr);
            qvar::pump::Inside inside;
            qvar::pump::serial_deliver();
            break;
        }
        default: {
            uint8_t answer[256];
            while (controller.host_read(answer, sizeof answer, now) > 0) {
            }
            break;
        }
        }
    }
    InstallComCallback(kPort, 0, 36, 0x55, nullptr, nullptr);
    FlushInQ(kPort);
    return 0;
}
