// commands.cpp - teach, reset and refresh: one frame to the controller, then
// channel A's parameters are read back from its RAM so the variables hold what
// the controller now uses, and the panels show them. A panel left with the
// old values would hand them to the next Send, which would write a taught
// reference back over.
#include "state/qvar.h"
#include "link/com232.h"
#include "link/protocol.h"
#include "platform/clock.h"
#include "platform/serial/serial.h"
#include "platform/ui/ui.h"

void SendCommand(int32_t code, const char *afterWrite)
{
    FlushInQ(com);
    FlushOutQ(com);
    order = code;
    CopyVarsToPP(CHANNEL_A);
    FillTxBuf(order, pp);
    rx_flag = 0;
    nBytesW = ComWrt(com, (const char *)szWriteBuf, FRAME_BYTES);
    if (nBytesW == FRAME_BYTES)
        ShowStatus("Line Ok!");
    if (afterWrite)
        ShowStatus(afterWrite);

    // The read-back measures its own wait in the same tdiff, so a read-back
    // that times out also ends here as a time-out.
    tstart = Timer();
    SetWaitDeadline(tstart + ANSWER_TIMEOUT);
    bool answered = false;
    do {
        if (rx_flag == 1) {
            answered = true;
            PushGET(RAM, CHANNEL_A);
            if (rx_flag == 1)
                ShowParameters();
            break;
        }
        tdiff = Timer() - tstart;
        ProcessSystemEvents();
    } while (tdiff < ANSWER_TIMEOUT);

    if (tdiff > ANSWER_TIMEOUT) {
        ShowStatus("Timeout RS-232!!");
        // A read-back that ran out has counted itself.
        if (!answered)
            CountLinkTimeout();
    }
}
