// initvars.cpp - the defaults of the program-wide state, and the status line
// and parameter panels as the places where the link's outcomes are shown.
//
// InitVars runs once, after the five panels are loaded and proj_dir is known,
// and before the port is opened: it must not send anything.
#include "state/qvar.h"

#include "app/app.h"

#include "brand/logo.h"
#include "link/protocol.h"
#include "params/params.h"
#include "platform/files/files.h"
#include "platform/ui/ui.h"
#include "recorder/recorder.h"
#include "scope/scope.h"
#include "ui_ids.h"

static StatusListener statusListener;

void SetStatusListener(StatusListener listener)
{
    statusListener = listener;
}

void ShowStatusOnPanel(const char *text)
{
    SetCtrlVal(panelHandle, PANEL_STATUS, text);
    if (statusListener)
        statusListener(text);
}

void InitParameterDefaults(void)
{
    powerA = powerB = 500;
    refA = refB = 2048;
    tolA = tolB = 512;
    hysteresis = 20;
    polarity = 1;
    hold = 100;
    hwmode = 1;
    average = 8;
    evalmode = 0;
    triglvlA = triglvlB = 0xC000;
    trigmode = 0;
    outmode = 0;
    anamode = 0;
}

void InitVars(void)
{
    InitParameterDefaults();

    ref10Bit = 2048;
    tol10Bit = 512;

    com = 1;
    sync = SYNC_WORD;
    order = 1;
    target = RAM;

    type = 1;
    rx_flag = 1;
    stop_flag = 1;

    CopyText(szStatus, sizeof szStatus, "InitVars");
    CopyText(file_name, sizeof file_name, "RDX3para.cfg");
    // A program directory too deep for the record file's name leaves the bare
    // name, which then lands in the working directory, rather than a cut path.
    if (MakePathname(proj_dir, "QVarRecord.dat", recfile_name) < 0)
        CopyText(recfile_name, sizeof recfile_name, "QVarRecord.dat");

    SetCtrlVal(panelPopUp, POPUP_FILENAME, recfile_name);
    CalcRecTime();

    CopyText(szSoftname, sizeof szSoftname, "Q-VAR-RDX3-Scope");
    CopyText(szSoftversion, sizeof szSoftversion, "V2.2x");
    ShowLogo(2);
    ShowStatus(szStatus);

    GetPanelValues();

    FillarrayRAW(0, 0);
    FillarrayNORM(tol10Bit, ref10Bit, 0);
    LabelCharts();
    for (int i = 0; i < 256; i++) {
        xArray[i] = (uint16_t)i;
        yArrayA[i] = 0;
        yArrayB[i] = 0;
    }
}
