// com232.cpp - frames, the receive path and the link operations.
//
// The receive callback and the waiting code share szReadBuf, pp and the flags
// without locks: the serial service runs the callback only inside the event
// pump, so it can only strike where a wait calls ProcessSystemEvents. The
// direct reads (echo, firmware, curve blocks) therefore pump nothing between
// writing the request and taking the answer.
#include "link/com232.h"

#include "state/qvar.h"
#include "platform/clock.h"
#include "platform/files/files.h"
#include "platform/serial/serial.h"
#include "platform/ui/ui.h"

#include <cstdio>
#include <cstring>

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

void RemoveRxCallback(void)
{
    InstallComCallback(com, 0, FRAME_LEN, sync, nullptr, nullptr);
}

void InstallRxCallback(int port)
{
    InstallComCallback(port, eventMask, FRAME_LEN, sync, RX_Receive_Function, nullptr);
}

} // namespace

void FillTxBuf(int32_t ord, const uint16_t *values)
{
    szWriteBuf[0] = (unsigned char)((sync >> 8) & 0xFF);
    szWriteBuf[1] = (unsigned char)(sync & 0xFF);
    szWriteBuf[2] = (unsigned char)((ord >> 8) & 0xFF);
    szWriteBuf[3] = (unsigned char)(ord & 0xFF);
    for (int i = 0; i < PNUM; i++) {
        szWriteBuf[4 + 2 * i] = (unsigned char)(values[i] >> 8);
        szWriteBuf[5 + 2 * i] = (unsigned char)(values[i] & 0xFF);
    }
}

void GetRxBuf(int32_t count)
{
    if (count > PNUM)
        count = PNUM;
    order = szReadBuf[2] * 256 + szReadBuf[3];
    for (int i = 0; i < count; i++)
        pp[i] = (uint16_t)(szReadBuf[4 + 2 * i] * 256 + szReadBuf[5 + 2 * i]);
}

void RX_Receive_Function(int /*port*/, int events, void * /*data*/)
{
    if (!(events & 0x8000))
        return;
    nBytesR = ComRd(com, (char *)szReadBuf, FRAME_LEN);
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
    for (;;) {
        ProcessSystemEvents();
        tdiff = Timer() - tstart;
        if (tdiff > 1.5) {
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
    case -1: return "Unknown system error";
    case -2: return "Invalid port number";
    case -3: return "Port is not open";
    case -4: return "Unknown I/0 error";
    case -6: return "No serial port found";
    case -7: return "Cannot open port";
    case -13: return "Invalid parameter";
    case -99: return "Timeout";
    default: return "RS-232 error!";
    }
}

int CheckComLine(int port)
{
    int result;

    CopyVarsToPP(0);
    FillTxBuf(5, pp);
    FlushInQ(port);
    FlushOutQ(port);
    nBytesW = ComWrt(port, (const char *)szWriteBuf, FRAME_LEN);
    Delay(0.05);
    nBytesR = ComRd(port, (char *)szReadBuf, FRAME_LEN);
    if (nBytesR != FRAME_LEN) {
        CopyText(szStatus, sizeof szStatus, "Timeout < 36 Bytes");
        result = 0;
    } else if (szReadBuf[4] * 256 + szReadBuf[5] == 0x00AA) {
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
    SetComTime(port, 2.0);
    FlushInQ(port);
    FlushOutQ(port);
    SetCTSMode(port, 0);
    InstallRxCallback(port);

    if (CheckComLine(port) == 1) {
        o.echoOk = 1;
        target = RAM;
        PushGET(RAM, 0);
        int readA = rx_flag == 1;
        target = RAM;
        PushGET(RAM, 1);
        o.readsOk = readA && rx_flag == 1;
        ShowParameters();
        if (GetVERSIONInfo() < 72)
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
    order = (source == RAM) ? 2 : 4;
    CopyVarsToPP(channel);
    FlushInQ(com);
    FlushOutQ(com);
    FillTxBuf(order, pp);
    rx_flag = 0;
    nBytesW = ComWrt(com, (const char *)szWriteBuf, FRAME_LEN);
    if (nBytesW == FRAME_LEN)
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
    CopyVarsToPP(0);
    FillTxBuf(8, pp);
    rx_flag = 0;
    tstart = Timer();
    lastLiveRequest = tstart;
    nBytesW = ComWrt(com, (const char *)szWriteBuf, FRAME_LEN);
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

int GetVERSIONInfo(void)
{
    int n;

    RemoveRxCallback();
    FlushInQ(com);
    FlushOutQ(com);
    order = 7;
    FillTxBuf(7, pp);
    nBytesW = ComWrt(com, (const char *)szWriteBuf, FRAME_LEN);
    ShowStatus("Waiting for firmware info ...");

    tstart = Timer();
    for (;;) {
        n = GetInQLen(com);
        tdiff = Timer() - tstart;
        if (tdiff > 2.0) {
            CopyText(szStatus, sizeof szStatus, "Timeout - reading firmware info!");
            break;
        }
        if (n >= 72)
            break;
        NapBetweenPolls();
    }

    int take = Bounded(n);
    nBytesR = take > 0 ? ComRd(com, (char *)szReadBuf, take) : 0;
    if (nBytesR == 72) {
        // The controller's text need not be terminated: show at most 71 characters.
        szReadBuf[71] = 0;
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
    int n;

    std::memset(szWriteBuf, 0, FRAME_LEN);
    szWriteBuf[0] = (unsigned char)((sync >> 8) & 0xFF);
    szWriteBuf[1] = (unsigned char)(sync & 0xFF);
    szWriteBuf[2] = (unsigned char)((ord >> 8) & 0xFF);
    szWriteBuf[3] = (unsigned char)(ord & 0xFF);
    int offset = (block - 1) * 16;
    szWriteBuf[4] = (unsigned char)((offset >> 8) & 0xFF);
    szWriteBuf[5] = (unsigned char)(offset & 0xFF);
    szWriteBuf[6] = (unsigned char)((source >> 8) & 0xFF);
    szWriteBuf[7] = (unsigned char)(source & 0xFF);

    FlushInQ(com);
    FlushOutQ(com);
    rx_flag = 0;
    nBytesW = ComWrt(com, (const char *)szWriteBuf, FRAME_LEN);

    std::snprintf(szStatus, sizeof szStatus, "Waiting for data package %c ...", '0' + (block % 10));
    ShowStatus(szStatus);

    tstart = Timer();
    for (;;) {
        n = GetInQLen(com);
        tdiff = Timer() - tstart;
        if (tdiff > 1.5) {
            CopyText(szStatus, sizeof szStatus, "Timeout while reading data package!");
            ShowStatus(szStatus);
            result = -1;
            for (int i = 0; i < 128; i++) {
                yArrayA[i] = 0;
                yArrayB[i] = 0;
            }
            break;
        }
        if (n >= FRAME_LEN)
            break;
        NapBetweenPolls();
    }

    int take = Bounded(n);
    nBytesR = take > 0 ? ComRd(com, (char *)szReadBuf, take) : 0;
    if (nBytesR == FRAME_LEN && block >= 1 && block <= 8) {
        AppendText(szStatus, sizeof szStatus, " received!");
        if (source >= 0 && source <= 7) {
            uint16_t *curve = (source == 1 || source == 5 || source == 7) ? yArrayB : yArrayA;
            for (int i = 0; i < 16; i++)
                curve[offset + i] = (uint16_t)(szReadBuf[4 + 2 * i] * 256 + szReadBuf[5 + 2 * i]);
        }
    }
    ShowStatus(szStatus);
    return result;
}
