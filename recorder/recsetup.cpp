// recsetup.cpp - the recorder panel apart from the recording itself: the
// total recording time, the recorder-file choice, the stop button and
// opening a finished recording.
#include "state/qvar.h"
#include "platform/files/files.h"
#include "platform/ui/ui.h"
#include "recorder/recorder.h"
#include "ui_ids.h"

#include <cstdint>

void CalcRecTime(void)
{
    unsigned short interval = 0, samples = 0;
    GetCtrlVal(panelPopUp, POPUP_INTERVAL, &interval);
    GetCtrlVal(panelPopUp, POPUP_SAMPLES, &samples);
    SetCtrlVal(panelPopUp, POPUP_LINES, 0);

    // 65535 * 65535 s still fits 32 bits, and its 49708 days fit 16.
    uint32_t total = (uint32_t)interval * (uint32_t)samples;
    uint32_t days = total / 86400;
    total -= days * 86400;
    uint32_t hours = total / 3600;
    total -= hours * 3600;
    uint32_t minutes = total / 60;
    total -= minutes * 60;
    SetCtrlVal(panelPopUp, POPUP_DAYS, (unsigned)(uint16_t)days);
    SetCtrlVal(panelPopUp, POPUP_HOURS, (unsigned)(uint16_t)hours);
    SetCtrlVal(panelPopUp, POPUP_MINUTES, (unsigned)(uint16_t)minutes);
    SetCtrlVal(panelPopUp, POPUP_SECONDS, (unsigned)(uint16_t)total);
}

int CC_NEDITRecTime(int, int, int event, void *, int, int)
{
    if (event == EVENT_COMMIT)
        CalcRecTime();
    return 0;
}

int CC_NEDITRecSamples(int, int, int event, void *, int, int)
{
    if (event == EVENT_COMMIT)
        CalcRecTime();
    return 0;
}

int CC_RecordFileNameBtn(int, int, int event, void *, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;
    ret = FileSelectPopup(proj_dir, "QVARrecord.dat", "*.dat", "Q-VAR-Series Recorder-File:",
                          FILE_BUTTON_OK, 0, 1, 1, 1, recfile_name);
    // Only a choice: the dialog has asked before an existing file was
    // chosen, and the file is replaced when a recording starts, so a choice
    // without a recording, or one that cannot start, costs no earlier one.
    if (ret == 1 || ret == 2)
        SetCtrlVal(panelPopUp, POPUP_FILENAME, recfile_name);
    return 0;
}

void StopRecording(void)
{
    stop_flag = 1;
    SetCtrlAttribute(panelHandle, PANEL_BTN_RUN, ATTR_DIMMED, 0);
    SetCtrlAttribute(panelHandle, PANEL_BTN_DATA, ATTR_DIMMED, 0);
    SetCtrlAttribute(panelHandle, PANEL_COMPORT, ATTR_DIMMED, 0);
    SetCtrlAttribute(panelHandle, PANEL_GRAPHSOURCE, ATTR_DIMMED, 0);
    SetCtrlAttribute(panelPopUp, POPUP_BTN_START, ATTR_DIMMED, 0);
}

// Does not wait for the loop: it sees stop_flag at the end of its pass.
int CC_BTNStopRecord(int, int, int event, void *, int, int)
{
    if (event == EVENT_COMMIT)
        StopRecording();
    return 0;
}

int CC_BTNOpenRecording(int, int, int event, void *, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;
    // The dialog holds the event loop: while the scope, a recording or a
    // data fetch polls (Run is dimmed then), no request may wait for it, so
    // the button does nothing until the line is free. The file itself is
    // read beside the loop, in the window ShowRecording opens.
    int busy = 0;
    if (GetCtrlAttribute(panelHandle, PANEL_BTN_RUN, ATTR_DIMMED, &busy) == 0 && busy)
        return 0;
    // A path of its own: the recorder file being written stays as chosen.
    char path[FILE_PATH_MAX] = "";
    if (FileSelectPopup(proj_dir, "*.dat", "*.dat", "Open recording", FILE_BUTTON_LOAD, 0, 1, 1, 0, path) == 1)
        ShowRecording(path);
    return 0;
}
