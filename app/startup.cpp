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

#include <cstdio>

namespace {
const char UIR[] = "QVARRDX3V20.uir";

// Start-up ends without a window on these; the user learns why only here.
void SayWhereResourcesWereSought(void)
{
    char dirs[FILE_RESOURCE_DIRS][FILE_PATH_MAX];
    const int n = GetResourceDirs(dirs);
    std::fprintf(stderr, "qvar-scope: folders searched for resource files:");
    for (int i = 0; i < n; i++)
        std::fprintf(stderr, " %s%s", dirs[i], i + 1 < n ? "," : "");
    std::fprintf(stderr, "\n");
}

int LoadOrSay(int parent, const char *file, int number)
{
    int handle = LoadPanel(parent, file, number);
    if (handle < 0) {
        std::fprintf(stderr, "qvar-scope: cannot load panel %d of the resource file %s\n", number,
                     LoadPanelError());
        SayWhereResourcesWereSought();
    }
    return handle;
}

// Without a folder of its own the recorder would write into whatever the
// working directory is; it writes nowhere until a file is chosen instead.
void NoProjectDir(void)
{
    recfile_name[0] = '\0';
    SetCtrlVal(panelPopUp, POPUP_FILENAME, recfile_name);
    ResetTextBox(panelPopUp, POPUP_STATUS,
                 "DATA-RECORDER - no folder for the recorder file (no home folder): choose a file");
}
} // namespace

int StartUp(int argc, char *argv[])
{
    if (!InitUserInterface(argc, argv))
        return -1;
    SetCallbackTable(qvarCallbacks, qvarCallbackCount);
    SetControlNames(qvarControlNames, qvarControlNameCount);

    char uir[FILE_PATH_MAX];
    if (FindResourceFile(UIR, uir) < 0) {
        std::fprintf(stderr, "qvar-scope: resource file %s not found\n", UIR);
        SayWhereResourcesWereSought();
        return -1;
    }
    // A failed load ends the program at once; the process end releases what
    // was loaded before.
    if ((panelHandle = LoadOrSay(0, uir, PANEL)) < 0)
        return -1;
    if ((panelPopUp = LoadOrSay(0, uir, POPUP)) < 0)
        return -1;
    if ((panelPARA_A = LoadOrSay(panelHandle, uir, PARA_A)) < 0)
        return -1;
    if ((panelPARA_B = LoadOrSay(panelHandle, uir, PARA_B)) < 0)
        return -1;
    if ((panelPARA_C = LoadOrSay(panelHandle, uir, PARA_C)) < 0)
        return -1;
    // From here a session's end closes the panel; a signal that comes during
    // the start exchange waits in the pump for the event loop.
    CloseOnTermination(panelHandle);

    // The link reports to the main panel from here on.
    SetStatusSink(ShowStatusOnPanel);
    SetChartMessageCallback(ShowStatus);
    SetParameterSink(ShowReadParameters);
    bool haveProjectDir = GetProjectDir(proj_dir) == 0;
    InitVars();
    ApplyUserChoices();
    if (!haveProjectDir)
        NoProjectDir();
    FillPortSelector();

    ShowPortInTitle();
    InitRS232(com);

    // The charts grow with the main window; the recorder panel keeps its size.
    SetPanelAttribute(panelHandle, ATTR_SIZABLE, 1);
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
    CloseOnTermination(0);
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
