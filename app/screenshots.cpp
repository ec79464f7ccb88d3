// screenshots.cpp - qvar-screenshots: renders the pictures of README from
// the running program on the built-in simulated controller: the main panel
// after start-up, the live scope with its band, and a fetched data curve.
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

void SnapScopeAndStop(void *)
{
    Save("scope.png");
    CC_BTNStop(panelHandle, PANEL_BTN_STOP, EVENT_COMMIT, nullptr, 0, 0);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1)
        folder = argv[1];
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
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
