// The start exchange over a real terminal line: qvar-sim on a pseudo-terminal
// through the termios backend, and an echo answered by hand on a pty.
#define QVAR_HIDE_SYNC
#include "state/qvar.h"
#include "link/com232.h"
#include "link/protocol.h"
#include "platform/serial/serial.h"
#include "sim/controller.h"
#include "tests/support/port_sandbox.h"
#include "tests/support/program.h"
#include "ui_ids.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace qvar_test;

namespace {

// A thread playing the controller on a pty master: waits for one whole
// request frame, then calls `answer`. Stopping never waits longer than one
// poll interval, so the destructor is safe on every path.
class FarEnd {
public:
    FarEnd(int master, std::function<void(int)> answer)
        : thread_([this, master, answer] { Serve(master, answer); })
    {
    }
    ~FarEnd()
    {
        stop_ = true;
        thread_.join();
    }

private:
    void Serve(int master, const std::function<void(int)> &answer)
    {
        unsigned char request[FRAME_BYTES];
        size_t got = 0;
        while (!stop_ && got < sizeof request) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0)
                continue;
            ssize_t n = read(master, request + got, sizeof request - got);
            if (n <= 0)
                return;
            got += (size_t)n;
        }
        if (got == sizeof request)
            answer(master);
    }
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class Line : public ProgramTest {
protected:
    void TearDown() override
    {
        CloseCom(8);                              // the ports a test may leave open
        CloseCom(9);
        ProgramTest::TearDown();
    }
};

TEST_F(Line, StartExchangeThroughQvarSimOnATerminal)
{
    QProcess server;
    const std::string tty = StartQvarSim(server, 9, {"--unpaced", "--seed", "3"});
    ASSERT_EQ(0u, tty.rfind("/dev/pts/", 0)) << tty;
    ASSERT_TRUE(fs::is_symlink(PortsDir() + "/com9"));
    UsePort(9);

    qvar::sim::Controller model;                  // what qvar-sim serves
    std::string fw = model.firmware_line().substr(0, 71);
    std::vector<std::string> log = StatusLog();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ("Echo Check - Line Ok!", log[0]);
    EXPECT_EQ(fw, log.back());
    EXPECT_EQ(model.ram(0)[PB_REF], refA);
    EXPECT_EQ(model.ram(1)[PB_POWER], powerB);

    CloseCom(com);
    server.terminate();
    ASSERT_TRUE(server.waitForFinished(5000));
    EXPECT_EQ(0, server.exitCode());
    EXPECT_FALSE(fs::exists(PortsDir() + "/com9"));
}

TEST_F(Line, EchoWithForeignSyncBytesStillPasses)
{
    Pty pty;
    ASSERT_FALSE(pty.path.empty());
    fs::create_directories(PortsDir());
    fs::create_symlink(pty.path, PortsDir() + "/com8");
    IsolatePorts();

    // The far end: read the request, answer with the right data word behind
    // bytes that are neither sync nor order. The guard stops and joins it on
    // every way out of the test, a failed assertion included.
    FarEnd far(pty.master, [](int fd) {
        unsigned char answer[FRAME_BYTES] = {0xFF, 0xFF, 0x12, 0x34, 0x00, 0xAA};
        (void)!write(fd, answer, sizeof answer);
    });
    ASSERT_EQ(0, OpenComConfig(8, "", 19200, 0, 8, 1, 4096, 4096));
    SetComTime(8, 2.0);
    EXPECT_EQ(1, CheckComLine(8));
    EXPECT_EQ("Echo Check - Line Ok!", StatusLine());
    CloseCom(8);
}

} // namespace
