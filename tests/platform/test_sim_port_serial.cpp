// The simulated controller behind a port: its backend in real time, the serial
// service on the built-in port, and qvar-sim on a pty through the termios backend.
#include "platform/clock.h"
#include "platform/ui/ui.h"
#include "platform/serial/serial.h"
#include "platform/serial/serial_backend.h"
#include "platform/serial/serial_sim.h"
#include "sim/controller.h"
#include "tests/support/port_sandbox.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace qvar;

namespace {

std::string frame(uint16_t order)
{
    std::string f(sim::kFrameBytes, '\0');
    f[1] = 0x55;
    f[3] = static_cast<char>(order);
    return f;
}

uint16_t word0(const char *answer)
{
    return static_cast<uint16_t>(static_cast<uint8_t>(answer[4]) << 8 | static_cast<uint8_t>(answer[5]));
}

// Every test gets empty device and sysfs folders and a config folder of its
// own, so the port scan sees nothing of the machine's real ports. The
// built-in controller lives for the whole program and starts each test from
// the same state.
class SimSerial : public qvar_test::PortSandbox {
protected:
    void SetUp() override
    {
        PortSandbox::SetUp();
        c = ComSimController();
        c->faults = {};
        c->set_paced(true);
        c->set_seed(1);
        c->factory_reset();
        c->reset_counters();
    }

    void TearDown() override
    {
        if (opened > 0)
            CloseCom(opened);
        c->faults = {};
        PortSandbox::TearDown();
    }

    int open_port(int number)
    {
        const int r = OpenComConfig(number, "", 19200, 0, 8, 1, 4096, 4096);
        if (r >= 0)
            opened = number;
        return r;
    }

    // One echo exchange through `number`: the answer's first word, or -1.
    int echo_through(int number, double *took = nullptr)
    {
        rescan();   // the pin is newer than the scan
        if (open_port(number) < 0)
            return -1;
        SetComTime(number, 2.0);
        const std::string req = frame(ORDER_ECHO);
        const double t0 = Timer();
        char answer[36];
        const bool ok = ComWrt(number, req.data(), 36) == 36 && ComRd(number, answer, 36) == 36;
        if (took)
            *took = Timer() - t0;
        CloseCom(number);
        opened = 0;
        return ok ? word0(answer) : -1;
    }

    sim::Controller *c = nullptr;
    int opened = 0;
};

// The backend alone, below the serial service.
class SimBackend : public SimSerial {
protected:
    void SetUp() override
    {
        SimSerial::SetUp();
        int code = 1;
        port = serial::open_sim(&code);
        ASSERT_EQ(code, 0);
        ASSERT_NE(port, nullptr);
    }

    void send(uint16_t order)
    {
        const std::string req = frame(order);
        ASSERT_EQ(port->send(reinterpret_cast<const uint8_t *>(req.data()), req.size()), 36);
    }

    // Reads until `want` bytes are in or `limit` seconds have passed, sleeping
    // in the backend's own wait.
    std::vector<uint8_t> read_for(size_t want, double limit)
    {
        std::vector<uint8_t> got;
        const double end = Timer() + limit;
        while (got.size() < want && Timer() < end) {
            uint8_t buf[256];
            const int n = port->receive(buf, sizeof buf);
            EXPECT_GE(n, 0);
            if (n > 0)
                got.insert(got.end(), buf, buf + n);
            else
                port->wait_readable(end - Timer());
        }
        return got;
    }

    std::unique_ptr<serial::Backend> port;
};

int g_calls = 0;
int g_mask = 0;
int g_queued = 0;

void on_receive(int port, int mask, void *)
{
    ++g_calls;
    g_mask = mask;
    g_queued = GetInQLen(port);
}

} // namespace

TEST_F(SimBackend, WaitAndReadKeepTheLineTime)
{
    double t0 = Timer();
    EXPECT_EQ(port->wait_readable(0.05), 0);     // nothing under way: the whole time-out
    EXPECT_GE(Timer() - t0, 0.0499);
    EXPECT_LT(Timer() - t0, 0.08);

    t0 = Timer();
    send(ORDER_ECHO);
    EXPECT_GT(port->output_pending(), 30);
    EXPECT_GT(port->next_arrival(), t0 + 0.018);
    EXPECT_EQ(port->wait_readable(2.0), 0);
    // The first answer byte: 36 request bytes, turnaround, one byte.
    EXPECT_GE(Timer() - t0, 37.0 / 1920 + 0.0002 - 1e-4);
    EXPECT_LT(Timer() - t0, 37.0 / 1920 + 0.02);
    const auto answer = read_for(36, 1.0);
    const double took = Timer() - t0;
    ASSERT_EQ(answer.size(), 36u);
    EXPECT_EQ(answer[5], 0xAA);
    // Never before the line could have carried it; late only by scheduling.
    EXPECT_GE(took, 0.0376);
    EXPECT_LT(took, 0.06);
    EXPECT_EQ(port->output_pending(), 0);
    EXPECT_EQ(c->requests(ORDER_ECHO), 1u);
}

TEST_F(SimBackend, ReopeningClearsTheLineButKeepsTheMemory)
{
    sim::Block b = sim::Controller::factory_block(0);
    b[PB_REF] = 777;
    c->set_ram(0, b);
    send(ORDER_FIRMWARE);
    int code = 1;
    auto again = serial::open_sim(&code);
    ASSERT_EQ(code, 0);
    EXPECT_EQ(ComSimController(), c);
    EXPECT_EQ(again->next_arrival(), std::numeric_limits<double>::infinity());
    EXPECT_EQ(c->ram(0)[PB_REF], 777);
}

TEST_F(SimBackend, VanishedDeviceFailsEveryCall)
{
    c->faults.disconnect = sim::Faults::Disconnect::vanished;
    uint8_t buf[8] = {};
    EXPECT_EQ(port->send(buf, sizeof buf), COM_ERR_IO);
    EXPECT_EQ(port->receive(buf, sizeof buf), COM_ERR_IO);
    EXPECT_EQ(port->wait_readable(0.01), COM_ERR_IO);
    int code = 0;
    EXPECT_EQ(serial::open_sim(&code), nullptr);
    EXPECT_EQ(code, COM_ERR_CANNOT_OPEN);
}

TEST_F(SimSerial, BuiltInPortFillsItsQueueAtLineRate)
{
    const int sim = ComSimulatedPort();
    ASSERT_GE(sim, 1);
    ASSERT_GE(open_port(sim), 0);
    const std::string req = frame(ORDER_ECHO);
    const double t0 = Timer();
    ASSERT_EQ(ComWrt(sim, req.data(), 36), 36);
    Delay(0.028);
    // The answer's first byte is in 37 byte times plus the turnaround.
    const double before = Timer() - t0;
    const int midway = GetInQLen(sim);
    const double after = Timer() - t0;
    EXPECT_GE(midway, std::min(36, static_cast<int>((before - 0.0002) * 1920) - 37));
    EXPECT_LE(midway, static_cast<int>((after - 0.0002) * 1920) - 35);
    EXPECT_GT(midway, 0);
    char answer[36];
    ASSERT_EQ(ComRd(sim, answer, 36), 36);
    EXPECT_GE(Timer() - t0, 0.0376);
    EXPECT_LT(Timer() - t0, 0.06);
    EXPECT_EQ(word0(answer), 0x00AA);
}

TEST_F(SimSerial, BuiltInPortFollowsItsControllerFromPacedToUnpaced)
{
    // Once unpaced, the answer comes before the request could have crossed a
    // real line; the port must not take it for an early stray and lose it.
    const int sim = ComSimulatedPort();
    ASSERT_GE(open_port(sim), 0);
    ASSERT_EQ(SetComTime(sim, 0.5), 0);
    const std::string req = frame(ORDER_ECHO);
    char answer[36];
    for (bool paced : {true, false, true}) {
        SCOPED_TRACE(paced ? "paced" : "unpaced");
        c->set_paced(paced);
        for (int i = 0; i < 3; i++) {
            ASSERT_EQ(ComWrt(sim, req.data(), 36), 36);
            ASSERT_EQ(ComRd(sim, answer, 36), 36);
            EXPECT_EQ(word0(answer), 0x00AA);
        }
    }
    EXPECT_EQ(ComDroppedBytes(sim), 0);
}

// The program's own wait: pump, sleeping towards a deadline, until called.
void pump_until_called(double seconds)
{
    const double end = Timer() + seconds;
    while (g_calls == 0 && Timer() < end) {
        SetWaitDeadline(end);
        ProcessSystemEvents();
    }
}

TEST_F(SimSerial, OutputEmptyComesWithTheAnswerYetNeverLateOnASilentLine)
{
    const int sim = ComSimulatedPort();
    ASSERT_GE(open_port(sim), 0);
    const int both = COM_EV_RECEIVE | COM_EV_TXEMPTY;
    ASSERT_EQ(InstallComCallback(sim, both, 36, 0x55, on_receive, nullptr), 0);
    const std::string req = frame(ORDER_LIVE_VALUES);
    for (int round = 0; round < 3; ++round) {
        g_calls = g_mask = 0;
        FlushInQ(sim);
        ComWrt(sim, req.data(), 36);
        pump_until_called(0.5);
        // The request left 19 ms before its answer was complete: one call
        // reports both, where a wake-up of its own would make two.
        EXPECT_EQ(g_mask, both) << "round " << round;
        EXPECT_EQ(g_calls, 1) << "round " << round;
    }

    c->faults.silent = true;
    g_calls = g_mask = 0;
    FlushInQ(sim);
    const double t0 = Timer();
    ComWrt(sim, req.data(), 36);
    pump_until_called(0.5);
    EXPECT_EQ(g_mask, COM_EV_TXEMPTY);
    // 19 ms on the wire and 20 ms of grace; the rest is room for a loaded machine.
    EXPECT_GE(Timer() - t0, 0.018);
    EXPECT_LT(Timer() - t0, 0.2);
}

namespace {

// Starts qvar-sim with the test's environment and waits for its first line.
bool start_sim(qvar_test::Child &p, std::vector<std::string> args)
{
    args.insert(args.begin(), qvar_test::Beside("qvar-sim"));
    return qvar_test::Spawn(p, std::move(args)) && qvar_test::ReadFirstLine(p, 5.0);
}

int run_sim(std::vector<std::string> args)
{
    qvar_test::Child p;
    start_sim(p, std::move(args));
    return p.pid > 0 ? p.Wait() : -1;
}

} // namespace

TEST_F(SimSerial, QvarSimFaultOptionsAndBadArguments)
{
    if (!fs::exists(qvar_test::Beside("qvar-sim")))
        GTEST_SKIP() << "qvar-sim is not built beside the tests";
    qvar_test::Child sim;
    ASSERT_TRUE(start_sim(sim, {"--port", "9", "--unpaced", "--echo", "0x01AA"}));
    EXPECT_EQ(echo_through(9), 0x01AA);
    EXPECT_EQ(sim.Terminate(), 0);

    EXPECT_EQ(run_sim({"--split", "0"}), 2);
    EXPECT_EQ(run_sim({"--firmware", "green"}), 2);
    EXPECT_EQ(run_sim({"--port"}), 2);
    EXPECT_EQ(run_sim({"--help"}), 0);
}
