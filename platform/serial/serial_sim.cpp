// serial_sim.cpp - the port backend that carries bytes to and from the built-in simulated controller.
#include "platform/serial/serial_sim.h"

#include "platform/clock.h"
#include "platform/serial/serial.h"
#include "platform/serial/serial_backend.h"
#include "sim/controller.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

qvar::sim::Controller *ComSimController(void)
{
    static qvar::sim::Controller controller;
    return &controller;
}

namespace qvar::serial {
namespace {

using qvar::sim::Faults;

class SimBackend final : public Backend {
public:
    explicit SimBackend(sim::Controller &c) : c_(c) {}

    int receive(uint8_t *out, size_t max) override
    {
        if (vanished())
            return COM_ERR_IO;
        return static_cast<int>(c_.host_read(out, max, Timer()));
    }

    int receive_stamped(uint8_t *out, size_t max, double *when) override
    {
        if (vanished())
            return COM_ERR_IO;
        const double now = Timer();
        size_t k = 0;
        for (double t; k < max && (t = c_.arrival_of(k + 1)) <= now; ++k)
            when[k] = t;
        return static_cast<int>(c_.host_read(out, k, now));
    }

    // The controller says how it answers, so a switch of its pacing never
    // has to be guessed from an answer that then comes "too early".
    int pacing() const override { return c_.paced() ? 1 : 0; }

    int send(const uint8_t *data, size_t count) override
    {
        if (vanished())
            return COM_ERR_IO;
        c_.host_write(data, count, Timer());
        return static_cast<int>(count);
    }

    // Sleeps in one piece: the arrival time is known exactly, so there is
    // nothing to poll for.
    int wait_readable(double seconds) override
    {
        if (vanished())
            return COM_ERR_IO;
        const double now = Timer();
        if (c_.host_available(now) > 0 || seconds <= 0)
            return 0;
        const double until = std::min(now + seconds, c_.next_arrival());
        if (until > now)
            std::this_thread::sleep_for(std::chrono::duration<double>(until - now));
        return vanished() ? COM_ERR_IO : 0;
    }

    void flush_input() override { c_.host_flush_input(Timer()); }

    // Request bytes are handed to the model at once; what is still "on the
    // wire" cannot be called back, as with a UART's shift register.
    void flush_output() override {}

    int output_pending() const override
    {
        return static_cast<int>(c_.host_output_pending(Timer()));
    }

    double arrival_of(size_t count) const override
    {
        return vanished() ? std::numeric_limits<double>::infinity() : c_.arrival_of(count);
    }

    double next_arrival() const override
    {
        return vanished() ? std::numeric_limits<double>::infinity() : c_.next_arrival();
    }

private:
    bool vanished() const { return c_.faults.disconnect == Faults::Disconnect::vanished; }

    sim::Controller &c_;
};

} // namespace

std::unique_ptr<Backend> open_sim(int *code)
{
    sim::Controller &c = *ComSimController();
    if (c.faults.disconnect == Faults::Disconnect::vanished) {
        *code = COM_ERR_CANNOT_OPEN;
        return nullptr;
    }
    c.clear_line();
    *code = 0;
    return std::make_unique<SimBackend>(c);
}

} // namespace qvar::serial
