// Tests of the built-in simulated port's backend: line timing in real time, waits, flushes, a vanished device.
#include "platform/clock.h"
#include "platform/serial.h"
#include "platform/serial_backend.h"
#include "platform/serial_sim.h"
#include "sim/controller.h"

#include <gtest/gtest.h>

#include <vector>

using namespace qvar;

namespace {

std::vector<uint8_t> frame(uint16_t order, uint16_t word0 = 0)
{
    std::vector<uint8_t> f(sim::kFrameBytes, 0);
    f[1] = 0x55;
    f[2] = static_cast<uint8_t>(order >> 8);
    f[3] = static_cast<uint8_t>(order);
    f[4] = static_cast<uint8_t>(word0 >> 8);
    f[5] = static_cast<uint8_t>(word0);
    return f;
}

// The built-in controller lives for the whole test program; every test
// starts it from the same state.
class SimPort : public ::testing::Test {
protected:
    void SetUp() override
    {
        c = ComSimController();
        c->faults = {};
        c->set_paced(true);
        c->set_seed(1);
        c->factory_reset();
        c->reset_counters();
        int code = 1;
        port = serial::open_sim(&code);
        ASSERT_EQ(code, 0);
        ASSERT_NE(port, nullptr);
    }
    void TearDown() override { c->faults = {}; }

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
            if (n <= 0) {
                port->wait_readable(end - Timer());
                continue;
            }
            got.insert(got.end(), buf, buf + n);
        }
        return got;
    }

    sim::Controller *c = nullptr;
    std::unique_ptr<serial::Backend> port;
};

} // namespace

TEST_F(SimPort, EchoExchangeTakesLineTime)
{
    const auto req = frame(sim::ORDER_ECHO);
    const double t0 = Timer();
    ASSERT_EQ(port->send(req.data(), req.size()), 36);
    EXPECT_GT(port->output_pending(), 30);
    EXPECT_GT(port->next_arrival(), t0 + 0.018);
    const auto answer = read_for(36, 1.0);
    const double took = Timer() - t0;
    ASSERT_EQ(answer.size(), 36u);
    EXPECT_EQ(answer[5], 0xAA);
    // Never before the line could have carried it; late only by scheduling.
    EXPECT_GE(took, 0.0376);
    EXPECT_LT(took, 0.06);
    EXPECT_EQ(port->output_pending(), 0);
    EXPECT_EQ(c->requests(sim::ORDER_ECHO), 1u);
}

TEST_F(SimPort, WaitSleepsUntilTheNextByteOrTheTimeOut)
{
    double t0 = Timer();
    EXPECT_EQ(port->wait_readable(0.05), 0);
    EXPECT_GE(Timer() - t0, 0.0499);
    EXPECT_LT(Timer() - t0, 0.08);

    const auto req = frame(sim::ORDER_ECHO);
    t0 = Timer();
    port->send(req.data(), req.size());
    EXPECT_EQ(port->wait_readable(2.0), 0);
    // The first answer byte: 36 request bytes, turnaround, one byte.
    EXPECT_GE(Timer() - t0, 37.0 / 1920 + 0.0002 - 1e-4);
    EXPECT_LT(Timer() - t0, 37.0 / 1920 + 0.02);
    uint8_t b[64];
    EXPECT_GE(port->receive(b, sizeof b), 1);
}

TEST_F(SimPort, FlushDropsArrivedBytesOnly)
{
    const auto req = frame(sim::ORDER_FIRMWARE);
    port->send(req.data(), req.size());
    Delay(0.035);
    port->flush_input();
    const auto rest = read_for(72, 0.2);
    EXPECT_GT(rest.size(), 20u);
    EXPECT_LT(rest.size(), 72u);
    // The tail of the zero-padded text is what is left.
    EXPECT_EQ(rest.back(), 0);
}

TEST_F(SimPort, ReopeningClearsTheLineButKeepsTheMemory)
{
    sim::Block b = sim::Controller::factory_block(0);
    b[sim::W_REF] = 777;
    c->set_ram(0, b);
    const auto req = frame(sim::ORDER_FIRMWARE);
    port->send(req.data(), req.size());
    int code = 1;
    auto again = serial::open_sim(&code);
    ASSERT_EQ(code, 0);
    EXPECT_EQ(ComSimController(), c);
    EXPECT_EQ(again->next_arrival(), std::numeric_limits<double>::infinity());
    EXPECT_EQ(c->ram(0)[sim::W_REF], 777);
}

TEST_F(SimPort, VanishedDeviceFailsEveryCall)
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
