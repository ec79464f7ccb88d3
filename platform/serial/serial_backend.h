// serial_backend.h - what carries the bytes of one open port (platform-internal).
//
// serial.cpp owns the port table, the input queues, the time-outs and the
// receive callbacks; a backend only moves bytes. serial_posix.cpp drives a
// termios device, serial_sim.cpp the built-in simulated controller. Both
// report failures as COM_ERR_ codes of serial.h.
#pragma once

#include "platform/clock.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>

namespace qvar::serial {

class Backend {
public:
    virtual ~Backend() = default;

    // Moves up to `max` bytes that have arrived into `out`, without waiting.
    // Returns the count (0 when nothing is there) or a COM_ERR_ code.
    virtual int receive(uint8_t *out, size_t max) = 0;

    // The same, and the Timer() time at which each byte arrived into `when`.
    // A device cannot tell, so the moment of the read stands in for it; a
    // line that knows its arrival times gives them.
    virtual int receive_stamped(uint8_t *out, size_t max, double *when)
    {
        const int n = receive(out, max);
        const double now = Timer();
        for (int i = 0; i < n; ++i)
            when[i] = now;
        return n;
    }

    // Hands `count` bytes to the line. Returns the count accepted or a code.
    virtual int send(const uint8_t *data, size_t count) = 0;

    // Blocks until bytes may have arrived or `seconds` have passed; never
    // dispatches anything. Returns 0, or a code when the line failed.
    virtual int wait_readable(double seconds) = 0;

    virtual void flush_input() = 0;     // also the kernel's / line's side
    virtual void flush_output() = 0;
    virtual int  output_pending() const { return 0; }

    // For the event pump: a descriptor that becomes readable when bytes come
    // (-1 if none), or the Timer() time at which the next byte arrives
    // (infinity when nothing is under way).
    virtual int    poll_fd() const { return -1; }
    virtual double next_arrival() const { return std::numeric_limits<double>::infinity(); }
    // When `count` more bytes will have arrived (1 is next_arrival()), so a
    // waiter for a whole frame sleeps through the bytes before its last.
    virtual double arrival_of(size_t count) const
    {
        return count <= 1 ? next_arrival() : std::numeric_limits<double>::infinity();
    }
    // Whether the far end answers at the line's pace (1) or at once (0), when
    // the backend knows it; -1 leaves the service to tell it from the timing.
    virtual int pacing() const { return -1; }
};

// Opens a termios device at 19200 8N1 raw, exclusive. Returns nullptr and sets
// `*code` on failure.
std::unique_ptr<Backend> open_posix(const std::string &device, long baud, int parity,
                                    int dataBits, int stopBits, int *code);

// Opens the built-in simulated controller's port.
std::unique_ptr<Backend> open_sim(int *code);

} // namespace qvar::serial
