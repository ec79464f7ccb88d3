// The serial service's alarm: once, never early, cancelled by stop, and not
// rounded to Qt's whole milliseconds (what it exists for).
#include "platform/clock.h"
#include "platform/serial/serial_alarm.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using qvar::serial::Alarm;

// Runs Qt's dispatcher, sleeping in it, until `seconds` have passed.
void PumpFor(double seconds)
{
    const double until = Timer() + seconds;
    while (Timer() < until)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
}

TEST(SerialAlarm, RingsOnceAtItsMomentUnlessStoppedOrMoved)
{
    std::vector<double> rang;
    Alarm alarm([&] { rang.push_back(Timer()); });

    const double at = Timer() + 0.003;
    alarm.start(at);
    PumpFor(0.05);
    ASSERT_EQ(rang.size(), 1u);
    EXPECT_GE(rang[0], at);
    EXPECT_LT(rang[0] - at, 0.040);

    // Stopped after its moment came but before the dispatcher saw it: the
    // ring that was already pending goes with the stop.
    alarm.start(Timer() + 0.001);
    Delay(0.003);
    alarm.stop();
    PumpFor(0.02);
    EXPECT_EQ(rang.size(), 1u);

    // A new moment replaces the old one.
    alarm.start(Timer() + 0.002);
    const double later = Timer() + 0.008;
    alarm.start(later);
    PumpFor(0.05);
    ASSERT_EQ(rang.size(), 2u);
    EXPECT_GE(rang[1], later);

    // A moment already past rings at the next look.
    alarm.start(Timer() - 1.0);
    PumpFor(0.02);
    EXPECT_EQ(rang.size(), 3u);
}

// Moments 0.4 ms short of a whole millisecond away: a Qt timer would ring
// about 0.6 ms late every time. Even a loaded machine wakes at least one of
// them close to its moment.
TEST(SerialAlarm, RingsCloserThanAWholeMillisecond)
{
    double at = 0, rang = 0;
    Alarm alarm([&] { rang = Timer(); });
    std::vector<double> late;
    for (int i = 0; i < 12; ++i) {
        rang = 0;
        at = Timer() + 0.0026;
        alarm.start(at);
        const double until = at + 0.05;
        while (rang == 0 && Timer() < until)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
        ASSERT_GT(rang, 0) << i;
        late.push_back(rang - at);
    }
    EXPECT_GE(*std::min_element(late.begin(), late.end()), 0.0);
    EXPECT_LT(*std::min_element(late.begin(), late.end()), 0.0003);
}

} // namespace
