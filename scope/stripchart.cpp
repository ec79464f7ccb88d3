// stripchart.cpp - one live-value answer becomes one new point on the RAW or
// the NORM strip chart. The controller sends the normalised values, maxima
// and minima ready-made; only the switching band (reference +/- tolerance,
// limited to the chart's 1..1024 scale) is worked out here.
#include "state/qvar.h"
#include "link/protocol.h"
#include "params/params.h"
#include "platform/ui/ui.h"
#include "scope/scope.h"
#include "ui_ids.h"

#include <cstring>

namespace {

enum { POINTS = 100 };

// Points of each history drawn from answers since it was last filled: the
// fill (zeros, or a band the next answers may not share) is not drawn.
int measuredRAW = 0, measuredNORM = 0;

void UnpackLiveValues(void)
{
    valNORMA = pp[LV_NORM_A];
    valNORMB = pp[LV_NORM_B];
    adcCHA = pp[LV_ADC_A];
    adcCHB = pp[LV_ADC_B];
    Amax = pp[LV_AMAX];
    Bmax = pp[LV_BMAX];
    MAXvalA = pp[LV_MAX_A];
    MAXvalB = pp[LV_MAX_B];
    MINvalA = pp[LV_MIN_A];
    MINvalB = pp[LV_MIN_B];
    tolval = pp[LV_TOLVAL];
    btnval = pp[LV_BTNVAL];
    inputs = pp[LV_INPUTS];
    tempC = pp[LV_TEMP];
    triggHI = pp[LV_TRIGG_HI];
    triggLO = pp[LV_TRIGG_LO];
}

int RingSource(void)
{
    int s = 0;
    GetCtrlVal(panelHandle, PANEL_GRAPHSOURCE, &s);
    return s;
}

// Trace names for the legend, the crosshair and the chart's data file.
const char *const rawNames[] = {"channel A", "channel B"};
const char *const normNames[] = {"upper threshold", "lower threshold", "reference", "maximum", "minimum", "value"};

// The NORM chart's title: the graph source it shows, as the ring names it.
const char *const sourceNames[] = {"NORM-A", "NORM-B", "NORM-AB", "NORM-T",
                                   "MAX (A)", "MAX (B)", "MIN (A)", "MIN (B)"};

void PrepareChart(int chart, int traces)
{
    SetCtrlAttribute(panelHandle, chart, ATTR_POINTS_PER_SCREEN, POINTS + 1);
    SetCtrlAttribute(panelHandle, chart, ATTR_SCROLL_MODE, SCROLL_CONTINUOUS);
    SetCtrlAttribute(panelHandle, chart, ATTR_NUM_TRACES, traces);
    const char *const *names = chart == PANEL_CHART_RAW ? rawNames : normNames;
    for (int t = 0; t < traces; t++)
        SetStripChartTraceName(panelHandle, chart, t + 1, names[t]);
}

void ColourRAW(void)
{
    SetTraceAttribute(panelHandle, PANEL_CHART_RAW, 1, ATTR_TRACE_COLOR, COLOR_RAW_A);
    SetTraceAttribute(panelHandle, PANEL_CHART_RAW, 2, ATTR_TRACE_COLOR, COLOR_RAW_B);
}

// Maximum, minimum and a channel A source's value share one red, and a
// channel B source's dark grey is hard to tell from the reference's black:
// line styles tell them apart.
void ColourNORM(int source)
{
    SetTraceAttribute(panelHandle, PANEL_CHART_NORM, 1, ATTR_TRACE_COLOR, COLOR_BAND);
    SetTraceAttribute(panelHandle, PANEL_CHART_NORM, 2, ATTR_TRACE_COLOR, COLOR_BAND);
    SetTraceAttribute(panelHandle, PANEL_CHART_NORM, 3, ATTR_TRACE_COLOR, COLOR_REFERENCE);
    SetTraceAttribute(panelHandle, PANEL_CHART_NORM, 4, ATTR_TRACE_COLOR, COLOR_EXTREME);
    SetTraceAttribute(panelHandle, PANEL_CHART_NORM, 5, ATTR_TRACE_COLOR, COLOR_EXTREME);
    SetTraceAttribute(panelHandle, PANEL_CHART_NORM, 3, ATTR_TRACE_LINE_STYLE, LINE_DASH_DOT);
    SetTraceAttribute(panelHandle, PANEL_CHART_NORM, 4, ATTR_TRACE_LINE_STYLE, LINE_DASH);
    SetTraceAttribute(panelHandle, PANEL_CHART_NORM, 5, ATTR_TRACE_LINE_STYLE, LINE_DOT);
    // Other sources keep the colour the value had.
    if (IsNormSource(source) && source != SOURCE_NORM_T)
        SetTraceAttribute(panelHandle, PANEL_CHART_NORM, 6, ATTR_TRACE_COLOR,
                          IsChannelBSource(source) ? COLOR_VALUE_B : COLOR_VALUE_A);
    if (IsNormSource(source))
        SetCtrlAttribute(panelHandle, PANEL_CHART_NORM, ATTR_LABEL_TEXT, sourceNames[source]);
}

} // namespace

void LabelCharts(void)
{
    PrepareChart(PANEL_CHART_RAW, 2);
    ColourRAW();
    PrepareChart(PANEL_CHART_NORM, 6);
    ColourNORM(RingSource());
}

int Copy1D(const double *x, int n, double *y)
{
    if (n < 1)
        return -20003;
    std::memmove(y, x, sizeof(double) * (size_t)n);
    return 0;
}

// Copies in the direction that lets x and y be the same array.
int Shift(const double *x, int n, int shifts, double *y)
{
    if (n < 1)
        return -20003;
    int magnitude = shifts < 0 ? -shifts : shifts;
    if (magnitude >= n)
        return -20102;
    if (shifts == 0)
        return Copy1D(x, n, y);
    if (shifts > 0) {
        for (int k = n - 1; k >= shifts; k--)
            y[k] = x[k - shifts];
        for (int k = 0; k < shifts; k++)
            y[k] = 0.0;
    } else {
        int s = -shifts;
        for (int k = 0; k <= n - s - 1; k++)
            y[k] = x[k + s];
        for (int k = n - s; k < n; k++)
            y[k] = 0.0;
    }
    return 0;
}

void FillarrayRAW(int a, int b)
{
    measuredRAW = 0;
    for (int p = 0; p < POINTS; p++) {
        arrayRAW[2 * p] = a;
        arrayRAW[2 * p + 1] = b;
    }
}

void FillarrayNORM(int tol, int ref, int v)
{
    measuredNORM = 0;
    for (int p = 0; p < POINTS; p++) {
        double *point = &arrayNORM[6 * p];
        point[0] = ref + tol;
        point[1] = ref - tol;
        point[2] = ref;
        point[3] = v;
        point[4] = v;
        point[5] = v;
    }
}

void PlotRAWValues(void)
{
    Shift(arrayRAW, 2 * POINTS, -2, arrayRAW);
    UnpackLiveValues();
    PrepareChart(PANEL_CHART_RAW, 2);
    // Other sources show the NORM chart; the RAW history still moves on, with
    // zeros, so both charts stay in step.
    if (RingSource() == SOURCE_RAW) {
        arrayRAW[2 * POINTS - 2] = adcCHA;
        arrayRAW[2 * POINTS - 1] = adcCHB;
        ColourRAW();
    }
    if (measuredRAW < POINTS)
        measuredRAW++;
    // Only what was measured: the history's fill is neither drawn nor kept.
    PlotStripChart(panelHandle, PANEL_CHART_RAW, arrayRAW, 2 * measuredRAW, 2 * (POINTS - measuredRAW), 0);
    SetPanelDATA();
}

void PlotNORMValues(double *history)
{
    Shift(history, 6 * POINTS, -6, history);
    UnpackLiveValues();

    int s = RingSource();
    int maximum = 0, minimum = 0;
    if (s == SOURCE_NORM_A || s == SOURCE_NORM_AB || s == SOURCE_MAX_A || s == SOURCE_MIN_A) {
        int tol = (uint16_t)tolA;
        upTHR = refA + tol;
        loTHR = refA - tol;
        valREF = (uint16_t)refA;
        maximum = MAXvalA;
        minimum = MINvalA;
    } else if (IsChannelBSource(s)) {
        int tol = (uint16_t)tolB;
        upTHR = refB + tol;
        loTHR = refB - tol;
        valREF = (uint16_t)refB;
        maximum = MAXvalB;
        minimum = MINvalB;
    } else {
        upTHR = loTHR = 0;
        valREF = 0;
    }

    switch (s) {
    case SOURCE_NORM_A: valNORM = valNORMA; break;
    case SOURCE_NORM_B: valNORM = valNORMB; break;
    case SOURCE_NORM_AB: valNORM = valNORMA; break;
    case SOURCE_NORM_T: valNORM = triggHI; break;
    case SOURCE_MAX_A: valNORM = MAXvalA; break;
    case SOURCE_MAX_B: valNORM = MAXvalB; break;
    case SOURCE_MIN_A: valNORM = MINvalA; break;
    case SOURCE_MIN_B: valNORM = MINvalB; break;
    default: break;
    }

    if (upTHR > 1024)
        upTHR = 1024;
    if (loTHR < 1)
        loTHR = 1;

    double *newest = &history[6 * (POINTS - 1)];
    newest[0] = upTHR;
    newest[1] = loTHR;
    newest[2] = valREF;
    newest[3] = maximum;
    newest[4] = minimum;
    newest[5] = valNORM;

    PrepareChart(PANEL_CHART_NORM, 6);
    ColourNORM(s);
    if (measuredNORM < POINTS)
        measuredNORM++;
    PlotStripChart(panelHandle, PANEL_CHART_NORM, history, 6 * measuredNORM, 6 * (POINTS - measuredNORM), 0);
    SetPanelDATA();
}
