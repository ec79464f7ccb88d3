// screenshots.cpp - qvar-screenshots: renders the pictures of README from
// the running program on the built-in simulated controller: the main panel
// after start-up, the live scope with its band, the same chart zoomed, paused
// and read with the crosshair, and a fetched data curve.
//
//   qvar-screenshots [folder]      (default: docs)
//
// Runs without a display. The machine's own serial ports and pinned links
// are hidden, so nothing but the simulated controller is ever opened.
#include "app/app.h"
#include "state/qvar.h"
#include "platform/serial/serial.h"
#include "platform/serial/serial_sim.h"
#include "platform/ui/ui.h"
#include "scope/scope.h"
#include "sim/controller.h"
#include "tests/support/process.h"
#include "ui_ids.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string folder = "docs";
int failures = 0;

void Save(const char *name)
{
    std::string path = folder + "/" + name;
    if (SavePanelImage(panelHandle, path.c_str()) < 0) {
        std::fprintf(stderr, "qvar-screenshots: cannot write %s\n", path.c_str());
        failures++;
    } else {
        std::printf("%s\n", path.c_str());
    }
}

// Where the live signal (the chart's sixth trace) first crosses the middle
// of its span, as a fraction of the chart's width; the middle when it stays.
double SignalEdge(int chart)
{
    double y[100];
    const int n = GetStripChartTrace(panelHandle, chart, 6, y, 100);
    if (n < 2)
        return 0.5;
    double lo = y[0], hi = y[0];
    for (int i = 1; i < n; i++)
        lo = y[i] < lo ? y[i] : lo, hi = y[i] > hi ? y[i] : hi;
    const double mid = (lo + hi) / 2;
    for (int i = 1; i < n; i++)
        if ((y[i - 1] < mid) != (y[i] < mid))
            return (100 - n + i) / 99.0;   // the newest point is at the right end
    return 0.5;
}

// The chart tools as a user's hand leaves them: four wheel notches in on an
// edge of the signal, the view paused while the scope keeps polling, the
// cursor on the edge. Then the chart is put back for the pictures that follow.
void SnapChartTools()
{
    const int chart = PANEL_CHART_NORM;
    const double edge = SignalEdge(chart);
    ChartUserInput(panelHandle, chart, CHART_WHEEL, edge, 1.04, 4);   // over the x labels: time only
    ChartUserInput(panelHandle, chart, CHART_PAUSE, 0, 0, 0);
    ChartUserInput(panelHandle, chart, CHART_HOVER, edge, 0.3, 0);
    Save("chart-tools.png");
    ChartUserInput(panelHandle, chart, CHART_LEAVE, 0, 0, 0);
    ChartUserInput(panelHandle, chart, CHART_PAUSE, 0, 0, 0);
    ChartUserInput(panelHandle, chart, CHART_RESET, 0.5, 0.5, 0);
}

void SnapScopeAndStop(void *)
{
    Save("scope.png");
    SnapChartTools();
    CC_BTNStop(panelHandle, PANEL_BTN_STOP, EVENT_COMMIT, nullptr, 0, 0);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1)
        folder = argv[1];
    qvar_test::UseDesktopScreen();   // the pictures show the whole panel, unscrolled
    setenv("XDG_CONFIG_HOME", "/nonexistent/qvar-screenshots", 1);
    ComSetScanRoots("/nonexistent/dev", "/nonexistent/sys");
    // Unpaced, so a full chart takes a moment instead of four seconds.
    ComSimController()->set_paced(false);

    if (StartUp(argc > 0 ? 1 : 0, argv) < 0) {
        std::fprintf(stderr, "qvar-screenshots: the program did not start\n");
        return 1;
    }
    for (int i = 0; i < 20; i++)
        ProcessSystemEvents();
    Save("main-panel.png");

    SetCtrlVal(panelHandle, PANEL_GRAPHSOURCE, 0);
    PostDeferredCall(SnapScopeAndStop, nullptr, 0.4);
    CC_BTNRun(panelHandle, PANEL_BTN_RUN, EVENT_COMMIT, nullptr, 0, 0);

    CC_BTNData(panelHandle, PANEL_BTN_DATA, EVENT_COMMIT, nullptr, 0, 0);
    Save("data-curve.png");

    ShutDown();
    return failures ? 1 : 0;
}
