// A user's session through the real widgets and the program's own event
// loop: run the scope, stop it, fetch the data curve, record a few samples,
// close the program. Every click is a mouse click on the widget.
#define QVAR_HIDE_SYNC
#include "app/app.h"
#include "state/qvar.h"
#include "platform/clock.h"
#include "platform/files/files.h"
#include "platform/ui/ui.h"
#include "platform/ui/ui_qt.h"
#include "sim/controller.h"
#include "tests/support/program.h"
#include "ui_ids.h"

#include <QWidget>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace qvar_test;

namespace {

struct Step {
    const char *name;
    std::function<bool()> ready;
    std::function<void()> act;
};

// Runs the steps one after another from the event pump; `reached` counts
// the steps whose action ran.
void Script(std::shared_ptr<std::vector<Step>> steps, size_t i, int *reached)
{
    if (i >= steps->size())
        return;
    When((*steps)[i].ready, [steps, i, reached] {
        ++*reached;
        // A click may run a whole loop before it returns; the next step
        // must already be waiting inside that loop's pump.
        Script(steps, i + 1, reached);
        (*steps)[i].act();
    }, 20.0);
}

TEST(EndToEnd, ScopeDataCurveAndRecordingByMouse)
{
    qvar::sim::Controller &sim = FreshSim();
    IsolatePorts();
    const std::string dir = TempDir();
    const std::string rec = dir + "/session.dat";

    double drawnValue = -1, stoppedAt = 0;
    int plots = -1;
    bool recorderShown = false;
    auto steps = std::make_shared<std::vector<Step>>(std::vector<Step>{
        {"run", [] { return panelHandle > 0 && UiPanelWidget(panelHandle) && UiPanelWidget(panelHandle)->isVisible(); },
         [] { Click(panelHandle, PANEL_BTN_RUN); }},
        {"stop", [&sim] { return sim.requests(ORDER_LIVE_VALUES) >= 15; },
         [&drawnValue, &stoppedAt] {
             double y[200];
             int n = GetStripChartTrace(panelHandle, PANEL_CHART_NORM, 6, y, 200);
             drawnValue = n > 0 ? y[n - 1] : -1;
             stoppedAt = Timer();
             Click(panelHandle, PANEL_BTN_STOP);
         }},
        // The scope loop sees the stop at the end of its pass; give it time to return.
        {"data", [&stoppedAt] { return stoppedAt > 0 && Timer() - stoppedAt > 0.2 && !Dimmed(panelHandle, PANEL_BTN_RUN) && !Dimmed(panelHandle, PANEL_BTN_DATA); },
         [] { Click(panelHandle, PANEL_BTN_DATA); }},
        {"recorder", [] { return GetGraphPlotCount(panelHandle, PANEL_GRAPH_DATA) > 0 && !Dimmed(panelHandle, PANEL_BTN_DATA); },
         [&plots] {
             plots = GetGraphPlotCount(panelHandle, PANEL_GRAPH_DATA);
             Click(panelHandle, PANEL_TOG_RECORDER);
         }},
        {"record", [] { int v = 0; GetPanelAttribute(panelPopUp, ATTR_VISIBLE, &v); return v == 1; },
         [&rec, &recorderShown] {
             recorderShown = true;
             SetCtrlVal(panelPopUp, POPUP_INTERVAL, 0u);
             SetCtrlVal(panelPopUp, POPUP_SAMPLES, 3u);
             CopyText(recfile_name, PATH_LEN, rec.c_str());
             Click(panelPopUp, POPUP_BTN_START);
         }},
        {"close", [] { return Value(panelPopUp, POPUP_LINES) == 3 && !Dimmed(panelPopUp, POPUP_BTN_START); },
         [] { CloseWindow(panelHandle); }},
    });
    int reached = 0;
    Script(steps, 0, &reached);

    static char name[] = "qvar-scope";
    static char *argv[] = {name, nullptr};
    // Should a step never come, the program is closed anyway so the test ends.
    After(60.0, [] { CloseWindow(panelHandle); });
    EXPECT_EQ(0, QvarMain(1, argv));

    ASSERT_EQ(int(steps->size()), reached) << "stuck before step " << (*steps)[reached].name;
    EXPECT_EQ(1, stop_flag);
    EXPECT_EQ(nullptr, UiPanelWidget(panelHandle)) << "panels are discarded at shutdown";
    EXPECT_EQ(nullptr, UiPanelWidget(panelPopUp));
    EXPECT_GT(drawnValue, 0.0) << "the scope drew no answer";
    EXPECT_GE(plots, 4) << "limits, step line and reference at least";
    EXPECT_TRUE(recorderShown);

    std::ifstream f(rec);
    std::vector<std::string> lines;
    for (std::string line; std::getline(f, line);)
        lines.push_back(line);
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ("Q-VAR-RDX3-RECORDER-FILE: Time-Interval[s]: 0", lines[0]);
}

} // namespace
