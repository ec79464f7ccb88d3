// navigation.cpp - which parameter panel is shown, the recorder panel's
// visibility, and moving the link to another serial port.
//
// The selector buttons only switch each other off; the pressed one keeps
// whatever value its control gives it. Hidden panels keep their values, and
// GetPanelValues reads all three regardless.
#include "app/app.h"
#include "state/qvar.h"
#include "link/com232.h"
#include "platform/serial/serial.h"
#include "recorder/recorder.h"
#include "scope/scope.h"
#include "platform/ui/ui.h"
#include "ui_ids.h"

#include <cstdio>

namespace {

void Select(int event, int offFirst, int offSecond, int hideFirst, int hideSecond, int show)
{
    if (event == EVENT_LEFT_CLICK) {
        SetCtrlVal(panelHandle, offFirst, 0);
        SetCtrlVal(panelHandle, offSecond, 0);
    } else if (event == EVENT_COMMIT) {
        HidePanel(hideFirst);
        HidePanel(hideSecond);
        DisplayPanel(show);
    }
}

} // namespace

int CC_Select_CHA(int, int, int event, void *, int, int)
{
    Select(event, PANEL_SEL_CHB, PANEL_SEL_COM, panelPARA_B, panelPARA_C, panelPARA_A);
    return 0;
}

int CC_Select_CHB(int, int, int event, void *, int, int)
{
    Select(event, PANEL_SEL_CHA, PANEL_SEL_COM, panelPARA_A, panelPARA_C, panelPARA_B);
    return 0;
}

int CC_Select_COM(int, int, int event, void *, int, int)
{
    Select(event, PANEL_SEL_CHA, PANEL_SEL_CHB, panelPARA_B, panelPARA_A, panelPARA_C);
    return 0;
}

int CC_TOGBTNparaII(int, int, int event, void *, int, int)
{
    if (event != EVENT_VAL_CHANGED)
        return 0;
    int on = 0;
    GetCtrlVal(panelHandle, PANEL_TOG_RECORDER, &on);
    if (on)
        DisplayPanel(panelPopUp);
    else
        HidePanel(panelPopUp);
    return 0;
}

// The recorder panel is only hidden, so it keeps its settings.
int CC_POPUP(int, int event, void *, int, int)
{
    if (event == EVENT_CLOSE) {
        HidePanel(panelPopUp);
        SetCtrlVal(panelHandle, PANEL_TOG_RECORDER, 0);
    }
    return 0;
}

void FillPortSelector(void)
{
    static ComPortInfo ports[COM_MAX_PORT];
    int n = GetComPortList(ports, COM_MAX_PORT);
    if (n > COM_MAX_PORT)
        n = COM_MAX_PORT;
    ClearListCtrl(panelHandle, PANEL_COMPORT);
    bool comListed = false;
    for (int i = 0; i < n; i++) {
        char label[sizeof ports[i].description + 16];
        std::snprintf(label, sizeof label, "COM%d - %s", ports[i].number, ports[i].description);
        InsertListItem(panelHandle, PANEL_COMPORT, -1, label, ports[i].number);
        // Listed so the user sees the pin, but nothing there to open.
        if (ports[i].missing)
            SetListItemDimmed(panelHandle, PANEL_COMPORT, i, 1);
        comListed = comListed || ports[i].number == com;
    }
    // A port that vanished stays listed, so the selector never lies about `com`.
    if (!comListed) {
        char label[32];
        std::snprintf(label, sizeof label, "COM%d - not found", com);
        InsertListItem(panelHandle, PANEL_COMPORT, -1, label, com);
        SetListItemDimmed(panelHandle, PANEL_COMPORT, n, 1);
    }
    SetCtrlVal(panelHandle, PANEL_COMPORT, com);
}

void ShowPortInTitle(void)
{
    char title[TEXT_LEN + 16];
    std::snprintf(title, sizeof title, "%s - COM%d", szSoftname, com);
    SetPanelAttribute(panelHandle, ATTR_TITLE, title);
}

int CC_DropDCom(int, int, int event, void *, int, int)
{
    if (event == EVENT_LEFT_CLICK) {
        // Adapters come and go: list what is there when the user looks.
        FillPortSelector();
        return 0;
    }
    if (event != EVENT_COMMIT && event != EVENT_VAL_CHANGED)
        return 0;
    // A loop still polling would take the new port's start exchange for live
    // answers and then time out: it ends first, as its stop button ends it,
    // and leaves the pump as soon as this callback returns.
    if (RecordingRunning())
        StopRecording();
    else if (ScopeRunning())
        CC_BTNStop(panelHandle, PANEL_BTN_STOP, EVENT_COMMIT, nullptr, 0, 0);
    CloseCom(com);
    GetCtrlVal(panelHandle, PANEL_COMPORT, &com);
    ShowStatus("Init COM-Port ...");
    ShowPortInTitle();
    InitRS232(com);
    FillPortSelector();   // a port that would not open now says why
    return 0;
}
