// commands.cpp - teach, reset and refresh: one frame to the controller, then
// channel A's parameters are read back from its RAM so the variables hold what
// the controller now uses. The panels are not refreshed: the user sees the
// result with the next Get.
#include "state/qvar.h"
#include "link/com232.h"
#include "params/params.h"
#include "platform/clock.h"
#include "platform/serial/serial.h"
#include "platform/ui/ui.h"

namespace {

void RunCommand(int32_t code, const char *afterWrite)
{
    FlushInQ(com);
    FlushOutQ(com);
    order = code;
    GetPanelValues();
    CopyVarsToPP(0);
    FillTxBuf(order, pp);
    rx_flag = 0;
    nBytesW = ComWrt(com, (const char *)szWriteBuf, FRAME_LEN);
    if (nBytesW == FRAME_LEN)
        ShowStatus("Line Ok!");
    if (afterWrite)
        ShowStatus(afterWrite);

    // The read-back measures its own wait in the same tdiff, so a read-back
    // that times out also ends here as a time-out.
    tstart = Timer();
    do {
        if (rx_flag == 1) {
            PushGET(RAM, 0);
            break;
        }
        tdiff = Timer() - tstart;
        ProcessSystemEvents();
    } while (tdiff < TIMEOUT);

    if (tdiff > TIMEOUT)
        ShowStatus("Timeout RS-232!!");
}

} // namespace

int CC_ButtonTeach(int, int, int event, void *, int, int)
{
    if (event == EVENT_LEFT_CLICK)
        ShowStatus("Teach new Reference-Value ...");
    else if (event == EVENT_COMMIT)
        RunCommand(6, "New setpoint value teached!");
    return 0;
}

int CC_ButtonReset(int, int, int event, void *, int, int)
{
    if (event == EVENT_COMMIT)
        RunCommand(10, nullptr);
    return 0;
}

int CC_ButtonRefresh(int, int, int event, void *, int, int)
{
    if (event == EVENT_COMMIT)
        RunCommand(11, nullptr);
    return 0;
}
