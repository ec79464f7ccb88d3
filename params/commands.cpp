// commands.cpp - the Teach, Reset and Refresh buttons: the panels' values go
// into the variables first, so the command carries what the user sees.
#include "link/com232.h"
#include "link/protocol.h"
#include "params/params.h"
#include "platform/ui/ui.h"
#include "state/qvar.h"

namespace {

void RunCommand(int32_t code, const char *afterWrite)
{
    GetPanelValues();
    SendCommand(code, afterWrite);
}

} // namespace

int CC_ButtonTeach(int, int, int event, void *, int, int)
{
    if (event == EVENT_LEFT_CLICK)
        ShowStatus("Teach new Reference-Value ...");
    else if (event == EVENT_COMMIT)
        RunCommand(ORDER_TEACH, "New setpoint value teached!");
    return 0;
}

int CC_ButtonReset(int, int, int event, void *, int, int)
{
    if (event == EVENT_COMMIT)
        RunCommand(ORDER_RESET, nullptr);
    return 0;
}

int CC_ButtonRefresh(int, int, int event, void *, int, int)
{
    if (event == EVENT_COMMIT)
        RunCommand(ORDER_REFRESH, nullptr);
    return 0;
}
