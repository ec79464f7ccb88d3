// commands.cpp - the Teach, Reset and Refresh buttons: the panels' values go
// into the variables first, so the command carries what the user sees.
#include "link/com232.h"
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
