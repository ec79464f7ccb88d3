// scope_loop.cpp - the live scope: a strict ping-pong of live-value requests
// (ORDER_LIVE_VALUES) inside the Run button's callback, one request out, its answer
// drawn, the next request out. Never more than one request is outstanding, and
// an answer is always unpacked before the next request overwrites pp.
//
// The loop pumps events once per pass; the Stop buttons, the panel close and
// the receive callback run nested there and talk to it through stop_flag,
// rx_flag and graphrefresh.
#include "state/qvar.h"
#include "link/com232.h"
#include "link/protocol.h"
#include "platform/clock.h"
#include "platform/serial/serial.h"
#include "platform/ui/ui.h"
#include "scope/scope.h"
#include "ui_ids.h"

namespace {

// While CC_BTNRun's loop is on the stack, whatever pumps below it.
bool running = false;

void Dim(int control, int dimmed)
{
    SetCtrlAttribute(panelHandle, control, ATTR_DIMMED, dimmed);
}

} // namespace

int ScopeRunning(void)
{
    return running ? 1 : 0;
}

void ShowChartFor(int source, int fromRun)
{
    if (IsNormSource(source)) {
        SetCtrlAttribute(panelHandle, PANEL_CHART_RAW, ATTR_VISIBLE, 0);
        SetCtrlAttribute(panelHandle, PANEL_CHART_NORM, ATTR_VISIBLE, 1);
        type = 1;
    } else if (source == SOURCE_RAW) {
        SetAxisScalingMode(panelHandle, PANEL_CHART_RAW, AXIS_Y, AXIS_MANUAL, 0.0, 4096.0);
        SetCtrlAttribute(panelHandle, PANEL_CHART_RAW, ATTR_VISIBLE, 1);
        SetCtrlAttribute(panelHandle, PANEL_CHART_NORM, ATTR_VISIBLE, 0);
        type = 0;
    } else if (source == SOURCE_NONE) {
        SetCtrlAttribute(panelHandle, PANEL_CHART_RAW, ATTR_VISIBLE, 0);
        SetCtrlAttribute(panelHandle, PANEL_CHART_NORM, ATTR_VISIBLE, 0);
        // Run stops drawing for "none"; the ring alone keeps the plot kind.
        if (fromRun)
            type = 2;
    }
}

int CC_BTNRun(int, int, int event, void *, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;

    SetCtrlAttribute(panelHandle, PANEL_GRAPH_DATA, ATTR_VISIBLE, 0);
    Dim(PANEL_BTN_RUN, 1);
    Dim(PANEL_BTN_DATA, 1);
    Dim(PANEL_GRAPHSOURCE, 1);

    int source = 0;
    GetCtrlVal(panelHandle, PANEL_GRAPHSOURCE, &source);
    ShowChartFor(source, 1);

    StartLiveLoop();
    FillarrayNORM(tolA, refA, 0);

    running = true;
    do {
        if (type == 0 && graphrefresh == 1)
            PlotRAWValues();
        if (type == 1 && graphrefresh == 1)
            PlotNORMValues(arrayNORM);
        if (type == 0 || type == 1) {
            graphrefresh = 0;
            if (rx_flag == 1)
                SendLiveRequest();
            else
                AskAgainForLostAnswer();
            // The scope's own time-out; not the 1.5 s of the other waits.
            if (LiveAnswerOverdue(SCOPE_TIMEOUT)) {
                // Left dimmed on purpose: the user acknowledges with Stop.
                ShowStatus("Timeout RS232-Line!");
                stop_flag = 1;
                running = false;
                return 1;
            }
        }
        SetWaitDeadline(LiveWaitDeadline(SCOPE_TIMEOUT));
        ProcessSystemEvents();
    } while (stop_flag == 0);
    running = false;

    rx_flag = 0;
    FlushInQ(com);
    FlushOutQ(com);
    graphrefresh = 0;
    Dim(PANEL_BTN_RUN, 0);
    return 0;
}

int CC_BTNStop(int, int, int event, void *, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;
    rx_flag = 0;
    FlushInQ(com);
    FlushOutQ(com);
    stop_flag = 1;
    graphrefresh = 0;
    Dim(PANEL_BTN_RUN, 0);
    Dim(PANEL_BTN_DATA, 0);
    Dim(PANEL_GRAPHSOURCE, 0);
    // The charts keep their last picture until the next drawing.
    FillarrayRAW(0, 0);
    FillarrayNORM(tol10Bit, ref10Bit, 0);
    return 0;
}

int CC_RNGGraphSource(int, int, int event, void *, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;
    int source = 0;
    GetCtrlVal(panelHandle, PANEL_GRAPHSOURCE, &source);
    ShowChartFor(source, 0);
    return 0;
}
