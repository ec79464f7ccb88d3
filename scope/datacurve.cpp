// datacurve.cpp - the recorded 128-point curve: fetched in eight blocks of 16
// points (ORDER_CURVE_BLOCK) with the receive callback removed, so the direct
// block reads get the answers, then drawn with its maximum, minimum,
// reference and a step line at the trigger position.
#include "state/qvar.h"
#include "link/com232.h"
#include "link/protocol.h"
#include "params/params.h"
#include "platform/clock.h"
#include "platform/serial/serial.h"
#include "platform/ui/ui.h"
#include "scope/scope.h"
#include "ui_ids.h"

namespace {

struct CurveSetup {
    uint16_t *curve;
    uint16_t *step;
    int trigger;
    int reference;
};

bool AcceptedFor(int source)
{
    // Trigger modes outside 0..5 are newer than this table: let the controller decide.
    if (trigmode < 0 || trigmode > 5)
        return true;
    if (source == SOURCE_NORM_A || source == SOURCE_NORM_B)
        return trigmode == 1 || trigmode == 2;
    return trigmode == 3 || trigmode == 4;
}

// Averaging 0 means no averaging: treated as 1, so 8 / average never divides
// by zero.
int AverageCorrection(void)
{
    return average >= 1 ? 8 / average : 8;
}

bool SetUp(int source, CurveSetup *setup)
{
    switch (source) {
    case SOURCE_NORM_A:
        *setup = {yArrayA, yArrayB, CURVE_POINTS - pretriggerA - AverageCorrection(),
                  triglvlA & TRIGGER_LEVEL_MASK};
        break;
    case SOURCE_NORM_B:
        *setup = {yArrayB, yArrayA, CURVE_POINTS - pretriggerB - AverageCorrection(),
                  triglvlB & TRIGGER_LEVEL_MASK};
        break;
    case SOURCE_MAX_A:
    case SOURCE_MIN_A:
        *setup = {yArrayA, yArrayB, 0, refA};
        break;
    case SOURCE_MAX_B:
    case SOURCE_MIN_B:
        *setup = {yArrayB, yArrayA, 0, refB};
        break;
    default:
        return false;
    }
    if (!AcceptedFor(source))
        return false;
    if (setup->trigger < 0)
        setup->trigger = 0;
    return true;
}

const char *FormulaText(int source)
{
    switch (source) {
    case SOURCE_NORM_A: return "NORM-A=1024*(A/Amax)";
    case SOURCE_NORM_B: return "NORM-B=1024*(B/Bmax)";
    case SOURCE_NORM_AB: return "NORM-AB=0.5*(NORM-A+NORM-B)";
    case SOURCE_NORM_T: return "NORM-T=1024*On/(On+Off)";
    case SOURCE_MAX_A: return "MAX (A)=1024*(max(A)/Amax)";
    case SOURCE_MAX_B: return "MAX (B)=1024*(max(B)/Bmax)";
    case SOURCE_MIN_A: return "MIN (A)=1024*(min(A)/Amax)";
    case SOURCE_MIN_B: return "MIN (B)=1024*(min(B)/Bmax)";
    default: return "OTHER";
    }
}

void PauseWithEvents(double seconds)
{
    double t0 = Timer();
    while (Timer() - t0 < seconds) {
        SetWaitDeadline(t0 + seconds);
        ProcessSystemEvents();
    }
}

// The controls that could start a second exchange while the block reads own
// the line: Run, Data, the graph source ring and the recorder's start.
void DimStarters(int dimmed)
{
    SetCtrlAttribute(panelHandle, PANEL_BTN_RUN, ATTR_DIMMED, dimmed);
    SetCtrlAttribute(panelHandle, PANEL_BTN_DATA, ATTR_DIMMED, dimmed);
    SetCtrlAttribute(panelHandle, PANEL_GRAPHSOURCE, ATTR_DIMMED, dimmed);
    SetCtrlAttribute(panelPopUp, POPUP_BTN_START, ATTR_DIMMED, dimmed);
}

bool curveBusy = false;

// The curve of `source` in eight blocks with the maximum, minimum, reference
// and step lines worked out: 0; 1 when the source has no valid data for the
// trigger mode (nothing is fetched); -1 when a block timed out.
int FetchCurve(int source, CurveSetup *setup)
{
    if (!SetUp(source, setup)) {
        ShowStatus("No valid DATA available for this source.");
        return 1;
    }

    for (int block = 1; block <= CURVE_BLOCKS; block++) {
        order = ORDER_CURVE_BLOCK;
        if (ReadData256(block, source, ORDER_CURVE_BLOCK) != 0)
            return -1;
        ShowStatus(szStatus);
        PauseWithEvents(0.1);
    }

    uint16_t maximum = setup->curve[0], minimum = setup->curve[0];
    for (int i = 0; i < CURVE_POINTS; i++) {
        if (setup->curve[i] > maximum)
            maximum = setup->curve[i];
        if (setup->curve[i] < minimum)
            minimum = setup->curve[i];
    }
    for (int i = 0; i < CURVE_POINTS; i++) {
        setup->step[i] = i < setup->trigger ? 0 : 1024;
        refArray[i] = (uint16_t)setup->reference;
        upArray[i] = maximum;
        loArray[i] = minimum;
    }
    return 0;
}

void FetchAndDraw(void)
{
    int source = 0;
    GetCtrlVal(panelHandle, PANEL_GRAPHSOURCE, &source);
    CurveSetup setup;
    if (FetchCurve(source, &setup) == 0)
        PlotDATACurve(setup.step, setup.curve, upArray, loArray, refArray);
}

// One live-value exchange first, so the displays are current; pp goes out
// as it is. Right after Stop the scope's last answer may still be on the
// line: taken for this request's answer, it would leave this request's own
// answer to arrive during the first curve block and be read as that block.
// So the line settles first, as it does for Run.
void LiveExchange(void)
{
    SettleLiveLine();
    FlushInQ(com);
    FlushOutQ(com);
    rx_flag = 0;
    order = ORDER_LIVE_VALUES;
    FillTxBuf(ORDER_LIVE_VALUES, pp);
    nBytesW = ComWrt(com, (const char *)szWriteBuf, FRAME_BYTES);
    WaitRxFull();
}

// The block reads take the queue themselves, without the receive callback.
void TakeLine(void)
{
    RemoveRxCallback();
    FlushInQ(com);
    FlushOutQ(com);
}

void GiveLineBack(void)
{
    InstallRxCallback(com);
    FlushOutQ(com);
    FlushInQ(com);
}

} // namespace

int CC_BTNData(int, int, int event, void *, int, int)
{
    if (event != EVENT_COMMIT || curveBusy)
        return 0;
    curveBusy = true;
    DimStarters(1);

    SetCtrlAttribute(panelHandle, PANEL_CHART_RAW, ATTR_VISIBLE, 0);
    SetCtrlAttribute(panelHandle, PANEL_CHART_NORM, ATTR_VISIBLE, 0);
    SetCtrlAttribute(panelHandle, PANEL_GRAPH_DATA, ATTR_VISIBLE, 1);

    LiveExchange();
    SetPanelDATA();
    TakeLine();
    FetchAndDraw();
    // Every way out gives the line back to the receive callback.
    GiveLineBack();
    DimStarters(0);
    curveBusy = false;
    return 0;
}

int FetchDataCurve(int source, DataCurve *out)
{
    LiveExchange();
    TakeLine();
    CurveSetup setup;
    int r = FetchCurve(source, &setup);
    GiveLineBack();
    if (r == 0 && out)
        *out = {setup.curve, setup.step, upArray, loArray, refArray};
    return r;
}

void PlotDATACurve(const uint16_t *step, const uint16_t *curve, const uint16_t *upper,
                   const uint16_t *lower, const uint16_t *reference)
{
    SetCtrlAttribute(panelHandle, PANEL_CHART_RAW, ATTR_VISIBLE, 0);
    SetCtrlAttribute(panelHandle, PANEL_CHART_NORM, ATTR_VISIBLE, 0);
    SetAxisScalingMode(panelHandle, PANEL_GRAPH_DATA, AXIS_X, AXIS_MANUAL, 1.0, (double)CURVE_POINTS);
    DeleteGraphPlot(panelHandle, PANEL_GRAPH_DATA, -1, REFRESH_DELAYED);

    int source = 0;
    GetCtrlVal(panelHandle, PANEL_GRAPHSOURCE, &source);
    SetCtrlAttribute(panelHandle, PANEL_GRAPH_DATA, ATTR_LABEL_TEXT, FormulaText(source));
    SetAxisScalingMode(panelHandle, PANEL_GRAPH_DATA, AXIS_Y, AXIS_MANUAL, 0.0, 1024.0);

    const int n = CURVE_POINTS;
    // Named for the crosshair and the chart's data file.
    auto plot = [&](const uint16_t *y, int style, int line, int colour, const char *name) {
        SetGraphPlotName(panelHandle, PANEL_GRAPH_DATA,
                         PlotXY(panelHandle, PANEL_GRAPH_DATA, xArray, y, n, style, POINT_NONE, line, colour), name);
    };
    // The curve's extremes are drawn as the NORM chart draws the controller's:
    // in black they would share the colour of a maximum or minimum curve's
    // reference line.
    plot(upper, PLOT_THIN_LINE, LINE_DASH, COLOR_EXTREME, "curve maximum");
    plot(lower, PLOT_THIN_LINE, LINE_DOT, COLOR_EXTREME, "curve minimum");
    plot(step, PLOT_THIN_LINE, LINE_DASH, COLOR_TRIGGER, "trigger step");
    if (IsNormSource(source) && source != SOURCE_NORM_AB && source != SOURCE_NORM_T) {
        int colour = IsChannelBSource(source) ? COLOR_VALUE_B : COLOR_VALUE_A;
        plot(curve, PLOT_THICK_LINE, LINE_SOLID, colour, "curve");
    }
    // A NORM curve's line is the trigger level, in the trigger's blue; a
    // maximum or minimum curve's is the channel's reference, drawn as the
    // NORM chart draws it. Dash-dot tells it from the step's dashes.
    if (source == SOURCE_NORM_A || source == SOURCE_NORM_B)
        plot(reference, PLOT_THIN_LINE, LINE_DASH_DOT, COLOR_TRIGGER, "trigger level");
    else
        plot(reference, PLOT_THIN_LINE, LINE_DASH_DOT, COLOR_REFERENCE, "reference");
}
