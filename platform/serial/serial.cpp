// serial.cpp - the serial port service: port table, input queues, time-outs and receive callbacks.
//
// Bytes reach a port's queue in three ways: a call that reads (GetInQLen,
// ComRd), the pump (serial_deliver), and, while a callback is installed, a
// socket notifier on the device or a timer aimed at the simulated line's next
// byte. Only the pump and those watchers run callbacks, and the watchers only
// when the pump allows it; the link shares its frame buffers with its receive
// callback without locks, so a callback from inside ComRd would tear a frame.
//
// A receive event is edge-triggered: it fires when the queue reaches the
// notify count and is armed again once the queue falls below it. It is
// checked again just before the call, because the waiting code may have read
// the bytes meanwhile and a callback that then reads 36 bytes would block for
// the whole time-out.
//
// Opening a port that is already open closes it first; the port selector
// reopens the port in use and expects a fresh line.
//
// Bytes are judged here by their timing only; what an answer looks like is
// the link's business (it searches the queue for a frame of its controller).
// A byte that trails a frame just taken within two character times belongs
// to that frame, until the next request is written: from then on, on a line
// that runs at its baud rate, nothing that arrives before that request can
// have left the wire is its answer, and what comes after may be. These rules
// only drop what cannot be an answer; they never switch themselves off
// because of what arrived, so a burst of noise cannot disarm them. A port is
// told unpaced by what it is (the backend's pacing()), or left unjudged
// until a frame has shown the line's pace.
//
// A fresh port may carry the tail of an exchange that another program (or
// an earlier session) started: the start exchange begins on a quiet line.
// On a port whose pace is not known yet, bytes that come before the first
// request written can have crossed the line are kept aside until it is
// clear which they are: once bytes come after that moment, the earlier ones
// were stale and are dropped; if a whole read's worth came before it, the
// far end answers faster than the line and they are its answer.
#include "platform/serial/serial.h"

#include "platform/clock.h"
#include "platform/ui/pump.h"
#include "platform/serial/serial_backend.h"
#include "platform/serial/serial_internal.h"
#include "platform/serial/serial_queue.h"
#include "platform/serial/serial_alarm.h"

#include <QCoreApplication>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

namespace {

using namespace qvar::serial;
using Clock = std::chrono::steady_clock;

constexpr double kDefaultTimeout = 2.0;
constexpr double kMaxTimeout = 3600.0;
constexpr int kMaxQueue = 1 << 24;
constexpr int kKnownEvents = COM_EV_RXFLAG | COM_EV_TXEMPTY | COM_EV_RECEIVE;
// How long an emptied output queue may wait for a pump pass that happens
// anyway. Waking just to report it was a tenth of a scope's CPU: at 19200
// baud a 36-byte answer ends 19 ms after its request has left, and that
// pass reports both.
constexpr double kTxEmptyGrace = 0.020;

// Qt objects are handed to the event loop for deletion: a callback may close
// its own port from inside the notifier's or the timer's signal.
void retire(QObject *obj)
{
    if (!obj)
        return;
    obj->disconnect();
    if (QCoreApplication::instance())
        obj->deleteLater();
    // Without an application (program exit) the loop that would delete it is
    // gone; leaving it is harmless then.
}

struct Port {
    Port(int n, std::unique_ptr<Backend> b, size_t inQ, long rate, int bits)
        : number(n), backend(std::move(b)), queue(inQ), baud(rate), bitsPerChar(bits)
    {
        static uint64_t next = 0;
        id = ++next;
    }
    ~Port()
    {
        if (notifier && QCoreApplication::instance())
            notifier->setEnabled(false);
        for (QObject *o : {static_cast<QObject *>(notifier), static_cast<QObject *>(arrivalTimer),
                           static_cast<QObject *>(drainTimer), static_cast<QObject *>(holdAlarm)})
            retire(o);
    }

    int number;
    uint64_t id;                    // tells a reopened port from the one a callback closed
    std::unique_ptr<Backend> backend;
    Ring queue;
    Stamps stamps;
    long baud;
    int bitsPerChar;

    // Timing rules against surplus and early bytes (see the top of the file).
    bool paced = false;             // frames come at the line's pace
    double surplusUntil = -std::numeric_limits<double>::infinity();
    double quietUntil = -std::numeric_limits<double>::infinity();
    long dropped = 0;
    enum class Start { Fresh, Held, Done };
    Start start = Start::Fresh;     // the quiet start (see the top of the file)
    double startQuietUntil = 0;     // when the first request could have crossed

    double char_time() const { return static_cast<double>(bitsPerChar) / static_cast<double>(baud); }
    double timeout = kDefaultTimeout;

    int mask = 0;
    int notifyCount = 0;
    int eventChar = -1;
    ComCallbackPtr callback = nullptr;
    void *callbackData = nullptr;

    bool armed = true;              // a receive event may fire
    int due = 0;                    // events waiting for the pump
    bool running = false;           // its callback is on the stack
    bool awaitingDrain = false;     // written since the last TXEMPTY
    double drainReportBy = 0;       // Timer() by which that TXEMPTY is reported
    bool lineFailed = false;        // watchers stopped after a line error
    double holdUntil = -std::numeric_limits<double>::infinity();   // device not watched before

    QSocketNotifier *notifier = nullptr;
    QTimer *arrivalTimer = nullptr;
    QTimer *drainTimer = nullptr;
    Alarm *holdAlarm = nullptr;     // ends a hold on the device watcher
};

Clock::time_point deadline_after(double seconds)
{
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

std::array<std::unique_ptr<Port>, COM_MAX_PORT + 1> &table()
{
    static std::array<std::unique_ptr<Port>, COM_MAX_PORT + 1> t;
    return t;
}

// The numbers of the open ports: the pump looks at these on every pass, and
// a program has one or two of 255 open.
std::vector<int> &open_numbers()
{
    static std::vector<int> v;
    return v;
}

Port *get(int number)
{
    if (number < 1 || number > COM_MAX_PORT)
        return nullptr;
    return table()[number].get();
}

int lookup(int number, Port **out)
{
    if (number < 1 || number > COM_MAX_PORT)
        return COM_ERR_PORT_NUMBER;
    *out = table()[number].get();
    return *out ? 0 : COM_ERR_NOT_OPEN;
}

// Whether a byte that arrived at `at` is surplus of the frame taken last or
// came before the request written last can have left the wire.
bool untimely(Port &p, double at)
{
    if (at <= p.surplusUntil) {
        // Surplus comes back to back; each byte extends the window.
        p.surplusUntil = at + 2.0 * p.char_time();
        return true;
    }
    p.surplusUntil = -std::numeric_limits<double>::infinity();
    return at < p.quietUntil;
}

// The quiet start, at a read: false while what is queued cannot be judged
// yet (every byte came before the first request could have crossed the
// line, and fewer than `want`).
bool quiet_start_settled(Port &p, size_t want)
{
    if (p.start != Port::Start::Held)
        return true;
    const size_t stale = p.stamps.before(p.startQuietUntil);
    if (stale < p.queue.size()) {
        double first, last;
        p.queue.drop(stale);
        p.stamps.pop(stale, &first, &last);
        p.dropped += static_cast<long>(stale);
    } else if (p.queue.size() < want) {
        return false;
    }
    p.start = Port::Start::Done;
    return true;
}

// Keeps the timely bytes of buf[0..n) in the queue. Returns how many.
size_t keep_timely(Port &p, const uint8_t *buf, const double *when, size_t n)
{
    size_t kept = 0;
    for (size_t i = 0; i < n;) {
        size_t j = i;
        const bool drop = untimely(p, when[i]);
        while (j + 1 < n && when[j + 1] == when[i] && !drop)
            ++j;
        if (drop) {
            ++p.dropped;
            ++i;
            continue;
        }
        if ((p.mask & COM_EV_RXFLAG) && p.callback && std::memchr(buf + i, p.eventChar, j + 1 - i))
            p.due |= COM_EV_RXFLAG;
        p.queue.push(buf + i, j + 1 - i);
        p.stamps.push(j + 1 - i, when[i]);
        kept += j + 1 - i;
        i = j + 1;
    }
    return kept;
}

// Moves what has arrived into the queue, never more than fits. Returns the
// count taken or a code; bytes taken before an error are kept.
int intake(Port &p)
{
    uint8_t buf[1024];
    double when[1024];
    int total = 0;
    while (p.queue.space() > 0) {
        size_t want = std::min(sizeof buf, p.queue.space());
        int n = p.backend->receive_stamped(buf, want, when);
        if (n < 0)
            return total ? total : n;
        if (n == 0)
            break;
        p.lineFailed = false;   // the line works again: let the watchers resume
        total += static_cast<int>(keep_timely(p, buf, when, static_cast<size_t>(n)));
        if (static_cast<size_t>(n) < want)
            break;
    }
    return total;
}

// After a read took `count` bytes that arrived from `first` to `last`: a
// frame that took about as long as the baud rate makes it tells a paced line,
// and opens the surplus window behind its last byte. A paced line stays paced
// when a frame comes at once (its far end or this program was held up, a USB
// adapter hands over a frame in one piece); only an answer that comes before
// its request could have crossed the line undoes it (untimely). Frames much
// slower than the line (an answer in pieces) and short reads say nothing.
void frame_taken(Port &p, size_t count, double first, double last)
{
    constexpr size_t kFrameEvidence = 8;
    if (count < kFrameEvidence)
        return;
    const double nominal = static_cast<double>(count - 1) * p.char_time();
    const double span = last - first;
    if (const int known = p.backend->pacing(); known >= 0)
        p.paced = known == 1;
    else if (span >= 0.25 * nominal && span <= 3.0 * nominal)
        p.paced = true;
    if (p.paced)
        p.surplusUntil = last + 2.0 * p.char_time();
}

bool holding(const Port &p) { return p.holdUntil > -std::numeric_limits<double>::infinity(); }

void release_hold(Port &p)
{
    p.holdUntil = -std::numeric_limits<double>::infinity();
    if (p.holdAlarm)
        p.holdAlarm->stop();
}

// A paced line hands over an answer a byte at a time, and a watched device
// would wake the program for each of them: 36 wake-ups a frame, most of the
// waiting's cost. When a wake-up found a single byte, the bytes still missing
// cannot all be there before the line has carried them, so the watcher rests
// until a moment before the last could arrive and then watches again: the
// frame's callback comes when its last byte does. Bytes read at the end of
// the rest carry that moment as their stamp, which is later than they came;
// the surplus and early rules only look at a frame's first and last bytes,
// and those are still read as they come. Any event bit a byte brings (the
// event character) is reported with the rest's end.
//
// The last byte cannot come before the request has left the wire and the
// whole answer has crossed it, nor before the line has carried the bytes
// still missing since this one; the rest ends a little before the later of
// the two. The first holds for an answer, the second for any frame, but this
// wake-up may have come well after its byte.
void maybe_hold(Port &p, int taken, double woke)
{
    constexpr double kWokeLate = 0.0005;   // how late the wake-up for a byte may come
    constexpr double kAlarmLate = 0.00025; // how late the alarm may ring; less than a byte
    if (taken != 1 || !p.paced || !p.notifier || !p.holdAlarm || p.lineFailed || !p.callback ||
        !(p.mask & COM_EV_RECEIVE) || !p.armed)
        return;
    const size_t count = static_cast<size_t>(p.notifyCount);
    if (p.queue.size() >= count)
        return;
    const double byLine = p.quietUntil + static_cast<double>(count) * p.char_time();
    const double byByte = woke + static_cast<double>(count - p.queue.size()) * p.char_time() - kWokeLate;
    const double end = std::max(byLine, byByte) - kAlarmLate;
    if (end - woke < 0.002)
        return;
    p.holdUntil = end;
    p.holdAlarm->start(end);
}

void stop_line(Port &p)
{
    p.lineFailed = true;
    if (p.notifier)
        p.notifier->setEnabled(false);
    if (p.arrivalTimer)
        p.arrivalTimer->stop();
}

// When a receive event of this port can fall due: the arrival of the byte
// that fills the queue up to the notify count. Nobody waits for single bytes:
// the other events are picked up by the next pump.
double receive_due(const Port &p)
{
    constexpr double never = std::numeric_limits<double>::infinity();
    if (!p.callback || p.lineFailed || p.queue.space() == 0 || !(p.mask & COM_EV_RECEIVE) || !p.armed)
        return never;
    const size_t count = static_cast<size_t>(p.notifyCount);
    if (p.queue.size() >= count)
        return Timer();
    return p.backend->arrival_of(count - p.queue.size());
}

// A frame that completes within the grace reports the emptied queue with
// it: a pump pass that wakes a moment before the frame, to sleep the rest
// exactly, would otherwise call back for the empty queue alone.
bool frame_brings_drain(const Port &p)
{
    return Timer() < p.drainReportBy && receive_due(p) <= p.drainReportBy;
}

// Derives due events from the queue and the line, and lets the device watcher
// run only while the queue has room: a full queue leaves the descriptor
// readable, and an enabled notifier would then fire without end.
void update(Port &p)
{
    const size_t count = static_cast<size_t>(p.notifyCount);
    if (p.queue.size() < count)
        p.armed = true;
    if ((p.mask & COM_EV_RECEIVE) && p.callback && p.armed && p.queue.size() >= count) {
        p.due |= COM_EV_RECEIVE;
        p.armed = false;
    }
    if (p.awaitingDrain && (p.mask & COM_EV_TXEMPTY) && p.backend->output_pending() == 0 &&
        !frame_brings_drain(p)) {
        p.awaitingDrain = false;
        p.due |= COM_EV_TXEMPTY;
        // Seen on another wake-up (an answer's first byte): no need to wake
        // for it again.
        if (p.drainTimer)
            p.drainTimer->stop();
    }
    if (p.notifier) {
        bool on = !p.lineFailed && p.queue.space() > 0 && !holding(p);
        if (p.notifier->isEnabled() != on)
            p.notifier->setEnabled(on);
    }
}

// Aims the timer at the byte that completes what the callback waits for, on a
// line that announces its arrivals.
void arm_arrival(Port &p)
{
    if (!p.arrivalTimer)
        return;
    const double at = receive_due(p);
    if (!std::isfinite(at)) {
        p.arrivalTimer->stop();
        return;
    }
    const double delay = at - Timer();
    const int ms = delay <= 0 ? 0 : static_cast<int>(std::min(std::ceil(delay * 1000.0), 3.6e6));
    p.arrivalTimer->start(ms);
}

void settle(Port &p)
{
    update(p);
    arm_arrival(p);
}

// Runs the port's callback if anything it asked for is due. The port may be
// closed, reopened or re-installed by the callback itself.
int deliver(int number)
{
    Port *p = get(number);
    if (!p || p->running || !p->callback)
        return 0;
    if ((p->due & COM_EV_RECEIVE) && p->queue.size() < static_cast<size_t>(p->notifyCount))
        p->due &= ~COM_EV_RECEIVE;
    const int events = p->due & p->mask;
    p->due = 0;
    if (!events)
        return 0;
    const ComCallbackPtr cb = p->callback;
    void *data = p->callbackData;
    const uint64_t id = p->id;
    p->running = true;
    qvar::pump::note_callback();
    cb(number, events, data);
    p = get(number);
    if (p && p->id == id) {
        p->running = false;
        settle(*p);
    }
    return 1;
}

// What a watcher (notifier or arrival timer) does when the line stirs.
void on_line_activity(int number)
{
    Port *p = get(number);
    if (!p || p->lineFailed)
        return;
    const double woke = Timer();
    release_hold(*p);
    int r = intake(*p);
    // A readable descriptor that yields nothing is a hang-up; the watcher
    // would otherwise fire again at once.
    if (r < 0 || (r == 0 && p->notifier && p->queue.space() > 0 && p->backend->wait_readable(0) < 0))
        stop_line(*p);
    maybe_hold(*p, r, woke);
    settle(*p);
    if (qvar::pump::dispatch_allowed())
        deliver(number);
}

void on_drain_check(int number)
{
    Port *p = get(number);
    if (!p)
        return;
    update(*p);
    if (p->awaitingDrain && p->drainTimer)
        p->drainTimer->start(2);
    if (qvar::pump::dispatch_allowed())
        deliver(number);
}

void remove_watchers(Port &p)
{
    if (p.notifier)
        p.notifier->setEnabled(false);
    retire(p.notifier);
    retire(p.arrivalTimer);
    retire(p.drainTimer);
    retire(p.holdAlarm);
    p.holdAlarm = nullptr;
    p.holdUntil = -std::numeric_limits<double>::infinity();
    p.notifier = nullptr;
    p.arrivalTimer = nullptr;
    p.drainTimer = nullptr;
}

void add_watchers(Port &p)
{
    if (!QCoreApplication::instance())
        return;
    const int number = p.number;
    if (int fd = p.backend->poll_fd(); fd >= 0) {
        if (!p.notifier) {
            p.notifier = new QSocketNotifier(fd, QSocketNotifier::Read);
            QObject::connect(p.notifier, &QSocketNotifier::activated,
                             [number] { on_line_activity(number); });
        }
        if (!p.holdAlarm)
            p.holdAlarm = new Alarm([number] { on_line_activity(number); });
    } else if (!p.arrivalTimer) {
        p.arrivalTimer = new QTimer;
        p.arrivalTimer->setSingleShot(true);
        p.arrivalTimer->setTimerType(Qt::PreciseTimer);
        QObject::connect(p.arrivalTimer, &QTimer::timeout, [number] { on_line_activity(number); });
    }
    if (!p.drainTimer) {
        p.drainTimer = new QTimer;
        p.drainTimer->setSingleShot(true);
        p.drainTimer->setTimerType(Qt::PreciseTimer);
        QObject::connect(p.drainTimer, &QTimer::timeout, [number] { on_drain_check(number); });
    }
}

void close_port(int number)
{
    auto &slot = table()[number];
    if (!slot)
        return;
    Port &p = *slot;
    remove_watchers(p);
    // A tty's close waits for unsent output, possibly for half a minute on a
    // stalled line; give it the port time-out, then drop the rest.
    const auto deadline = deadline_after(p.timeout);
    while (p.backend->output_pending() > 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    p.backend->flush_output();
    slot.reset();
    note_closed(number);
    auto &open = open_numbers();
    open.erase(std::remove(open.begin(), open.end(), number), open.end());
}

double seconds_left(Clock::time_point deadline)
{
    return std::chrono::duration<double>(deadline - Clock::now()).count();
}

} // namespace

int OpenComConfig(int port, const char *deviceName, long baudRate, int parity,
                  int dataBits, int stopBits, int inputQueueSize, int outputQueueSize)
{
    (void)deviceName;   // the number alone picks the device; a path here could name the console
    if (port < 1 || port > COM_MAX_PORT)
        return COM_ERR_PORT_NUMBER;
    if (!baud_supported(baudRate) || parity < 0 || parity > 2 || dataBits < 5 || dataBits > 8 ||
        stopBits < 1 || stopBits > 2 || inputQueueSize <= 0 || outputQueueSize <= 0 ||
        inputQueueSize > kMaxQueue || outputQueueSize > kMaxQueue)
        return COM_ERR_PARAMETER;

    close_port(port);

    const PortEntry *found = find_port(port);
    if (!found) {
        rescan();   // an adapter plugged in since the last look
        found = find_port(port);
    }
    if (!found)
        return COM_ERR_NO_PORT;
    const PortEntry entry = *found;

    int code = 0;
    std::unique_ptr<Backend> backend =
        entry.kind == PortEntry::Simulated
            ? open_sim(&code)
            : open_posix(entry.path_to_open(), baudRate, parity, dataBits, stopBits, &code);
    if (!backend)
        return code < 0 ? code : COM_ERR_CANNOT_OPEN;

    const int bits = 1 + dataBits + (parity ? 1 : 0) + stopBits;
    table()[port] = std::make_unique<Port>(port, std::move(backend),
                                           static_cast<size_t>(inputQueueSize), baudRate, bits);
    open_numbers().push_back(port);
    note_open(port);
    return 0;
}

int CloseCom(int port)
{
    Port *p;
    if (int r = lookup(port, &p))
        return r;
    close_port(port);
    return 0;
}

int SetComTime(int port, double timeoutSeconds)
{
    Port *p;
    if (int r = lookup(port, &p))
        return r;
    if (!std::isfinite(timeoutSeconds) || timeoutSeconds < 0 || timeoutSeconds > kMaxTimeout)
        return COM_ERR_PARAMETER;
    p->timeout = timeoutSeconds;
    return 0;
}

int SetCTSMode(int port, int mode)
{
    Port *p;
    if (int r = lookup(port, &p))
        return r;
    if (mode != 0 && mode != 1)
        return COM_ERR_PARAMETER;
    return set_cts_handshake(*p->backend, mode == 1);
}

int ComWrt(int port, const char *buffer, int count)
{
    Port *p;
    if (int r = lookup(port, &p))
        return r;
    if (count < 0 || (count > 0 && !buffer))
        return COM_ERR_PARAMETER;
    const auto *data = reinterpret_cast<const uint8_t *>(buffer);
    const auto deadline = deadline_after(p->timeout);
    const double started = Timer();
    int written = 0;
    while (written < count) {
        int n = p->backend->send(data + written, static_cast<size_t>(count - written));
        if (n < 0) {
            if (written == 0)
                return n;
            break;
        }
        written += n;
        if (written == count)
            break;
        // The kernel's buffer is full: the line drains at the baud rate, so a
        // short nap frees room for another piece.
        double left = seconds_left(deadline);
        if (left <= 0)
            break;
        std::this_thread::sleep_for(std::chrono::duration<double>(std::min(left, 0.002)));
    }
    // A far end known to answer at once may answer right behind the frame
    // taken last: no surplus window may swallow that answer.
    const int known = p->backend->pacing();
    if (known >= 0) {
        p->paced = known == 1;
        if (!p->paced)
            p->surplusUntil = -std::numeric_limits<double>::infinity();
    }
    const double crossed = started + static_cast<double>(written) * p->char_time();
    if (written > 0 && p->paced) {
        p->quietUntil = crossed;
        // Surplus of the last frame that comes before this moment is early
        // anyway; what comes after it may be this request's answer.
        p->surplusUntil = -std::numeric_limits<double>::infinity();
    }
    if (written > 0 && p->start == Port::Start::Fresh) {
        p->start = known < 0 && !p->paced ? Port::Start::Held : Port::Start::Done;
        p->startQuietUntil = crossed;
    }
    if (written > 0 && (p->mask & COM_EV_TXEMPTY) && p->callback) {
        p->awaitingDrain = true;
        const double secs = static_cast<double>(written) * p->char_time();
        p->drainReportBy = Timer() + secs + kTxEmptyGrace;
        if (p->drainTimer) {
            // Until the line is due to be idle there is nothing to look at,
            // and until the grace is over another pass may well look first.
            p->drainTimer->start(static_cast<int>(std::ceil((secs + kTxEmptyGrace) * 1000.0)) + 1);
        }
    }
    settle(*p);
    return written;
}

int ComRd(int port, char *buffer, int count)
{
    Port *p;
    if (int r = lookup(port, &p))
        return r;
    if (count < 0 || (count > 0 && !buffer))
        return COM_ERR_PARAMETER;
    auto *out = reinterpret_cast<uint8_t *>(buffer);
    const auto deadline = deadline_after(p->timeout);
    int got = 0;
    int failure = 0;
    double first = 0, last = 0, from = 0;
    for (;;) {
        if (quiet_start_settled(*p, static_cast<size_t>(count))) {
            const size_t took = p->queue.pop(out + got, static_cast<size_t>(count - got));
            if (took > 0) {
                p->stamps.pop(took, got == 0 ? &first : &from, &last);
                got += static_cast<int>(took);
            }
        }
        if (got == count)
            break;
        int n = intake(*p);
        if (n < 0) {
            failure = n;
            break;
        }
        if (n > 0)
            continue;
        double left = seconds_left(deadline);
        if (left <= 0)
            break;
        if (int r = p->backend->wait_readable(left); r < 0) {
            failure = r;
            break;
        }
    }
    if (got == count)
        frame_taken(*p, static_cast<size_t>(got), first, last);
    settle(*p);
    return got == 0 && failure ? failure : got;
}

int GetInQLen(int port)
{
    Port *p;
    if (int r = lookup(port, &p))
        return r;
    int n = intake(*p);
    settle(*p);
    if (n < 0)
        return n;
    return static_cast<int>(p->queue.size());
}

int GetOutQLen(int port)
{
    Port *p;
    if (int r = lookup(port, &p))
        return r;
    return p->backend->output_pending();
}

int FlushInQ(int port)
{
    Port *p;
    if (int r = lookup(port, &p))
        return r;
    p->queue.clear();
    p->stamps.clear();
    release_hold(*p);
    p->backend->flush_input();
    p->due &= ~(COM_EV_RECEIVE | COM_EV_RXFLAG);
    settle(*p);
    return 0;
}

int FlushOutQ(int port)
{
    Port *p;
    if (int r = lookup(port, &p))
        return r;
    p->backend->flush_output();
    settle(*p);
    return 0;
}

int InstallComCallback(int port, int eventMask, int notifyCount, int eventCharacter,
                       ComCallbackPtr callback, void *callbackData)
{
    Port *p;
    if (int r = lookup(port, &p))
        return r;
    const int mask = eventMask & kKnownEvents;
    if (eventMask == 0 || !callback) {
        p->mask = 0;
        p->callback = nullptr;
        p->callbackData = nullptr;
        p->due = 0;
        p->awaitingDrain = false;
        remove_watchers(*p);
        return 0;
    }
    if ((mask & COM_EV_RECEIVE) &&
        (notifyCount < 1 || static_cast<size_t>(notifyCount) > p->queue.capacity()))
        return COM_ERR_PARAMETER;
    if ((mask & COM_EV_RXFLAG) && (eventCharacter < 0 || eventCharacter > 255))
        return COM_ERR_PARAMETER;
    p->mask = mask;
    p->notifyCount = (mask & COM_EV_RECEIVE) ? notifyCount : 0;
    p->eventChar = eventCharacter;
    p->callback = callback;
    p->callbackData = callbackData;
    p->armed = true;
    p->due = 0;
    p->awaitingDrain = false;
    release_hold(*p);
    add_watchers(*p);
    settle(*p);
    return 0;
}

int ComPeek(int port, char *buffer, int count)
{
    Port *p;
    if (int r = lookup(port, &p))
        return r;
    if (count < 0 || (count > 0 && !buffer))
        return COM_ERR_PARAMETER;
    return static_cast<int>(p->queue.peek(reinterpret_cast<uint8_t *>(buffer), static_cast<size_t>(count)));
}

// Unlike a read, skipping says nothing about the line's pace and opens no
// surplus window: skipped bytes are no frame, and the answer they hid may
// follow right behind them.
int ComSkip(int port, int count)
{
    Port *p;
    if (int r = lookup(port, &p))
        return r;
    if (count < 0)
        return COM_ERR_PARAMETER;
    double first, last;
    const size_t n = p->queue.drop(static_cast<size_t>(count));
    p->stamps.pop(n, &first, &last);
    settle(*p);
    return static_cast<int>(n);
}

long ComDroppedBytes(int port)
{
    Port *p;
    if (int r = lookup(port, &p))
        return r;
    return p->dropped;
}

namespace qvar::pump {

int serial_deliver()
{
    if (!dispatch_allowed())
        return 0;
    int ran = 0;
    // A copy: a callback may close or open ports.
    const std::vector<int> numbers = open_numbers();
    for (int number : numbers) {
        Port *p = get(number);
        if (!p || !p->callback || p->running)
            continue;
        // A device with a live notifier is read when the dispatcher sees it
        // readable; reading it here as well would cost a system call a pass.
        // Also after a failure: a line that carries bytes again comes back.
        const bool watched = p->notifier && (p->notifier->isEnabled() || holding(*p));
        if (!watched && intake(*p) < 0)
            stop_line(*p);
        settle(*p);
        ran += deliver(number);
    }
    return ran;
}

double serial_next_arrival()
{
    double next = std::numeric_limits<double>::infinity();
    for (int number : open_numbers())
        if (Port *p = get(number))
            next = std::min(next, receive_due(*p));
    return next;
}

} // namespace qvar::pump
