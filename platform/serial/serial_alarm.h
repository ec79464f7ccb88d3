// serial_alarm.h - a one-shot wake-up at a Timer() moment, to the tens of
// microseconds, delivered by the Qt dispatcher like a device's readiness.
//
// Qt's timers count whole milliseconds and the dispatcher rounds its sleep up
// to the next one, so a timer may fire a millisecond after its moment. A rest
// of the device watcher that must end between two bytes of a 19200-baud
// frame, half a millisecond apart, needs the kernel's own timer. Where that
// cannot be had, the alarm falls back to a Qt timer, which fires no earlier.
#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;
class QTimer;

namespace qvar::serial {

class Alarm : public QObject {
public:
    explicit Alarm(std::function<void()> fire);
    ~Alarm() override;
    Alarm(const Alarm &) = delete;
    Alarm &operator=(const Alarm &) = delete;

    // Fires once at `at` (a Timer() time), or at once if that has passed;
    // a later start replaces the earlier one.
    void start(double at);
    void stop();

private:
    void ring();

    std::function<void()> fire_;
    int fd_ = -1;
    bool armed_ = false;
    QSocketNotifier *notifier_ = nullptr;
    QTimer *fallback_ = nullptr;
};

} // namespace qvar::serial
