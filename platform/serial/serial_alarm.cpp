// serial_alarm.cpp - the alarm on a timerfd watched by a socket notifier.
#include "platform/serial/serial_alarm.h"

#include "platform/clock.h"

#include <QSocketNotifier>
#include <QTimer>

#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace qvar::serial {

Alarm::Alarm(std::function<void()> fire) : fire_(std::move(fire))
{
    fallback_ = new QTimer(this);
    fallback_->setSingleShot(true);
    fallback_->setTimerType(Qt::PreciseTimer);
    connect(fallback_, &QTimer::timeout, this, [this] {
        armed_ = false;
        fire_();
    });
    fd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd_ >= 0) {
        notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this] { ring(); });
    }
}

Alarm::~Alarm()
{
    // The notifier goes with this object; the descriptor must outlive it.
    delete notifier_;
    if (fd_ >= 0)
        ::close(fd_);
}

void Alarm::start(double at)
{
    armed_ = true;
    const double left = at - Timer();
    // Relative to now: Timer() counts on the same monotonic clock from its own
    // epoch. A zero value would disarm the timer, so a moment already past
    // rings a nanosecond from now. Re-arming also drops a ring not yet seen.
    const double secs = std::max(left, 1e-9);
    itimerspec due{};
    due.it_value.tv_sec = static_cast<time_t>(secs);
    due.it_value.tv_nsec = std::max(1L, static_cast<long>((secs - std::floor(secs)) * 1e9));
    if (fd_ >= 0 && ::timerfd_settime(fd_, 0, &due, nullptr) == 0)
        return;
    // A rest that never ends would leave its frame unread: a coarse timer
    // is better than none.
    fallback_->start(left <= 0 ? 0 : static_cast<int>(std::ceil(left * 1000.0)));
}

void Alarm::stop()
{
    if (!armed_)
        return;   // the common case: every wake-up of the line stops the rest
    armed_ = false;
    fallback_->stop();
    if (fd_ >= 0) {
        const itimerspec off{};
        ::timerfd_settime(fd_, 0, &off, nullptr);
    }
}

void Alarm::ring()
{
    uint64_t expirations = 0;
    if (::read(fd_, &expirations, sizeof expirations) != sizeof expirations || !armed_)
        return;   // stopped or re-armed since it became readable
    armed_ = false;
    fire_();
}

} // namespace qvar::serial
