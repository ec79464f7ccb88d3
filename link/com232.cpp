// com232.cpp - frames, the receive path and the link operations.
//
// The receive callback and the waiting code share szReadBuf, pp and the flags
// without locks: the serial service runs the callback only inside the event
// pump, so it can only strike where a wait calls ProcessSystemEvents. The
// direct reads (echo, firmware, curve blocks) therefore pump nothing between
// writing the request and taking the answer.
#include "link/com232.h"

#include "link/protocol.h"
#include "state/qvar.h"
#include "platform/clock.h"
#include "platform/files/files.h"
#include "platform/serial/serial.h"
#include "platform/ui/ui.h"

#include <cstdio>

static_assert(RX_EVENT_FRAME == COM_EV_RECEIVE && RX_EVENT_SYNC_CHAR == COM_EV_RXFLAG &&
                  RX_EVENT_TX_EMPTY == COM_EV_TXEMPTY,
              "the receive callback's event bits are the serial service's");

namespace {

// Direct reads poll the queue length without pumping; a short nap between
// polls keeps a 2 s wait from holding a core while adding far less delay than
// one byte takes on the line (0.52 ms).
void NapBetweenPolls() { Delay(0.0002); }

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
int WaitQueued(int want, double limit, bool *timedOut)
{
    int n;
    tstart = Timer();
    for (;;) {
        n = GetInQLen(com);
        tdiff = Timer() - tstart;
        if (tdiff > limit) {
            *timedOut = true;
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
    nBytesR = ComRd(com, (char *)szReadBuf, FRAME_BYTES);
    GetRxBuf(PNUM);
    rx_flag = 1;
    graphrefresh = 1;
    // Whatever came behind the frame belongs to no request.
    FlushInQ(com);
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

    CopyVarsToPP(CHANNEL_A);
    FillTxBuf(ORDER_ECHO, pp);
    FlushInQ(port);
    FlushOutQ(port);
    nBytesW = ComWrt(port, (const char *)szWriteBuf, FRAME_BYTES);
    Delay(0.05);
    nBytesR = ComRd(port, (char *)szReadBuf, FRAME_BYTES);
    if (nBytesR != FRAME_BYTES) {
        CopyText(szStatus, sizeof szStatus, "Timeout < 36 Bytes");
        result = 0;
    } else if (RxWord(0) == ECHO_ACK) {
        CopyText(szStatus, sizeof szStatus, "Echo Check - Line Ok!");
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
    int r = OpenComConfig(port, "", 19200, 0, 8, 1, 4096, 4096);
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
        int readA = rx_flag == 1;
        target = RAM;
        PushGET(RAM, CHANNEL_B);
        o.readsOk = readA && rx_flag == 1;
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
    nBytesW = ComWrt(com, (const char *)szWriteBuf, FRAME_BYTES);
}

// A stopped loop may leave its last request unanswered, and a flush cannot
// catch an answer that is still on the line: taken as the answer to the next
// loop's first request, it would put two requests in flight for good. One
// exchange is 37.5 ms at 19200 baud; a tenth of a second covers it and the
// controller's turnaround.
void SettleLiveLine(void)
{
    const double settle = 0.1;
    double since = Timer() - lastLiveRequest;
    if (since >= 0 && since < settle)
        Delay(settle - since);
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
    FlushInQ(com);
    FlushOutQ(com);
    order = ORDER_FIRMWARE;
    FillTxBuf(ORDER_FIRMWARE, pp);
    nBytesW = ComWrt(com, (const char *)szWriteBuf, FRAME_BYTES);
    ShowStatus("Waiting for firmware info ...");

    bool timedOut;
    int n = WaitQueued(FIRMWARE_BYTES, FIRMWARE_TIMEOUT, &timedOut);
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
    int n = WaitQueued(FRAME_BYTES, ANSWER_TIMEOUT, &timedOut);
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
