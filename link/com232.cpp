// com232.cpp - frames, the receive path and the link operations.
//
// The receive callback and the waiting code share szReadBuf, pp and the flags
// without locks: the serial service runs the callback only inside the event
// pump, so it can only strike where a wait calls ProcessSystemEvents. The
// direct reads (echo, firmware, curve blocks) therefore pump nothing between
// writing the request and taking the answer.
//
// An answer is a frame of this controller. Nothing says what a controller
// puts in an answer's first four bytes, so the echo answer, which passes on
// its data word alone, shows it: its lead word, and whether its order word
// repeats the request's. From then on 36 bytes that start otherwise are no
// answer, however they came: the receive path drops them and looks for the
// next place in the queue where such a frame can start, and the wait goes on
// for the true answer. Until an echo answer has been seen, any 36 bytes are
// taken. The serial service judges bytes by their timing alone; the frame's
// shape is known here, with the orders, so the search is done here, from
// inside the callback, on bytes the service lets it look at.
#include "link/com232.h"

#include "link/protocol.h"
#include "state/qvar.h"
#include "platform/clock.h"
#include "platform/files/files.h"
#include "platform/serial/serial.h"
#include "platform/ui/ui.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

static_assert(RX_EVENT_FRAME == COM_EV_RECEIVE && RX_EVENT_SYNC_CHAR == COM_EV_RXFLAG &&
                  RX_EVENT_TX_EMPTY == COM_EV_TXEMPTY,
              "the receive callback's event bits are the serial service's");

namespace {

// What the echo answer showed of this controller's frames.
struct FrameShape {
    bool known = false;
    unsigned char lead[2] = {};
    bool ordersRepeat = false;     // the order word is the request's
};
FrameShape shape;

// The order of the request built last. Nothing pumps between building a
// request and writing it, so it is the request an answer now answers.
int awaitedOrder = -1;

LinkCounters counters;
long portDropsSeen;                // of the open port's own drops, those counted
double frameTakenAt = -1e9;        // when the receive path last took a frame
long skippedByReceive;             // bytes the receive path found no frame in

// One exchange is 37.5 ms at 19200 baud; a tenth of a second covers it and
// the controller's turnaround: after that no answer to a request is still on
// its way.
const double EXCHANGE_SETTLE = 0.1;
// A line that brought nothing for this long is taken to be between bursts.
const double LINE_QUIET = 0.005;

// What the live wait has seen of the line since its request: the noise the
// receive path and the serial service had dropped when it went out, the
// bytes seen at the last look, and since when that count has not moved.
long liveNoiseBase;
long liveSeen = -1;
double liveQuietSince;

// The line's rate, and one character on it: start bit, 8 data bits, stop bit.
const long BAUD_RATE = 19200;
const double CHAR_SECONDS = 10.0 / BAUD_RATE;

// Direct reads poll the queue length without pumping; a short nap between
// polls keeps a 2 s wait from holding a core while adding far less delay than
// one byte takes on the line (0.52 ms).
void NapBetweenPolls() { Delay(0.0002); }

// Waits without pumping, moving what arrives into the queue meanwhile: each
// byte then carries the time it came, by which the serial service tells an
// earlier exchange's tail from the answer.
void WatchLine(int port, double seconds)
{
    const double end = Timer() + seconds;
    while (Timer() < end) {
        GetInQLen(port);
        NapBetweenPolls();
    }
}

// Whether the `n` bytes at `p` can begin a frame of this controller answering
// order `awaited` (any order of the protocol when it is -1); fewer than a
// frame's head match as far as they go.
bool CanStartFrame(const unsigned char *p, int n, int awaited)
{
    if ((n > 0 && p[0] != shape.lead[0]) || (n > 1 && p[1] != shape.lead[1]))
        return false;
    if (n < FRAME_HEADER || !shape.ordersRepeat)
        return true;
    const int ord = p[2] * 256 + p[3];
    return awaited < 0 ? IsKnownOrder(ord) : ord == awaited;
}

// Drops what lies ahead of the first place in the queue where an answer to
// the awaited request can start (bytes that arrived since the queue was
// last looked at included) and returns how many bytes lie from there on,
// counted up to the receive buffer's size.
int SeekFrame(void)
{
    unsigned char head[BUF_LEN];
    bool dropped = false;
    for (;;) {
        const int n = ComPeek(com, (char *)head, sizeof head);
        if (n <= 0)
            return n < 0 ? 0 : n;
        int k = 0;
        while (k < n && !CanStartFrame(head + k, n - k, awaitedOrder))
            k++;
        if (k == 0)
            return n;
        ComSkip(com, k);
        counters.bytesDiscarded += k;
        skippedByReceive += k;
        if (!dropped && n >= FRAME_BYTES)
            counters.framesDropped++;
        dropped = true;
        if (k < n || n < (int)sizeof head)
            return n - k;
    }
}

// The firmware answer is text, not a frame: a frame of this controller at
// the head of the queue is a late answer to an earlier request. Returns the
// queue length `n` less what was dropped.
int SkipLateFrames(int n)
{
    unsigned char head[FRAME_HEADER];
    while (n >= FRAME_BYTES && ComPeek(com, (char *)head, sizeof head) == FRAME_HEADER &&
           CanStartFrame(head, FRAME_HEADER, -1)) {
        ComSkip(com, FRAME_BYTES);
        counters.framesDropped++;
        counters.bytesDiscarded += FRAME_BYTES;
        n -= FRAME_BYTES;
    }
    return n;
}

// Surplus behind the last frame taken comes back to back and would head the
// firmware text, which, unlike a frame, cannot be told from it: the request
// goes out once nothing has come for two characters' time since that frame.
// On a clean line that is at once, or at most a millisecond after the frame.
void LetSurplusPass(void)
{
    const double quiet = 2 * CHAR_SECONDS;
    const double giveUp = Timer() + 0.1;
    long seen = -1;
    double last = frameTakenAt;
    for (;;) {
        const long activity = (long)GetInQLen(com) + ComDroppedBytes(com);
        const double now = Timer();
        if (activity != seen) {
            if (seen >= 0)
                last = now;
            seen = activity;
        }
        if (now - last >= quiet || now >= giveUp)
            return;
        NapBetweenPolls();
    }
}

// A far end still sending an earlier exchange's answer when the echo
// request reaches it answers only behind it: the 36 bytes read may hold
// that answer's tail and the head of the echo answer. Looks, a frame's time
// later, for the echo answer among the bytes behind them (it starts within
// a frame's length) and takes it into szReadBuf; true if found.
bool FindEchoBehind(int port)
{
    WatchLine(port, FRAME_BYTES * CHAR_SECONDS);
    const int behind = ComPeek(port, (char *)szReadBuf + FRAME_BYTES, BUF_LEN - FRAME_BYTES);
    for (int at = 1; at <= FRAME_BYTES && at + FRAME_BYTES <= FRAME_BYTES + behind; at++) {
        if (szReadBuf[at + FRAME_HEADER] * 256 + szReadBuf[at + FRAME_HEADER + 1] != ECHO_ACK)
            continue;
        // The answer's last `at` bytes are still queued: take them.
        std::memmove(szReadBuf, szReadBuf + at, FRAME_BYTES);
        ComSkip(port, at);
        counters.bytesDiscarded += at;
        return true;
    }
    return false;
}

// A curve block is a frame: what lies ahead of one is no part of it.
int SeekCurveFrame(int n)
{
    return n >= FRAME_BYTES ? SeekFrame() : n;
}

// The serial service's own drops on the open port join the link's count.
void FoldPortDrops(void)
{
    const long d = ComDroppedBytes(com);
    if (d < 0)
        return;
    if (d < portDropsSeen)
        portDropsSeen = 0;
    counters.bytesDiscarded += d - portDropsSeen;
    portDropsSeen = d;
}

// Bytes dropped on the open port so far, by the receive path's frame check
// and by the serial service's timing rules.
long NoiseDropped(void)
{
    const long d = ComDroppedBytes(com);
    return skippedByReceive + (d > 0 ? d : 0);
}

// Bytes a direct read may take: whatever is queued, but never more than the
// receive buffer holds.
int Bounded(int n)
{
    if (n < 0)
        return 0;
    return n > BUF_LEN ? BUF_LEN : n;
}

// The direct reads: polls the input queue without pumping until `want`
// bytes are queued or `limit` seconds have passed since tstart (measured in
// tdiff); returns the last queue length seen, and whether time ran out first.
// Once the frame shape is known, `tidy` drops from the queue's head what
// cannot be the answer and gives the length left.
int WaitQueued(int want, double limit, bool *timedOut, int (*tidy)(int) = nullptr)
{
    int n;
    tstart = Timer();
    for (;;) {
        n = GetInQLen(com);
        if (tidy && shape.known && n > 0)
            n = tidy(n);
        tdiff = Timer() - tstart;
        if (tdiff > limit) {
            *timedOut = true;
            counters.timeouts++;
            return n;
        }
        if (n >= want)
            break;
        NapBetweenPolls();
    }
    *timedOut = false;
    return n;
}

// Takes what a direct read found queued into szReadBuf.
void ReadQueued(int n)
{
    int take = Bounded(n);
    nBytesR = take > 0 ? ComRd(com, (char *)szReadBuf, take) : 0;
}

uint16_t RxWord(int word)
{
    return (uint16_t)(szReadBuf[FRAME_HEADER + 2 * word] * 256 + szReadBuf[FRAME_HEADER + 1 + 2 * word]);
}

} // namespace

void RemoveRxCallback(void)
{
    InstallComCallback(com, 0, FRAME_BYTES, sync, nullptr, nullptr);
}

void InstallRxCallback(int port)
{
    InstallComCallback(port, eventMask, FRAME_BYTES, sync, RX_Receive_Function, nullptr);
}

void FillTxBuf(int32_t ord, const uint16_t *values)
{
    awaitedOrder = ord & 0xFFFF;
    szWriteBuf[0] = (unsigned char)((sync >> 8) & 0xFF);
    szWriteBuf[1] = (unsigned char)(sync & 0xFF);
    szWriteBuf[2] = (unsigned char)((ord >> 8) & 0xFF);
    szWriteBuf[3] = (unsigned char)(ord & 0xFF);
    for (int i = 0; i < PNUM; i++) {
        szWriteBuf[FRAME_HEADER + 2 * i] = (unsigned char)(values[i] >> 8);
        szWriteBuf[FRAME_HEADER + 1 + 2 * i] = (unsigned char)(values[i] & 0xFF);
    }
}

void GetRxBuf(int32_t count)
{
    if (count > PNUM)
        count = PNUM;
    order = szReadBuf[2] * 256 + szReadBuf[3];
    for (int i = 0; i < count; i++)
        pp[i] = RxWord(i);
}

void RX_Receive_Function(int /*port*/, int events, void * /*data*/)
{
    if (!(events & RX_EVENT_FRAME))
        return;
    // Not yet a whole frame of this controller: the service calls again
    // once the queue holds a frame's worth from there on.
    if (shape.known && SeekFrame() < FRAME_BYTES)
        return;
    nBytesR = ComRd(com, (char *)szReadBuf, FRAME_BYTES);
    GetRxBuf(PNUM);
    rx_flag = 1;
    graphrefresh = 1;
    counters.framesTaken++;
    frameTakenAt = Timer();
    // Whatever came behind the frame belongs to no request.
    const int behind = GetInQLen(com);
    if (behind > 0)
        counters.bytesDiscarded += behind;
    FlushInQ(com);
    FoldPortDrops();
}

int WaitRxFull(void)
{
    ret = 1;
    tstart = Timer();
    SetWaitDeadline(tstart + ANSWER_TIMEOUT);
    for (;;) {
        ProcessSystemEvents();
        tdiff = Timer() - tstart;
        if (tdiff > ANSWER_TIMEOUT) {
            CopyText(szStatus, sizeof szStatus, "Timeout-RS-232...");
            counters.timeouts++;
            ret = 0;
            break;
        }
        if (rx_flag != 0)
            break;
    }
    return ret;
}

const char *ComErrorText(int code)
{
    switch (code) {
    case COM_ERR_SYSTEM: return "Unknown system error";
    case COM_ERR_PORT_NUMBER: return "Invalid port number";
    case COM_ERR_NOT_OPEN: return "Port is not open";
    case COM_ERR_IO: return "Unknown I/0 error";
    case COM_ERR_NO_PORT: return "No serial port found";
    case COM_ERR_CANNOT_OPEN: return "Cannot open port";
    case COM_ERR_PARAMETER: return "Invalid parameter";
    case COM_ERR_TIMEOUT: return "Timeout";
    default: return "RS-232 error!";
    }
}

int CheckComLine(int port)
{
    int result;

    shape.known = false;
    CopyVarsToPP(CHANNEL_A);
    FillTxBuf(ORDER_ECHO, pp);
    FlushInQ(port);
    FlushOutQ(port);
    nBytesW = ComWrt(port, (const char *)szWriteBuf, FRAME_BYTES);
    WatchLine(port, 0.05);
    nBytesR = ComRd(port, (char *)szReadBuf, FRAME_BYTES);
    if (nBytesR == FRAME_BYTES && RxWord(0) != ECHO_ACK)
        FindEchoBehind(port);
    if (nBytesR != FRAME_BYTES) {
        CopyText(szStatus, sizeof szStatus, "Timeout < 36 Bytes");
        counters.timeouts++;
        result = 0;
    } else if (RxWord(0) == ECHO_ACK) {
        CopyText(szStatus, sizeof szStatus, "Echo Check - Line Ok!");
        shape.known = true;
        shape.lead[0] = szReadBuf[0];
        shape.lead[1] = szReadBuf[1];
        shape.ordersRepeat = szReadBuf[2] * 256 + szReadBuf[3] == ORDER_ECHO;
        counters.framesTaken++;
        result = 1;
    } else {
        CopyText(szStatus, sizeof szStatus, "read error - not sync byte 0xAA!");
        result = 0;
    }
    ShowStatus(szStatus);
    return result;
}

void InitRS232(int port)
{
    StartLink(port, nullptr);
}

void StartLink(int port, StartOutcome *outcome)
{
    StartOutcome o{};
    shape.known = false;
    counters = LinkCounters{};
    skippedByReceive = 0;
    int r = OpenComConfig(port, "", BAUD_RATE, 0, 8, 1, 4096, 4096);
    portDropsSeen = 0;
    o.openCode = r < 0 ? r : 0;
    if (r < 0) {
        CopyText(szStatus, sizeof szStatus, ComErrorText(r));
        ShowStatus(szStatus);
        if (outcome)
            *outcome = o;
        return;
    }
    SetComTime(port, PORT_TIMEOUT);
    FlushInQ(port);
    FlushOutQ(port);
    SetCTSMode(port, 0);
    InstallRxCallback(port);

    if (CheckComLine(port) == 1) {
        o.echoOk = 1;
        target = RAM;
        PushGET(RAM, CHANNEL_A);
        o.readA = rx_flag == 1;
        target = RAM;
        PushGET(RAM, CHANNEL_B);
        o.readB = rx_flag == 1;
        o.readsOk = o.readA && o.readB;
        ShowParameters();
        if (GetVERSIONInfo() < FIRMWARE_BYTES)
            CopyText(szStatus, sizeof szStatus, "Error reading firmware-info!");
        else
            o.firmwareOk = 1;
    }
    ShowStatus(szStatus);
    if (outcome)
        *outcome = o;
}

void PushGET(int32_t source, uint16_t channel)
{
    if (source == DATFILE)
        return;
    order = (source == RAM) ? ORDER_READ_RAM : ORDER_READ_EEPROM;
    CopyVarsToPP(channel);
    FlushInQ(com);
    FlushOutQ(com);
    FillTxBuf(order, pp);
    rx_flag = 0;
    nBytesW = ComWrt(com, (const char *)szWriteBuf, FRAME_BYTES);
    if (nBytesW == FRAME_BYTES)
        ShowStatus("Waiting for parameter-frame ...");
    WaitRxFull();
    // rx_flag, not the wait's result, decides: an answer taken in the very
    // pump after which the time ran out is still this request's answer.
    if (rx_flag == 1) {
        GetRxBuf(PNUM);
        CopyPPtoVars(channel);
        ShowStatus("Parameter-frame received! - Line Ok!");
    } else {
        // The wait ended without an answer and said so in szStatus.
        ShowStatus(szStatus);
    }
}

// When the last live-value request went out.
static double lastLiveRequest = -1e9;

void SendLiveRequest(void)
{
    FlushInQ(com);
    FlushOutQ(com);
    CopyVarsToPP(CHANNEL_A);
    FillTxBuf(ORDER_LIVE_VALUES, pp);
    rx_flag = 0;
    tstart = Timer();
    lastLiveRequest = tstart;
    liveNoiseBase = NoiseDropped();
    liveSeen = -1;
    nBytesW = ComWrt(com, (const char *)szWriteBuf, FRAME_BYTES);
}

// A stopped loop may leave its last request unanswered, and a flush cannot
// catch an answer that is still on the line: taken as the answer to the next
// loop's first request, it would put two requests in flight for good.
void SettleLiveLine(void)
{
    double since = Timer() - lastLiveRequest;
    if (since >= 0 && since < EXCHANGE_SETTLE)
        Delay(EXCHANGE_SETTLE - since);
}

// A burst over an answer's head leaves a block the frame check drops, and the
// controller has nothing more to send for that request: waiting would end the
// loop at its time-out. Asked again once the answer cannot still be coming,
// the burst costs the one exchange. Only after noise was dropped: a quiet line
// brings no lost answer, and its time-out keeps counting from the request that
// went unanswered, which asking again does not move.
int AskAgainForLostAnswer(void)
{
    if (rx_flag != 0 || !shape.known)
        return 0;
    const long noise = NoiseDropped();
    if (noise == liveNoiseBase)
        return 0;
    const double now = Timer();
    const long seen = noise + GetInQLen(com);
    if (seen != liveSeen) {
        liveSeen = seen;
        liveQuietSince = now;
        return 0;
    }
    if (now - lastLiveRequest < EXCHANGE_SETTLE || now - liveQuietSince < LINE_QUIET)
        return 0;
    const double unanswered = tstart;
    SendLiveRequest();
    tstart = unanswered;
    counters.requestsRepeated++;
    return 1;
}

double LiveWaitDeadline(double limit)
{
    const double timeout = tstart + limit;
    if (rx_flag != 0 || liveSeen < 0)
        return timeout;
    const double askAgain = std::max(lastLiveRequest + EXCHANGE_SETTLE, liveQuietSince + LINE_QUIET);
    return std::min(timeout, askAgain);
}

int LiveAnswerOverdue(double limit)
{
    tdiff = Timer() - tstart;
    if (tdiff <= limit)
        return 0;
    CountLinkTimeout();
    return 1;
}

void StartLiveLoop(void)
{
    SettleLiveLine();
    order = ORDER_LIVE_VALUES;
    SendLiveRequest();
    if (nBytesW == FRAME_BYTES)
        ShowStatus("Line Ok!");
    tstart = Timer();
    stop_flag = 0;
    graphrefresh = 0;
}

int GetVERSIONInfo(void)
{
    RemoveRxCallback();
    LetSurplusPass();
    FlushInQ(com);
    FlushOutQ(com);
    order = ORDER_FIRMWARE;
    FillTxBuf(ORDER_FIRMWARE, pp);
    nBytesW = ComWrt(com, (const char *)szWriteBuf, FRAME_BYTES);
    ShowStatus("Waiting for firmware info ...");

    bool timedOut;
    int n = WaitQueued(FIRMWARE_BYTES, FIRMWARE_TIMEOUT, &timedOut, SkipLateFrames);
    if (timedOut)
        CopyText(szStatus, sizeof szStatus, "Timeout - reading firmware info!");

    ReadQueued(n);
    if (nBytesR == FIRMWARE_BYTES) {
        // The controller's text need not be terminated: show at most 71 characters.
        szReadBuf[FIRMWARE_BYTES - 1] = 0;
        CopyText(szStatus, sizeof szStatus, (const char *)szReadBuf);
    }

    InstallRxCallback(com);
    FlushInQ(com);
    FlushOutQ(com);
    rx_flag = 0;
    ShowStatus(szStatus);
    return n;
}

int ReadData256(int block, int source, int ord)
{
    int result = 0;
    const int offset = (block - 1) * CURVE_BLOCK_POINTS;

    uint16_t request[FRAME_WORDS] = {};
    request[CB_OFFSET] = (uint16_t)offset;
    request[CB_SOURCE] = (uint16_t)source;
    FillTxBuf(ord, request);

    FlushInQ(com);
    FlushOutQ(com);
    rx_flag = 0;
    nBytesW = ComWrt(com, (const char *)szWriteBuf, FRAME_BYTES);

    std::snprintf(szStatus, sizeof szStatus, "Waiting for data package %c ...", '0' + (block % 10));
    ShowStatus(szStatus);

    bool timedOut;
    int n = WaitQueued(FRAME_BYTES, ANSWER_TIMEOUT, &timedOut, SeekCurveFrame);
    if (timedOut) {
        CopyText(szStatus, sizeof szStatus, "Timeout while reading data package!");
        ShowStatus(szStatus);
        result = -1;
        for (int i = 0; i < CURVE_POINTS; i++) {
            yArrayA[i] = 0;
            yArrayB[i] = 0;
        }
    }

    ReadQueued(n);
    if (nBytesR == FRAME_BYTES)
        counters.framesTaken++;
    if (nBytesR == FRAME_BYTES && block >= 1 && block <= CURVE_BLOCKS) {
        AppendText(szStatus, sizeof szStatus, " received!");
        if (IsNormSource(source)) {
            uint16_t *curve = IsChannelBSource(source) ? yArrayB : yArrayA;
            for (int i = 0; i < CURVE_BLOCK_POINTS; i++)
                curve[offset + i] = RxWord(i);
        }
    }
    ShowStatus(szStatus);
    return result;
}

void CountLinkTimeout(void)
{
    counters.timeouts++;
}

void GetLinkCounters(LinkCounters *c)
{
    FoldPortDrops();
    *c = counters;
}
