// Serial service: port numbering against fake /dev and /sys trees (pinned links,
// adapter order, UART evidence, console guard), and pseudo-terminals: queue,
// time-outs, pump-only callbacks, flushes, exclusivity, injected faults.
#include "platform/ui/pump.h"
#include "platform/serial/serial.h"
#include "platform/serial/sysio.h"
#include "platform/ui/ui.h"
#include "tests/support/port_sandbox.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using qvar::sysio::Call;

namespace {

double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

std::string pattern(int n, int first = 0)
{
    std::string s;
    for (int i = 0; i < n; ++i)
        s.push_back(static_cast<char>(first + i));
    return s;
}

struct Recorder {
    bool takeFrame = false;       // behave like the link: read 36, flush the rest
    bool closeOwnPort = false;
    std::vector<int> events{};
    std::vector<std::string> frames{};
    std::vector<Clock::time_point> frameTimes{};
};

void record(int port, int events, void *data)
{
    auto *r = static_cast<Recorder *>(data);
    r->events.push_back(events);
    if (r->closeOwnPort) {
        CloseCom(port);
        return;
    }
    if (r->takeFrame && (events & COM_EV_RECEIVE)) {
        char buf[36];
        int n = ComRd(port, buf, 36);
        r->frames.emplace_back(buf, n > 0 ? static_cast<size_t>(n) : 0u);
        r->frameTimes.push_back(Clock::now());
        FlushInQ(port);
    }
}

// Runs the event pump the way the program does, until `done` or `secs`.
template <typename Pred>
bool pump_until(Pred done, double secs, bool serialDeliver = true)
{
    const auto t0 = Clock::now();
    qvar::pump::Inside inside;
    while (!done()) {
        if (since(t0) > secs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (serialDeliver)
            qvar::pump::serial_deliver();
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class PortNumbering : public qvar_test::PortSandbox {
protected:
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

    // number -> description, after a fresh scan of the fake tree.
    std::map<int, std::string> scan()
    {
        rescan();
        return described();
    }
};

class SerialPty : public qvar_test::PortSandbox {
protected:
    void SetUp() override
    {
        PortSandbox::SetUp();
        ASSERT_FALSE(pty_.path.empty());
        pin(1);
        rescan();
    }

    void pin(int number) { PortSandbox::pin(number, pty_.path); }

    void feed(const std::string &bytes)
    {
        ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // What the far end received within `secs`.
    std::string far_end(size_t want, double secs)
    {
        std::string got;
        const auto t0 = Clock::now();
        while (got.size() < want && since(t0) < secs) {
            struct pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 20) > 0) {
                char buf[256];
                ssize_t n = read(master_, buf, sizeof buf);
                if (n > 0)
                    got.append(buf, static_cast<size_t>(n));
            }
        }
        return got;
    }

    // The pty hands bytes over asynchronously; wait until the queue shows n.
    static int wait_queue(int port, int n, double secs = 1.0)
    {
        const auto t0 = Clock::now();
        int len = GetInQLen(port);
        while (len >= 0 && len < n && since(t0) < secs) {
            std::this_thread::sleep_for(2ms);
            len = GetInQLen(port);
        }
        return len;
    }

    qvar_test::Pty pty_;
    const int master_ = pty_.master;
    const int slave_ = pty_.slave;
};

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
    // ttyUSB2's USB device names its product two folders above the port.
    sysfile("devices/usb1/1-1/product", "FT232R USB UART\n");
    fs::create_directories(root_ / "sys/devices/usb1/1-1/1-1:1.0/ttyUSB2");
    fs::create_directories(root_ / "sys/class/tty/ttyUSB2");
    fs::create_symlink("../../../devices/usb1/1-1/1-1:1.0/ttyUSB2", root_ / "sys/class/tty/ttyUSB2/device");

    auto ports = scan();
    std::map<int, std::string> expected{
        {1, "USB serial adapter ttyUSB0"}, {2, "USB serial FT232R USB UART (ttyUSB2)"},
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
    EXPECT_EQ(open_port(4), COM_ERR_NO_PORT);
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
    // The simulated controller comes right after the devices found, so a
    // program pinning a high number does not move it.
    std::map<int, std::string> expected{
        {1, "USB serial adapter ttyUSB1"}, {2, "USB serial adapter ttyUSB0"},
        {3, "USB ACM adapter ttyACM0"}, {4, "simulated controller"},
        {9, "pinned to /nonexistent/qvar-pinned (missing)"},
        {12, ("pinned to /nonexistent/" + std::string(200, 'd')).substr(0, sizeof(ComPortInfo::description) - 1)}};
    EXPECT_EQ(ports, expected);
    EXPECT_EQ(ComSimulatedPort(), 4);

    std::vector<ComPortInfo> list(8);
    ASSERT_EQ(GetComPortList(list.data(), 8), 6);
    EXPECT_EQ(list[0].pinned, 1);
    EXPECT_EQ(list[1].pinned, 0);
    EXPECT_EQ(list[3].simulated, 1);
    EXPECT_STREQ(list[3].device, "");
    EXPECT_EQ(list[0].missing, 0);
    EXPECT_EQ(list[4].missing, 1);

    // A pinned target that is missing exists as a number but cannot be opened.
    EXPECT_EQ(open_port(9), COM_ERR_CANNOT_OPEN);
    EXPECT_EQ(open_port(5), COM_ERR_NO_PORT);
    EXPECT_EQ(open_port(0), COM_ERR_PORT_NUMBER);
    EXPECT_EQ(open_port(256), COM_ERR_PORT_NUMBER);
}

TEST_F(SerialPty, QueueKeepsOrderAcrossWrapAndStopsAtItsSize)
{
    ASSERT_EQ(open_port(1, 16), 0);
    ASSERT_EQ(SetComTime(1, 0.5), 0);
    feed(pattern(40));
    EXPECT_EQ(wait_queue(1, 16), 16);
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(GetInQLen(1), 16);

    char buf[64] = {};
    ASSERT_EQ(ComRd(1, buf, 10), 10);
    EXPECT_EQ(std::string(buf, 10), pattern(10));
    EXPECT_EQ(GetInQLen(1), 16);                  // refilled from the kernel, wrapping
    ASSERT_EQ(ComRd(1, buf, 30), 30);             // more than the queue holds
    EXPECT_EQ(std::string(buf, 30), pattern(30, 10));
    EXPECT_EQ(GetInQLen(1), 0);
    EXPECT_EQ(ComRd(1, buf, 0), 0);
}

TEST_F(SerialPty, ComRdWaitsForBytesUntilTheTimeOut)
{
    ASSERT_EQ(open_port(), 0);
    ASSERT_EQ(SetComTime(1, 0.3), 0);
    char buf[64];

    for (int fed : {10, 0}) {                     // some bytes, then a silent line
        feed(pattern(fed));
        const auto t0 = Clock::now();
        EXPECT_EQ(ComRd(1, buf, 36), fed);
        EXPECT_NEAR(since(t0), 0.3, 0.15);
    }

    ASSERT_EQ(SetComTime(1, 2.0), 0);
    std::thread late([this] {
        std::this_thread::sleep_for(100ms);
        feed(pattern(20));
        std::this_thread::sleep_for(50ms);
        feed(pattern(16, 20));
    });
    const auto t0 = Clock::now();
    EXPECT_EQ(ComRd(1, buf, 36), 36);
    double took = since(t0);
    late.join();
    EXPECT_GT(took, 0.12);
    EXPECT_LT(took, 1.0);
    EXPECT_EQ(std::string(buf, 36), pattern(36));

    EXPECT_EQ(SetComTime(1, -1.0), COM_ERR_PARAMETER);
    EXPECT_EQ(SetComTime(1, std::nan("")), COM_ERR_PARAMETER);
}

TEST_F(SerialPty, WritesReachTheLineAndFlushesDiscardBothSides)
{
    ASSERT_EQ(open_port(), 0);
    EXPECT_EQ(ComWrt(1, pattern(36, 1).data(), 36), 36);
    EXPECT_EQ(far_end(36, 1.0), pattern(36, 1));
    EXPECT_EQ(ComWrt(1, nullptr, 4), COM_ERR_PARAMETER);
    EXPECT_EQ(ComWrt(1, "x", -1), COM_ERR_PARAMETER);

    feed(pattern(10));
    EXPECT_EQ(wait_queue(1, 10), 10);             // in the service's queue
    feed(pattern(5));
    std::this_thread::sleep_for(50ms);            // in the kernel's
    EXPECT_EQ(FlushInQ(1), 0);
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(GetInQLen(1), 0);

    EXPECT_EQ(FlushOutQ(1), 0);
}

TEST_F(SerialPty, LineIsRawWithoutHandshakeAndTakesItsFraming)
{
    ASSERT_EQ(open_port(), 0);
    struct termios t;
    ASSERT_EQ(tcgetattr(slave_, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B19200));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);

    for (int cts : {1, 0}) {
        EXPECT_EQ(SetCTSMode(1, cts), 0);
        ASSERT_EQ(tcgetattr(slave_, &t), 0);
        EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, cts == 1);
    }
    EXPECT_EQ(SetCTSMode(1, 2), COM_ERR_PARAMETER);

    // A pty keeps 8 bits without parity whatever it is told, so the framing
    // is checked where it leaves the service.
    static struct termios sent;
    qvar::sysio::table().tcsetattr = [](int, int, const struct termios *t) {
        sent = *t;
        return 0;
    };
    ASSERT_EQ(OpenComConfig(1, "", 9600, 1, 7, 2, 64, 64), 0);
    EXPECT_EQ(cfgetospeed(&sent), static_cast<speed_t>(B9600));
    EXPECT_EQ(sent.c_cflag & (CSIZE | PARENB | PARODD | CSTOPB),
              static_cast<tcflag_t>(CS7 | PARENB | PARODD | CSTOPB));
    ASSERT_EQ(OpenComConfig(1, "", 19200, 2, 5, 1, 64, 64), 0);
    EXPECT_EQ(sent.c_cflag & (CSIZE | PARENB | PARODD | CSTOPB), static_cast<tcflag_t>(CS5 | PARENB));
}

TEST_F(SerialPty, ReceiveCallbackRunsOnlyFromThePumpOnceTheCountIsQueued)
{
    Recorder rec{.takeFrame = true};
    ASSERT_EQ(open_port(), 0);
    ASSERT_EQ(InstallComCallback(1, COM_EV_RECEIVE, 36, 0x55, record, &rec), 0);

    feed(pattern(20, 100));
    std::this_thread::sleep_for(30ms);
    QCoreApplication::processEvents();            // outside the pump: the notifier only queues
    EXPECT_EQ(qvar::pump::serial_deliver(), 0);
    EXPECT_FALSE(pump_until([&] { return !rec.events.empty(); }, 0.1));   // 20 < 36

    feed(pattern(16, 120));
    std::this_thread::sleep_for(30ms);
    {
        qvar::pump::Inside inside;                // even inside the pump, direct calls never call back
        EXPECT_EQ(GetInQLen(1), 36);
        char none[1];
        EXPECT_EQ(SetComTime(1, 0.05), 0);
        EXPECT_EQ(ComRd(1, none, 0), 0);
        EXPECT_TRUE(rec.events.empty());
        EXPECT_EQ(qvar::pump::serial_deliver(), 1);
        EXPECT_EQ(qvar::pump::serial_deliver(), 0);   // once per arrival, not per pump
    }
    ASSERT_EQ(rec.events, std::vector<int>{COM_EV_RECEIVE});
    ASSERT_EQ(rec.frames.size(), 1u);
    EXPECT_EQ(rec.frames[0], pattern(36, 100));

    // Re-armed once the queue fell below the count; this time through the
    // notifier alone, with 4 surplus bytes that the callback flushes.
    feed(pattern(40, 1));
    EXPECT_TRUE(pump_until([&] { return rec.events.size() == 2; }, 1.0, false));
    ASSERT_EQ(rec.frames.size(), 2u);
    EXPECT_EQ(rec.frames[1], pattern(36, 1));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(GetInQLen(1), 0);
}

TEST_F(SerialPty, RemovedCallbackStaysSilentAndStaleArrivalsAreNotDelivered)
{
    Recorder rec{.takeFrame = true};
    ASSERT_EQ(open_port(), 0);
    ASSERT_EQ(InstallComCallback(1, 0x8006, 36, 0x55, record, &rec), 0);
    ASSERT_EQ(InstallComCallback(1, 0, 36, 0x55, nullptr, nullptr), 0);

    feed(pattern(36, 0x56));
    EXPECT_FALSE(pump_until([&] { return !rec.events.empty(); }, 0.15));
    EXPECT_EQ(GetInQLen(1), 36);                  // left for a direct read

    // Re-installed over a full frame that is read directly before any pump:
    // the bytes are gone, and a callback reading 36 would wait out the time-out.
    ASSERT_EQ(InstallComCallback(1, COM_EV_RECEIVE, 36, 0x55, record, &rec), 0);
    char frame[36];
    ASSERT_EQ(ComRd(1, frame, 36), 36);
    EXPECT_FALSE(pump_until([&] { return !rec.events.empty(); }, 0.1));

    // A callback installed over bytes already queued is due at the next pump.
    feed(pattern(36, 0x56));
    EXPECT_EQ(wait_queue(1, 36), 36);
    ASSERT_EQ(InstallComCallback(1, COM_EV_RECEIVE, 36, 0x55, record, &rec), 0);
    EXPECT_TRUE(pump_until([&] { return !rec.events.empty(); }, 0.5));
    EXPECT_EQ(rec.events, std::vector<int>{COM_EV_RECEIVE});
}

TEST_F(SerialPty, EventCharacterAndOutputEmptyEventsAndTheirArguments)
{
    Recorder rec;
    ASSERT_EQ(open_port(1, 64), 0);
    EXPECT_EQ(InstallComCallback(1, COM_EV_RXFLAG, 36, 300, record, &rec), COM_ERR_PARAMETER);
    EXPECT_EQ(InstallComCallback(1, COM_EV_RECEIVE, 0, 0x55, record, &rec), COM_ERR_PARAMETER);
    EXPECT_EQ(InstallComCallback(1, COM_EV_RECEIVE, 65, 0x55, record, &rec), COM_ERR_PARAMETER);
    ASSERT_EQ(InstallComCallback(1, COM_EV_RXFLAG | COM_EV_TXEMPTY, 36, 0x55, record, &rec), 0);

    feed(std::string("\x01\x02", 2));
    EXPECT_FALSE(pump_until([&] { return !rec.events.empty(); }, 0.1));
    feed(std::string("\x03\x55", 2));
    ASSERT_TRUE(pump_until([&] { return !rec.events.empty(); }, 1.0));
    EXPECT_EQ(rec.events[0], COM_EV_RXFLAG);

    rec.events.clear();
    ASSERT_EQ(ComWrt(1, "abcd", 4), 4);
    ASSERT_TRUE(pump_until([&] { return !rec.events.empty(); }, 1.0));
    EXPECT_EQ(rec.events[0], COM_EV_TXEMPTY);
}

TEST_F(SerialPty, FullQueueDoesNotSpinTheEventLoop)
{
    Recorder rec;                                  // waits for a character that never comes
    ASSERT_EQ(open_port(1, 16), 0);
    ASSERT_EQ(InstallComCallback(1, COM_EV_RXFLAG, 1, 0xFF, record, &rec), 0);
    feed(pattern(40));
    std::this_thread::sleep_for(30ms);
    const std::clock_t cpu0 = std::clock();
    {
        qvar::pump::Inside inside;
        QEventLoop loop;
        QTimer::singleShot(300, &loop, &QEventLoop::quit);
        loop.exec();
    }
    const double cpu = double(std::clock() - cpu0) / CLOCKS_PER_SEC;
    EXPECT_LT(cpu, 0.03);                         // a spinning notifier burns all of it
    EXPECT_EQ(GetInQLen(1), 16);
    EXPECT_TRUE(rec.events.empty());
}

TEST_F(SerialPty, CallbackMayCloseItsOwnPort)
{
    Recorder rec{.closeOwnPort = true};
    ASSERT_EQ(open_port(), 0);
    ASSERT_EQ(InstallComCallback(1, COM_EV_RECEIVE, 4, 0, record, &rec), 0);
    feed(pattern(8));
    EXPECT_TRUE(pump_until([&] { return !rec.events.empty(); }, 1.0, false));
    EXPECT_EQ(GetInQLen(1), COM_ERR_NOT_OPEN);
    feed(pattern(8));
    pump_until([] { return false; }, 0.05);      // the retired notifier must not fire
    EXPECT_EQ(rec.events.size(), 1u);
}

TEST_F(SerialPty, OpenCloseRulesAndExclusiveUse)
{
    EXPECT_EQ(CloseCom(1), COM_ERR_NOT_OPEN);
    EXPECT_EQ(CloseCom(0), COM_ERR_PORT_NUMBER);
    EXPECT_EQ(CloseCom(COM_MAX_PORT + 1), COM_ERR_PORT_NUMBER);
    char buf[4];
    EXPECT_EQ(ComRd(1, buf, 4), COM_ERR_NOT_OPEN);
    EXPECT_EQ(ComWrt(1, buf, 4), COM_ERR_NOT_OPEN);
    EXPECT_EQ(GetInQLen(1), COM_ERR_NOT_OPEN);
    EXPECT_EQ(InstallComCallback(1, 0, 0, 0, nullptr, nullptr), COM_ERR_NOT_OPEN);

    // baud, parity, data bits, stop bits, input and output queue sizes
    for (auto [baud, par, bits, stop, inQ, outQ] :
         {std::array{12345, 0, 8, 1, 64, 64}, {19200, 3, 8, 1, 64, 64}, {19200, 0, 4, 1, 64, 64},
          {19200, 0, 9, 1, 64, 64}, {19200, 0, 8, 0, 64, 64}, {19200, 0, 8, 3, 64, 64},
          {19200, 0, 8, 1, 0, 64}, {19200, 0, 8, 1, 64, -1}})
        EXPECT_EQ(OpenComConfig(1, "", baud, par, bits, stop, inQ, outQ), COM_ERR_PARAMETER)
            << baud << " " << par << " " << bits << " " << stop << " " << inQ << " " << outQ;

    ASSERT_EQ(open_port(), 0);
    EXPECT_EQ(CloseCom(2), COM_ERR_NOT_OPEN);
    EXPECT_EQ(GetInQLen(1), 0);                   // a failed close touched nothing

    // Pinned after the scan: found by the re-scan of an unknown number, but
    // the device is ours already.
    pin(3);
    EXPECT_EQ(open_port(3), COM_ERR_CANNOT_OPEN);

    ASSERT_EQ(open_port(1), 0);                   // reopening an open port replaces it
    feed("abc");
    EXPECT_EQ(wait_queue(1, 3), 3);
    EXPECT_EQ(CloseCom(1), 0);
    EXPECT_EQ(CloseCom(1), COM_ERR_NOT_OPEN);
    EXPECT_EQ(open_port(3), 0);                   // the lock went with the close
}

TEST_F(SerialPty, SystemCallFailuresMapToCodesAndInterruptionsAreRetried)
{
    using namespace qvar::sysio;
    ASSERT_EQ(open_port(), 0);
    ASSERT_EQ(SetComTime(1, 1.0), 0);

    fail_nth(Call::Read, 2, EIO);                 // the second read from now
    EXPECT_EQ(GetInQLen(1), 0);
    EXPECT_EQ(GetInQLen(1), COM_ERR_IO);
    EXPECT_EQ(GetInQLen(1), 0);

    feed(pattern(5));
    std::this_thread::sleep_for(30ms);
    long reads = call_count(Call::Read);
    fail_nth(Call::Read, 1, EINTR, 2);
    EXPECT_EQ(GetInQLen(1), 5);
    EXPECT_GE(call_count(Call::Read) - reads, 3);
    char buf[8];
    ASSERT_EQ(ComRd(1, buf, 5), 5);

    fail_nth(Call::Poll, 1, EINTR);
    std::thread late([this] {
        std::this_thread::sleep_for(80ms);
        feed(pattern(4));
    });
    EXPECT_EQ(ComRd(1, buf, 4), 4);
    late.join();

    fail_nth(Call::Poll, 1, EIO);
    EXPECT_EQ(ComRd(1, buf, 4), COM_ERR_IO);
    fail_nth(Call::Write, 1, EIO);
    EXPECT_EQ(ComWrt(1, "abcd", 4), COM_ERR_IO);
    fail_nth(Call::Write, 1, EINTR);
    EXPECT_EQ(ComWrt(1, "abcd", 4), 4);
    EXPECT_EQ(far_end(4, 1.0), "abcd");

    // A failed open leaves nothing behind: the next open gets the device.
    for (Call step : {Call::Open, Call::Ioctl, Call::Flock, Call::TcGetAttr, Call::TcSetAttr}) {
        fail_nth(step, 1, step == Call::Flock ? EWOULDBLOCK : EIO);
        EXPECT_EQ(open_port(), COM_ERR_CANNOT_OPEN) << static_cast<int>(step);
        EXPECT_EQ(GetInQLen(1), COM_ERR_NOT_OPEN);
    }
    fail_nth(Call::Open, 1, EINTR);
    EXPECT_EQ(open_port(), 0);

    // A line error seen by the pump does not silence the callback for good.
    Recorder rec;
    ASSERT_EQ(InstallComCallback(1, COM_EV_RECEIVE, 4, 0, record, &rec), 0);
    fail_nth(Call::Read, 1, EIO);
    feed(pattern(4));
    EXPECT_TRUE(pump_until([&] { return !rec.events.empty(); }, 1.0));
}

// A controller's answer comes a byte at a time; waking the program for each
// of them was most of what a running scope cost. The frame's callback must
// still come with its last byte, and the event character still be reported.
TEST_F(SerialPty, PacedAnswerWakesTheProgramAFewTimesAFrameYetIsTakenWithItsLastByte)
{
    Recorder rec{.takeFrame = true};
    ASSERT_EQ(open_port(), 0);
    ASSERT_EQ(InstallComCallback(1, COM_EV_RECEIVE | COM_EV_RXFLAG, 36, 0x55, record, &rec), 0);

    constexpr int kFrames = 14;
    std::string frame = pattern(36, 60);
    frame[1] = 0x55;
    std::vector<Clock::time_point> lastByte(kFrames);
    std::thread line([&] {
        const auto byte = std::chrono::duration<double>(10.0 / 19200.0);
        auto t = Clock::now();
        for (int f = 0; f < kFrames; ++f) {
            t += 20ms;   // the request's time on the line
            for (char c : frame) {
                std::this_thread::sleep_until(t);
                if (write(master_, &c, 1) != 1)
                    return;
                t += std::chrono::duration_cast<Clock::duration>(byte);
            }
            lastByte[static_cast<size_t>(f)] = Clock::now();
        }
    });
    // The line is told paced by the first frames; count from the fourth on.
    rusage r0{};
    const auto t0 = Clock::now();
    while (rec.frames.size() < static_cast<size_t>(kFrames) && since(t0) < 5.0) {
        ProcessSystemEvents();
        if (rec.frames.size() == 3 && r0.ru_nvcsw == 0)
            getrusage(RUSAGE_THREAD, &r0);
    }
    rusage r1{};
    getrusage(RUSAGE_THREAD, &r1);
    line.join();

    ASSERT_EQ(rec.frames.size(), static_cast<size_t>(kFrames));
    for (const std::string &f : rec.frames)
        EXPECT_EQ(f, frame);
    EXPECT_GE(std::count_if(rec.events.begin(), rec.events.end(), [](int e) { return e & COM_EV_RXFLAG; }), kFrames);
    // Waking once a byte takes 36 sleeps a frame. A rest ended by a timer of
    // whole milliseconds left two or three bytes to wake the program one by
    // one, over nine sleeps a frame with this loop's own; ending it between
    // the last two bytes takes about seven. A loaded machine that hands over
    // bytes in bunches only sleeps less.
    const double perFrame = double(r1.ru_nvcsw - r0.ru_nvcsw) / (kFrames - 3);
    EXPECT_LT(perFrame, 8.5);
    std::vector<double> late;
    for (size_t f = 0; f < lastByte.size(); ++f)
        late.push_back(std::chrono::duration<double>(rec.frameTimes[f] - lastByte[f]).count());
    std::sort(late.begin(), late.end());
    EXPECT_LT(late[late.size() / 2], 0.002);
    EXPECT_LT(late[late.size() * 9 / 10], 0.010);
}

TEST_F(SerialPty, SimulatedControllerAnswersThroughItsArrivalTimer)
{
    // The pinned pty holds number 1, so the simulated controller is 2.
    const int sim = ComSimulatedPort();
    ASSERT_EQ(sim, 2);
    Recorder rec{.takeFrame = true};
    ASSERT_EQ(open_port(sim), 0);
    ASSERT_EQ(InstallComCallback(sim, 0x8006, 36, 0x55, record, &rec), 0);
    std::string echo(36, '\0');
    echo[1] = 0x55;
    echo[3] = 5;
    ASSERT_EQ(ComWrt(sim, echo.data(), 36), 36);
    // No serial_deliver here: only the timer aimed at the next byte can bring it.
    ASSERT_TRUE(pump_until([&] { return !rec.frames.empty(); }, 1.0, false));
    ASSERT_EQ(rec.frames[0].size(), 36u);
    EXPECT_EQ(rec.frames[0][4], 0x00);
    EXPECT_EQ(static_cast<uint8_t>(rec.frames[0][5]), 0xAA);
}

} // namespace
