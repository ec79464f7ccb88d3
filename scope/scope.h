// scope.h - the live scope (polling loop and strip charts) and the data curve.
//
// Histories hold 100 points per trace, interleaved point by point, oldest
// first: arrayRAW (raw A, raw B), arrayNORM (upper, lower, reference,
// maximum, minimum, value). Each answer shifts a history by one point.
#pragma once

#include <cstdint>

int CC_BTNRun(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int CC_BTNStop(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int CC_RNGGraphSource(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
int CC_BTNData(int panel, int control, int event, void *callbackData, int eventData1, int eventData2);
// 1 while the Run button's loop polls the controller.
int ScopeRunning(void);

// The Data button's exchange without panels: one live-value exchange, then
// the 128-point curve of graph source `source` in eight blocks (order 9) with
// the receive callback removed. 0 with `out` pointing at the program-wide
// arrays; 1 when the source has no valid data for the trigger mode; -1 when a
// block timed out. The status texts are the button's.
struct DataCurve {
    const uint16_t *curve, *step, *maximum, *minimum, *reference;
};
int FetchDataCurve(int source, DataCurve *out);

void PlotRAWValues(void);
void PlotNORMValues(double *history);
void PlotDATACurve(const uint16_t *step, const uint16_t *curve, const uint16_t *upper,
                   const uint16_t *lower, const uint16_t *reference);
// Names, colours and line styles of both charts' traces, and the NORM
// chart's title, for the graph source ring's source: what the legends show
// before the first drawing (each drawing sets them again).
void LabelCharts(void);
void FillarrayRAW(int a, int b);
void FillarrayNORM(int tol, int ref, int v);

// Array helpers: 0, or -20003 for n < 1, -20102 for |shifts| >= n (y untouched).
int Shift(const double *x, int n, int shifts, double *y);
int Copy1D(const double *x, int n, double *y);

// Shows the chart that fits graph source `source` (RAW for 8, NORM for 0..7,
// neither for 9) and sets `type` like the graph source ring does.
void ShowChartFor(int source, int fromRun);
