// clock.cpp - Timer() and Delay() on the monotonic clock.
//
// Timer() is read thousands of times a second by the polling loops, so it is
// a plain steady_clock read; the epoch is the first call, which keeps the
// doubles small and their resolution at well under a microsecond.
#include "platform/clock.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <ctime>
#include <sys/prctl.h>

namespace {
using Clock = std::chrono::steady_clock;

Clock::time_point epoch()
{
    static const Clock::time_point t0 = Clock::now();
    return t0;
}
} // namespace

double Timer(void)
{
    const Clock::time_point t0 = epoch();
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// The slack is a per-thread setting. A polling loop sleeps to its answer's
// last byte on every exchange, and 50 us of slack there, each time, was a
// fifth of a percent of the line's rate.
void PreciseWakeups(void)
{
    thread_local bool done = false;
    if (!done) {
        ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        done = true;
    }
}

void Delay(double seconds)
{
    if (!(seconds > 0.0))   // also rejects NaN
        return;
    PreciseWakeups();
    timespec until{};
    clock_gettime(CLOCK_MONOTONIC, &until);
    const double whole = std::floor(seconds);
    until.tv_sec += static_cast<time_t>(whole);
    until.tv_nsec += static_cast<long>((seconds - whole) * 1e9);
    if (until.tv_nsec >= 1000000000L) {
        until.tv_sec += 1;
        until.tv_nsec -= 1000000000L;
    }
    // An absolute deadline makes a signal-interrupted sleep resume without
    // drifting; nothing here touches the event pump.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}
