// recording.cpp - the recording loop: polls the controller like the scope,
// keeps the charts going with every answer and appends one line of four live
// values to the recorder file whenever the whole-second count since the last
// line has reached the interval.
//
// Lines are due on the whole-second grid of the seconds counter, so two lines
// lie between interval - 1 and interval seconds plus one answer time apart.
// Nothing written is ever taken back: a stop, a time-out or a failing file
// ends the recording with every line written so far kept.
//
// A new recording replaces the file, but only once its header line is on the
// disk: the header goes into a new file beside the name that then takes the
// name's place, so a recording that cannot even start (a full disk) leaves
// the previous recording as it was. The lines are appended one by one after.
#include "state/qvar.h"
#include "link/com232.h"
#include "link/protocol.h"
#include "platform/clock.h"
#include "platform/files/files.h"
#include "platform/serial/serial.h"
#include "platform/ui/ui.h"
#include "recorder/recorder.h"
#include "scope/scope.h"
#include "ui_ids.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

const char HEADER[] = "Q-VAR-RDX3-RECORDER-FILE: Time-Interval[s]: ";
static_assert(sizeof HEADER - 1 == 44, "the header is 44 characters");

const int RED = 0xFF0000, WHITE = 0xFFFFFF, LIGHT_GREY = 0xE0E0E0, BLACK = 0x000000;

bool recording = false;
// Why the file failed, for the status line once the recording has ended.
char fileProblem[TEXT_LEN + PATH_LEN];

void NoteFileProblem(int code)
{
    const char *slash = std::strrchr(recfile_name, '/');
    std::snprintf(fileProblem, sizeof fileProblem, "Cannot write recorder file! - %s: %s",
                  slash && slash[1] ? slash + 1 : recfile_name, FileErrorText(code));
}

uint16_t WholeSeconds(void)
{
    return (uint16_t)(uint32_t)Timer();
}

void SetStatusBox(const char *text, int background, int foreground)
{
    ResetTextBox(panelPopUp, POPUP_STATUS, text);
    SetCtrlAttribute(panelPopUp, POPUP_STATUS, ATTR_TEXT_BGCOLOR, background);
    SetCtrlAttribute(panelPopUp, POPUP_STATUS, ATTR_TEXT_COLOR, foreground);
}

// The main panel during a recording: Run, Data and the port selector dimmed,
// the chart for the ring's source shown, the recorder's status box red.
void ShowRecordingStarted(void)
{
    SetCtrlAttribute(panelHandle, PANEL_GRAPH_DATA, ATTR_VISIBLE, 0);
    SetCtrlAttribute(panelHandle, PANEL_BTN_RUN, ATTR_DIMMED, 1);
    SetCtrlAttribute(panelHandle, PANEL_BTN_DATA, ATTR_DIMMED, 1);
    SetCtrlAttribute(panelHandle, PANEL_COMPORT, ATTR_DIMMED, 1);
    SetCtrlAttribute(panelPopUp, POPUP_BTN_START, ATTR_DIMMED, 1);

    int source = 0;
    GetCtrlVal(panelHandle, PANEL_GRAPHSOURCE, &source);
    SetCtrlAttribute(panelHandle, PANEL_CHART_RAW, ATTR_VISIBLE, source == SOURCE_RAW);
    SetCtrlAttribute(panelHandle, PANEL_CHART_NORM, ATTR_VISIBLE, source != SOURCE_RAW);

    SetStatusBox("DATA-RECORDER active ...", RED, WHITE);
}

// Draws one answer and, when a line is due, appends it; false if the file
// failed (the recording is then stopped).
bool TakeAnswer(uint16_t interval, uint16_t *lastLine, uint16_t *lines)
{
    uint16_t elapsed = (uint16_t)((uint32_t)Timer() - *lastLine);
    int s = 0;
    GetCtrlVal(panelHandle, PANEL_GRAPHSOURCE, &s);
    if (s == SOURCE_RAW)
        PlotRAWValues();
    else
        PlotNORMValues(arrayNORM);
    if (elapsed >= interval) {
        if (int r = WriteRecorderLine(recfile_name); r < 0) {
            NoteFileProblem(r);
            StopRecording();
            return false;
        }
        (*lines)++;
        SetCtrlVal(panelPopUp, POPUP_LINES, (unsigned)*lines);
        *lastLine = WholeSeconds();
    }
    return true;
}

// The polling loop, from the first answer to a stop, a time-out, the last
// line or a failing file; true if the file failed.
bool RecordLines(uint16_t interval, uint16_t samples)
{
    uint16_t lastLine = WholeSeconds();
    uint16_t lines = 0;
    bool fileFailed = false;
    while (!fileFailed) {
        if (graphrefresh == 1) {
            fileFailed = !TakeAnswer(interval, &lastLine, &lines);
            graphrefresh = 0;
        }
        if (rx_flag == 1 && !fileFailed)
            SendLiveRequest();
        else if (!fileFailed)
            AskAgainForLostAnswer();
        if (LiveAnswerOverdue(ANSWER_TIMEOUT)) {
            ShowStatus("Timeout RS232-Line!");
            stop_flag = 1;
            break;
        }
        if (lines >= samples)
            stop_flag = 1;
        SetWaitDeadline(LiveWaitDeadline(ANSWER_TIMEOUT));
        ProcessSystemEvents();
        if (stop_flag != 0)
            break;
    }
    return fileFailed;
}

void Record(void)
{
    ShowRecordingStarted();

    unsigned short samples = 0, interval = 0;
    GetCtrlVal(panelPopUp, POPUP_SAMPLES, &samples);
    GetCtrlVal(panelPopUp, POPUP_INTERVAL, &interval);

    SetCtrlVal(panelPopUp, POPUP_FILENAME, recfile_name);
    const int started = WriteRecorderHeader(recfile_name, interval);
    bool fileFailed = started < 0;
    if (fileFailed)
        NoteFileProblem(started);

    StartLiveLoop();
    if (fileFailed)
        StopRecording();
    else
        fileFailed = RecordLines(interval, samples);

    rx_flag = 0;
    FlushInQ(com);
    FlushOutQ(com);
    graphrefresh = 0;
    // Nothing polls the port any more, so it may be changed again: a
    // selector left dimmed after a recording that ended by itself gave no
    // hint that only the recorder's stop button would free it.
    SetCtrlAttribute(panelHandle, PANEL_BTN_RUN, ATTR_DIMMED, 0);
    SetCtrlAttribute(panelHandle, PANEL_BTN_DATA, ATTR_DIMMED, 0);
    SetCtrlAttribute(panelHandle, PANEL_COMPORT, ATTR_DIMMED, 0);
    SetCtrlAttribute(panelPopUp, POPUP_BTN_START, ATTR_DIMMED, 0);
    if (fileFailed) {
        SetStatusBox("DATA-RECORDER - cannot write the recorder file!", LIGHT_GREY, RED);
        ShowStatus(fileProblem);
    } else {
        SetStatusBox("DATA-RECORDER", LIGHT_GREY, BLACK);
    }
}

} // namespace

int RecordingRunning(void)
{
    return recording ? 1 : 0;
}

int CC_BTNStartRecord(int, int, int event, void *, int, int)
{
    // The start button is dimmed while recording; the guard also covers a
    // click that reaches us in the very pump in which the stop re-enabled it.
    if (event != EVENT_COMMIT || recording)
        return 0;
    recording = true;
    Record();
    recording = false;
    return 0;
}

int WriteRecorderHeader(const char *file, uint16_t interval)
{
    // The 44 characters as raw bytes, then the interval as the text service
    // writes one number: the same bytes as two appends, in one step.
    char line[sizeof HEADER + 16];
    std::memcpy(line, HEADER, sizeof HEADER - 1);
    uint32_t wide = interval;
    const int n = ArrayToText(line + sizeof HEADER - 1, int(sizeof line - sizeof HEADER + 1), &wide,
                              FILE_ELEM_U32, 1, 1, FILE_GROUPS_TOGETHER, FILE_LAYOUT_COLUMNS,
                              FILE_SEP_TAB, 4);
    if (n < 0)
        return n;
    return WriteWholeFile(file, line, (long long)(sizeof HEADER - 1) + n);
}

int WriteRecorderLine(const char *file)
{
    uint32_t line[4] = {(uint16_t)valNORMA, (uint16_t)valNORMB, adcCHA, adcCHB};
    return ArrayToFile(file, line, FILE_ELEM_U32, 4, 4, FILE_GROUPS_TOGETHER,
                       FILE_LAYOUT_COLUMNS, FILE_SEP_TAB, 4, FILE_TEXT, FILE_APPEND);
}
