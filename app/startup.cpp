// startup.cpp - the program's entry and exit: the run-time, the five panels,
// the defaults, the start exchange with the controller, the event loop, and
// the shutdown when the main panel is closed.
#include "app/app.h"
#include "state/qvar.h"
#include "link/com232.h"
#include "params/params.h"
#include "platform/files/files.h"
#include "platform/serial/serial.h"
#include "platform/ui/ui.h"
#include "ui_ids.h"

namespace {
const char UIR[] = "QVARRDX3V20.uir";
}

int StartUp(int argc, char *argv[])
{
    if (!InitUserInterface(argc, argv))
        return -1;
    SetCallbackTable(qvarCallbacks, qvarCallbackCount);

    // A failed load ends the program at once; the process end releases what
    // was loaded before.
    if ((panelHandle = LoadPanel(0, UIR, PANEL)) < 0)
        return -1;
    if ((panelPopUp = LoadPanel(0, UIR, POPUP)) < 0)
        return -1;
    if ((panelPARA_A = LoadPanel(panelHandle, UIR, PARA_A)) < 0)
        return -1;
    if ((panelPARA_B = LoadPanel(panelHandle, UIR, PARA_B)) < 0)
        return -1;
    if ((panelPARA_C = LoadPanel(panelHandle, UIR, PARA_C)) < 0)
        return -1;

    // The link reports to the main panel from here on.
    SetStatusSink(ShowStatusOnPanel);
    SetParameterSink(SetPanelValues);
    GetProjectDir(proj_dir);
    InitVars();
    FillPortSelector();

    InitRS232(com);

    DisplayPanel(panelHandle);
    SetPanelPos(panelPARA_A, 105, 10);
    SetPanelPos(panelPARA_B, 105, 10);
    SetPanelPos(panelPARA_C, 105, 10);
    DisplayPanel(panelPARA_A);
    SetCtrlVal(panelHandle, PANEL_SEL_CHA, 1);
    return 0;
}

void ShutDown(void)
{
    // The port may already be closed by the panel close; that error is moot.
    CloseCom(com);
    DiscardPanel(panelPARA_C);
    DiscardPanel(panelPARA_B);
    DiscardPanel(panelPARA_A);
    DiscardPanel(panelPopUp);
    DiscardPanel(panelHandle);
}

int QvarMain(int argc, char *argv[])
{
    if (StartUp(argc, argv) < 0)
        return -1;
    RunUserInterface();
    ShutDown();
    return 0;
}

int CC_PANEL(int, int event, void *, int, int)
{
    if (event == EVENT_CLOSE) {
        // A scope or recording loop running below us ends at its next check.
        stop_flag = 1;
        CloseCom(com);
        QuitUserInterface(0);
    }
    return 0;
}
