// ui_loop.cpp - the event pump: user events to program callbacks, serial
// delivery, repaint coalescing, RunUserInterface and ProcessSystemEvents.
//
// User events are queued and handed to the program only while the pump allows
// it (pump::Inside); an event raised elsewhere (a test clicking, a modal dialog
// spinning Qt) waits for the next pump. The order of a control's events is the
// order they were raised.
#include "platform/ui/ui_internal.h"
#include "platform/clock.h"
#include "platform/ui/pump.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <cmath>
#include <deque>
#include <limits>

namespace qvar::ui {
namespace {

struct Event {
    int panel, control, event, data1, data2;
};

struct LoopState {
    std::deque<Event> queue;
    std::vector<std::pair<int, int>> dirty;     // (panel, control) with a pending push
    QTimer *repaint = nullptr;                  // display-rate push of dirty controls
    QTimer *wake = nullptr;                     // bounds the pump's wait
    QTimer *arrival = nullptr;                  // wakes RunUserInterface for a simulated port
    std::vector<QEventLoop *> loops;
    int pendingQuit = 0;
    bool quitRequested = false;
    unsigned long activity = 0;                 // program calls that changed the screen
    unsigned long activityAtLastPump = 0;
    double lastFlush = -1;                      // Timer() of the last push of dirty controls
    double lastDispatch = -1;                   // Timer() of the last busy dispatcher pass
    double deadline = std::numeric_limits<double>::infinity();   // SetWaitDeadline
    unsigned long callbacksAtDeadline = 0;
    bool inSerialHook = false;
};

LoopState &st()
{
    static LoopState s;
    return s;
}

constexpr int kRepaintMs = 16;   // about the display's refresh rate
// The longest a waiting pump sleeps when nothing at all is due: a time-out
// checked by a polling loop is noticed at most this late, and a silent line
// costs a hundred wake-ups a second.
constexpr int kWaitBoundMs = 10;
// How often a busy loop lets the dispatcher look at input, timers and
// repaints: far more often than anyone can click or see.
constexpr double kBusyDispatchGap = 0.0005;

// How long a pump sleeps at most towards a loop's deadline: a safety net for
// a wake-up that never comes, not a pace.
constexpr int kDeadlineBoundMs = 1000;

// The loop's deadline, while it still holds; infinity when there is none.
double waitDeadline()
{
    LoopState &s = st();
    if (std::isfinite(s.deadline) && pump::callbacks_run() != s.callbacksAtDeadline)
        s.deadline = std::numeric_limits<double>::infinity();
    return s.deadline;
}

void deliver(const Event &e)
{
    Panel *p = findPanel(e.panel);
    if (!p)
        return;   // discarded meanwhile
    pump::note_callback();
    if (e.control == 0) {
        if (p->cb)
            p->cb(e.panel, e.event, p->cbData, e.data1, e.data2);
        return;
    }
    auto it = p->ctrls.find(e.control);
    if (it == p->ctrls.end() || !it->second->cb)
        return;
    Ctrl &c = *it->second;
    c.cb(e.panel, e.control, e.event, c.cbData, e.data1, e.data2);
}

// Runs queued events; callbacks may pump again, which continues the same queue.
int drain()
{
    int n = 0;
    while (pump::dispatch_allowed() && !st().queue.empty()) {
        const Event e = st().queue.front();
        st().queue.pop_front();
        deliver(e);
        ++n;
    }
    return n;
}

void ensureTimers()
{
    LoopState &s = st();
    if (s.repaint)
        return;
    s.repaint = new QTimer(QCoreApplication::instance());
    s.repaint->setSingleShot(true);
    s.repaint->setTimerType(Qt::PreciseTimer);
    QObject::connect(s.repaint, &QTimer::timeout, s.repaint, [] { flushDirty(); });
    s.wake = new QTimer(QCoreApplication::instance());
    s.wake->setSingleShot(true);
    s.wake->setTimerType(Qt::PreciseTimer);
    s.arrival = new QTimer(QCoreApplication::instance());
    s.arrival->setSingleShot(true);
    s.arrival->setTimerType(Qt::PreciseTimer);
}

// Receive callbacks of ports that have no socket notifier of their own (the
// simulated controller) must still run while RunUserInterface sleeps.
void armArrival()
{
    LoopState &s = st();
    const double next = pump::serial_next_arrival();
    if (!std::isfinite(next)) {
        s.arrival->stop();
        return;
    }
    const double ms = std::max(0.0, (next - Timer()) * 1000.0);
    s.arrival->start(int(std::ceil(std::min(ms, 60000.0))));
}

void serialHook()
{
    LoopState &s = st();
    if (s.loops.empty() || s.inSerialHook || !pump::dispatch_allowed())
        return;
    s.inSerialHook = true;
    pump::serial_deliver();
    drain();
    armArrival();
    s.inSerialHook = false;
}

} // namespace

void initLoop()
{
    static bool done = false;
    if (done || !QCoreApplication::instance())
        return;
    done = true;
    PreciseWakeups();
    ensureTimers();
    QObject::connect(st().arrival, &QTimer::timeout, st().arrival, [] { serialHook(); });
}

void postEvent(int panel, int control, int event, int data1, int data2)
{
    st().queue.push_back(Event{panel, control, event, data1, data2});
    drain();
}

void markDirty(int panel, Ctrl &c)
{
    if (!c.dirty) {
        c.dirty = true;
        st().dirty.emplace_back(panel, c.id);
    }
    ensureTimers();
    if (!st().repaint->isActive())
        st().repaint->start(kRepaintMs);
}

void flushDirty()
{
    std::vector<std::pair<int, int>> todo;
    todo.swap(st().dirty);
    for (auto [panel, id] : todo) {
        int err = 0;
        if (Ctrl *c = findCtrl(panel, id, &err); c && c->dirty) {
            pushDisplay(*c);
            c->dirty = false;
            st().lastFlush = Timer();
        }
    }
}

void noteActivity() { ++st().activity; }

} // namespace qvar::ui

using namespace qvar;
using namespace qvar::ui;

int RunUserInterface(void)
{
    if (!started())
        return UI_ERR_NOT_STARTED;
    initLoop();
    LoopState &s = st();
    if (s.quitRequested) {   // quit asked before the loop ran
        s.quitRequested = false;
        return s.pendingQuit;
    }
    pump::Inside inside;
    QEventLoop loop;
    s.loops.push_back(&loop);
    QAbstractEventDispatcher *d = QAbstractEventDispatcher::instance();
    const auto c1 = QObject::connect(d, &QAbstractEventDispatcher::awake, &loop, [] { serialHook(); });
    const auto c2 = QObject::connect(d, &QAbstractEventDispatcher::aboutToBlock, &loop, [] { serialHook(); });
    QTimer::singleShot(0, &loop, [] { serialHook(); drain(); });
    const int code = loop.exec();
    QObject::disconnect(c1);
    QObject::disconnect(c2);
    s.loops.pop_back();
    s.arrival->stop();
    return code;
}

int QuitUserInterface(int code)
{
    LoopState &s = st();
    if (s.loops.empty()) {
        s.quitRequested = true;
        s.pendingQuit = code;
        return 0;
    }
    s.loops.back()->exit(code);
    return 0;
}

void SetWaitDeadline(double due)
{
    LoopState &s = st();
    s.deadline = std::isfinite(due) ? due : std::numeric_limits<double>::infinity();
    s.callbacksAtDeadline = pump::callbacks_run();
}

int ProcessSystemEvents(void)
{
    pump::Inside inside;
    int ran = pump::serial_deliver();
    // A headless program (InitHeadless) waits here the same way.
    if (!QCoreApplication::instance())
        return 0;
    initLoop();
    LoopState &s = st();
    QAbstractEventDispatcher *d = QAbstractEventDispatcher::instance();
    ran += drain();
    // The first change after a quiet frame goes to the screen in this very
    // pass, not a frame later: a scope at line timing shows each answer at
    // once, and its pump has no repaint timer to wake for. Faster changes
    // are still gathered by the timer, one push per frame.
    if (!s.dirty.empty() && Timer() - s.lastFlush >= kRepaintMs / 1000.0) {
        s.repaint->stop();
        flushDirty();
    }

    // A loop that changed the screen since the last pump, or that just got
    // serial data or user events, is doing real work: never make it wait.
    // Otherwise one waiting pass does it all: the dispatcher first runs what
    // is pending and returns if there was anything, and only then sleeps,
    // until an event (input, a port's socket notifier, a timer) or our bound.
    const bool mayWait = ran == 0 && s.activity == s.activityAtLastPump;
    const double deadline = waitDeadline();
    const double now = Timer();
    if (deadline <= now)
        s.deadline = std::numeric_limits<double>::infinity();   // due: the loop looks now
    const double left = mayWait ? std::min(pump::serial_next_arrival(), deadline) - now : 0.0;
    if (mayWait && left < 0.001) {
        // A simulated line tells when its frame will be complete, a loop when
        // its time-out falls due; Qt's timers count whole milliseconds, so
        // sleep to the moment itself. Nothing else is pending, and the sleep
        // is shorter than any wait allowed.
        if (left > 0)
            Delay(left);
        pump::serial_deliver();
        d->processEvents(QEventLoop::AllEvents);
    } else if (mayWait) {
        // Sleep until something is due: the dispatcher wakes for input, a
        // socket notifier or a timer of the program; our own timer covers the
        // simulated line's next byte and the loop's deadline (to the whole
        // millisecond before them, the rest is slept above on the next pass)
        // and the safety bound, which only loops that gave no deadline rely
        // on for their time-outs.
        const double dueMs = std::floor(left * 1000.0);
        const int bound = std::isfinite(deadline) ? kDeadlineBoundMs : kWaitBoundMs;
        s.wake->start(int(std::min<double>(bound, dueMs)));
        d->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        s.wake->stop();
        pump::serial_deliver();
    } else if (now - s.lastDispatch >= kBusyDispatchGap) {
        // A busy loop (an unpaced line) gets its serial data above on every
        // pass; the dispatcher's own pass costs a poll() of every descriptor,
        // several times the exchange itself on a real display, so a busy loop
        // looks at input, timers and repaints a few thousand times a second.
        s.lastDispatch = now;
        d->processEvents(QEventLoop::AllEvents);
    }
    drain();
    s.activityAtLastPump = s.activity;
    pump::run_pass_hook();
    return 0;
}
