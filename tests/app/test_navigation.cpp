// The parameter-panel selectors, the recorder panel's toggle and close box,
// and moving the link to a port.
#define QVAR_HIDE_SYNC
#include "app/app.h"
#include "state/qvar.h"
#include "platform/ui/ui.h"
#include "platform/ui/ui_qt.h"
#include "scope/scope.h"
#include "sim/controller.h"
#include "tests/support/port_sandbox.h"
#include "tests/support/process.h"
#include "tests/support/program.h"
#include "ui_ids.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QProcess>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTest>
#include <QToolButton>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>
#include <string>
#include <vector>

using namespace qvar_test;
namespace fs = std::filesystem;

namespace {

class Navigation : public ProgramTest {
protected:
    // Which parameter panels are visible, as "ABC" with '-' for hidden ones.
    static std::string ShownSet()
    {
        std::string s;
        s += PanelAttribute(panelPARA_A, ATTR_VISIBLE) == 1 ? 'A' : '-';
        s += PanelAttribute(panelPARA_B, ATTR_VISIBLE) == 1 ? 'B' : '-';
        s += PanelAttribute(panelPARA_C, ATTR_VISIBLE) == 1 ? 'C' : '-';
        return s;
    }
    static std::string Selectors()
    {
        return std::to_string(Value(panelHandle, PANEL_SEL_CHA)) +
               std::to_string(Value(panelHandle, PANEL_SEL_CHB)) +
               std::to_string(Value(panelHandle, PANEL_SEL_COM));
    }
    static void AllSelectorsOn()
    {
        for (int c : {PANEL_SEL_CHA, PANEL_SEL_CHB, PANEL_SEL_COM})
            SetCtrlVal(panelHandle, c, 1);
    }
};

TEST_F(Navigation, EachSelectorSwitchesTheOthersOffAndShowsItsPanel)
{
    using Cb = int (*)(int, int, int, void *, int, int);
    struct Case {
        Cb cb;
        int control;
        const char *selectorsAfterPress, *shown;
    } cases[] = {
        {CC_Select_CHB, PANEL_SEL_CHB, "010", "-B-"},
        {CC_Select_COM, PANEL_SEL_COM, "001", "--C"},
        {CC_Select_CHA, PANEL_SEL_CHA, "100", "A--"},
    };
    for (const Case &c : cases) {
        const std::string before = ShownSet();
        AllSelectorsOn();
        c.cb(panelHandle, c.control, EVENT_LEFT_CLICK, nullptr, 0, 0);
        // The pressed one keeps what its control gave it; here: on.
        EXPECT_EQ(c.selectorsAfterPress, Selectors()) << c.shown;
        EXPECT_EQ(before, ShownSet()) << "the press alone switches no panel";
        c.cb(panelHandle, c.control, EVENT_COMMIT, nullptr, 0, 0);
        EXPECT_EQ(c.shown, ShownSet());
    }
}

TEST_F(Navigation, HiddenParameterPanelsKeepTheirValues)
{
    SetCtrlVal(panelPARA_A, PARA_A_POWER, 321);
    CC_Select_COM(panelHandle, PANEL_SEL_COM, EVENT_COMMIT, nullptr, 0, 0);
    CC_Select_CHA(panelHandle, PANEL_SEL_CHA, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_EQ(321, Value(panelPARA_A, PARA_A_POWER));
}

// The recorder toggle shows and hides its panel on a value change only; the
// panel's close box hides it, and the toggle follows.
TEST_F(Navigation, RecorderToggleAndCloseBox)
{
    SetCtrlVal(panelHandle, PANEL_TOG_RECORDER, 1);
    CC_TOGBTNparaII(panelHandle, PANEL_TOG_RECORDER, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_EQ(0, PanelAttribute(panelPopUp, ATTR_VISIBLE));
    CC_TOGBTNparaII(panelHandle, PANEL_TOG_RECORDER, EVENT_VAL_CHANGED, nullptr, 0, 0);
    ASSERT_EQ(1, PanelAttribute(panelPopUp, ATTR_VISIBLE));
    SetCtrlVal(panelPopUp, POPUP_INTERVAL, 42u);
    SetCtrlVal(panelPopUp, POPUP_SAMPLES, 7u);

    // The window's own close box, through the event pump.
    UiPanelWidget(panelPopUp)->close();
    ASSERT_TRUE(PumpUntil([] { return PanelAttribute(panelPopUp, ATTR_VISIBLE) == 0; }, 2.0));
    EXPECT_EQ(0, Value(panelHandle, PANEL_TOG_RECORDER));
    EXPECT_EQ(1, PanelAttribute(panelHandle, ATTR_VISIBLE)) << "closing the recorder must not end the program";

    SetCtrlVal(panelHandle, PANEL_TOG_RECORDER, 1);
    CC_TOGBTNparaII(panelHandle, PANEL_TOG_RECORDER, EVENT_VAL_CHANGED, nullptr, 0, 0);
    EXPECT_EQ(1, PanelAttribute(panelPopUp, ATTR_VISIBLE));
    EXPECT_EQ(42, Value(panelPopUp, POPUP_INTERVAL));
    EXPECT_EQ(7, Value(panelPopUp, POPUP_SAMPLES));
    SetCtrlVal(panelHandle, PANEL_TOG_RECORDER, 0);
    CC_TOGBTNparaII(panelHandle, PANEL_TOG_RECORDER, EVENT_VAL_CHANGED, nullptr, 0, 0);
    EXPECT_EQ(0, PanelAttribute(panelPopUp, ATTR_VISIBLE));
}

TEST_F(Navigation, ChoosingThePortInUseRunsTheStartExchangeAgain)
{
    sim->reset_counters();
    refA = 1;
    StartStatusLog();
    SetCtrlVal(panelHandle, PANEL_COMPORT, 1);
    CC_DropDCom(panelHandle, PANEL_COMPORT, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_EQ(1, com);
    EXPECT_EQ(1u, sim->requests(ORDER_ECHO));
    EXPECT_EQ(2u, sim->requests(ORDER_READ_RAM));
    EXPECT_EQ(1u, sim->requests(ORDER_FIRMWARE));
    EXPECT_EQ(int(sim->ram(0)[PB_REF]), refA);
    EXPECT_EQ(refA, Value(panelPARA_A, PARA_A_REF));
    ASSERT_FALSE(StatusLog().empty());
    EXPECT_EQ("Init COM-Port ...", StatusLog().front());
    EXPECT_EQ(sim->firmware_line().substr(0, 71), StatusLine());

    // The port in use is named in the window's title, the status line keeps
    // the link's texts.
    char title[64];
    ASSERT_EQ(0, GetPanelAttribute(panelHandle, ATTR_TITLE, title, sizeof title));
    EXPECT_STREQ("Q-VAR-RDX3-Scope - COM1", title);
    // A silent line of the test's own as port 7.
    Pty line;
    fs::create_directories(PortsDir());
    fs::create_symlink(line.path, PortsDir() + "/com7");
    CC_DropDCom(panelHandle, PANEL_COMPORT, EVENT_LEFT_CLICK, nullptr, 0, 0);
    EXPECT_EQ(0, SetCtrlVal(panelHandle, PANEL_COMPORT, 7));
    CC_DropDCom(panelHandle, PANEL_COMPORT, EVENT_COMMIT, nullptr, 0, 0);
    GetPanelAttribute(panelHandle, ATTR_TITLE, title, sizeof title);
    EXPECT_STREQ("Q-VAR-RDX3-Scope - COM7", title);
    EXPECT_EQ("Timeout < 36 Bytes", StatusLine());
    fs::remove(PortsDir() + "/com7");
    UsePort(1);
}

TEST_F(Navigation, ChoosingAPortWhileTheScopeRunsStopsTheScopeFirst)
{
    // Left running, the loop took the new port's parameter frames for live
    // values and then timed out.
    SetCtrlVal(panelHandle, PANEL_GRAPHSOURCE, 0);
    uint64_t liveBeforeChange = 0;
    When([&] { return sim->requests(ORDER_LIVE_VALUES) >= 20; }, [&] {
        liveBeforeChange = sim->requests(ORDER_LIVE_VALUES);
        SetCtrlVal(panelHandle, PANEL_COMPORT, 1);
        CC_DropDCom(panelHandle, PANEL_COMPORT, EVENT_COMMIT, nullptr, 0, 0);
    });
    EXPECT_EQ(0, CC_BTNRun(panelHandle, PANEL_BTN_RUN, EVENT_COMMIT, nullptr, 0, 0));

    ASSERT_GE(liveBeforeChange, 20u);
    EXPECT_EQ(liveBeforeChange, sim->requests(ORDER_LIVE_VALUES)) << "no live request after the change";
    EXPECT_EQ(1u, sim->requests(ORDER_FIRMWARE));
    const std::vector<std::string> log = StatusLog();
    EXPECT_EQ(log.end(), std::find(log.begin(), log.end(), "Timeout RS232-Line!"));
    EXPECT_EQ(sim->firmware_line().substr(0, 71), StatusLine());
    EXPECT_FALSE(Dimmed(panelHandle, PANEL_BTN_RUN));
    EXPECT_FALSE(Dimmed(panelHandle, PANEL_GRAPHSOURCE));
}

TEST_F(Navigation, PortSelectorSaysWhatEachPortIsAndOffersNoMissingOne)
{
    // qvar-sim on a pinned pseudo-terminal, found through /proc beside the
    // scanned sysfs; an adapter pinned by its udev name and unplugged.
    const fs::path root = fs::path(PortsDir()).parent_path().parent_path().parent_path();
    fs::create_directory_symlink("/proc", root / "proc");
    QProcess server;
    const std::string pts = StartQvarSim(server, 7, {});
    ASSERT_FALSE(pts.empty());
    fs::create_symlink("/nonexistent/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
                       PortsDir() + "/com3");
    CC_DropDCom(panelHandle, PANEL_COMPORT, EVENT_LEFT_CLICK, nullptr, 0, 0);
    server.terminate();
    server.waitForFinished(5000);
    fs::remove(root / "proc");
    fs::remove(PortsDir() + "/com3");

    auto *ring = qobject_cast<QComboBox *>(UiCtrlWidget(panelHandle, PANEL_COMPORT));
    ASSERT_NE(nullptr, ring);
    auto *items = qobject_cast<QStandardItemModel *>(ring->model());
    ASSERT_NE(nullptr, items);
    std::vector<std::pair<std::string, bool>> listed;
    for (int i = 0; i < ring->count(); i++)
        listed.emplace_back(ring->itemText(i).toStdString(), items->item(i)->isEnabled());
    // The simulated controller in use keeps its number.
    const std::vector<std::pair<std::string, bool>> expected = {
        {"COM1 - simulated controller", true},
        {"COM3 - USB serial FTDI FT232R USB UART (missing)", false},
        {"COM7 - qvar-sim on " + pts, true},
    };
    EXPECT_EQ(expected, listed);
    EXPECT_EQ(0, ring->currentIndex());
}

} // namespace

// Keys do what the window says: Tab reaches every control in reading order,
// Return presses as Space does, Space pauses a chart only while it has the
// focus and P from anywhere, after Run Space stops the scope, and a click on
// a live value takes the keys away from the parameter field typed into last.
TEST_F(Navigation, KeysDoWhatTheySay)
{
    QWidget *main = UiPanelWidget(panelHandle);
    main->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(main));
    const auto w = [](int panel, int control) { return UiCtrlWidget(panel, control); };
    const auto press = [](Qt::Key key) {
        QTest::keyClick(QApplication::focusWidget(), key);
        ProcessSystemEvents();
    };
    QToolButton *pause = w(panelHandle, PANEL_CHART_NORM)->findChild<QToolButton *>();
    ASSERT_NE(pause, nullptr);
    const auto paused = [pause] { return pause->text() == QStringLiteral("Resume"); };

    // Once around with Tab: every button, ring, radio and number field shown,
    // the shown parameter panel's fields right after its selectors.
    w(panelHandle, PANEL_SEL_CHA)->setFocus();
    std::vector<QWidget *> order{QApplication::focusWidget()};
    for (int i = 0; i < 100; ++i) {
        press(Qt::Key_Tab);
        if (QApplication::focusWidget() == order.front())
            break;
        order.push_back(QApplication::focusWidget());
    }
    const auto place = [&order](QWidget *x) { return std::find(order.begin(), order.end(), x) - order.begin(); };
    for (QWidget *c : main->findChildren<QWidget *>()) {
        auto *number = qobject_cast<QAbstractSpinBox *>(c);
        const bool control = qobject_cast<QAbstractButton *>(c) || qobject_cast<QComboBox *>(c) ||
                             (number && !number->isReadOnly());
        if (control && c->isVisible() && c->isEnabled()) {
            EXPECT_LT(place(c), std::ssize(order)) << c->objectName().toStdString() << " not reached with Tab";
        }
    }
    EXPECT_EQ(place(w(panelHandle, PANEL_SEL_COM)) + 1, place(w(panelPARA_A, PARA_A_POWER)));
    EXPECT_LT(place(w(panelPARA_A, PARA_A_TRIGBITS)), place(w(panelHandle, PANEL_RBT_RAM)));
    EXPECT_LT(place(pause), place(w(panelHandle, PANEL_BTN_RUN)));
    EXPECT_EQ(place(w(panelHandle, PANEL_BTN_RUN)) + 1, place(w(panelHandle, PANEL_BTN_STOP)));

    // Return and Space press a focused button as the mouse does, press first:
    // the selectors switch the others off and Send sends.
    w(panelHandle, PANEL_SEL_CHB)->setFocus();
    press(Qt::Key_Return);
    EXPECT_EQ("-B-", ShownSet());
    EXPECT_EQ("010", Selectors());
    w(panelHandle, PANEL_SEL_CHA)->setFocus();
    press(Qt::Key_Enter);
    EXPECT_EQ("A--", ShownSet());
    EXPECT_EQ("100", Selectors());
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Space}) {
        const uint64_t sent = sim->requests(ORDER_WRITE_RAM);
        w(panelHandle, PANEL_BTN_SEND)->setFocus();
        press(key);
        PumpFor(0.3);
        EXPECT_EQ(sent + 2, sim->requests(ORDER_WRITE_RAM)) << "Send by key " << key;
    }

    // Space pauses a chart clicked into; elsewhere it presses what has the
    // focus. P pauses the shown chart from anywhere.
    press(Qt::Key_Space);
    EXPECT_FALSE(paused());
    QWidget *view = pause->parentWidget();
    QTest::mouseClick(view, Qt::LeftButton, Qt::NoModifier, view->rect().center());
    press(Qt::Key_Space);
    EXPECT_TRUE(paused());
    press(Qt::Key_Space);
    EXPECT_FALSE(paused());
    w(panelHandle, PANEL_BTN_SEND)->setFocus();
    press(Qt::Key_P);
    EXPECT_TRUE(paused());
    pause->setFocus();
    press(Qt::Key_Return);
    EXPECT_FALSE(paused());

    // After Run the focus is on Stop, and Space stops the scope.
    QWidget *focusInLoop = nullptr;
    When([&] { return sim->requests(ORDER_LIVE_VALUES) >= 20; },
         [&] {
             focusInLoop = QApplication::focusWidget();
             QTest::keyClick(focusInLoop, Qt::Key_Space);
         });
    Click(panelHandle, PANEL_BTN_RUN);
    PumpUntil([] { return false; }, 0.05);   // the scope runs in here until stopped
    EXPECT_EQ(w(panelHandle, PANEL_BTN_STOP), focusInLoop);
    EXPECT_FALSE(Dimmed(panelHandle, PANEL_BTN_RUN)) << "the scope was not stopped";
    EXPECT_FALSE(paused());
    const uint64_t requests = sim->requests(ORDER_LIVE_VALUES);
    PumpFor(0.1);
    EXPECT_EQ(requests, sim->requests(ORDER_LIVE_VALUES));

    // A click on a live value takes the keys away from a parameter field.
    const int power = Value(panelPARA_A, PARA_A_POWER);
    Click(panelPARA_A, PARA_A_POWER);
    ASSERT_EQ(w(panelPARA_A, PARA_A_POWER), QApplication::focusWidget());
    QWidget *display = w(panelHandle, PANEL_RAW_A);
    QWidget *face = display->childAt(display->rect().center());
    QTest::mouseClick(face ? face : display, Qt::LeftButton, Qt::NoModifier, QPoint(4, 4));
    QTest::keyClicks(QApplication::focusWidget(), "7");
    press(Qt::Key_Return);
    EXPECT_EQ(power, Value(panelPARA_A, PARA_A_POWER));
    EXPECT_EQ(display, QApplication::focusWidget());
}

TEST_F(Navigation, GrownMainWindowGrowsTheChartsAndKeepsEverythingElseInPlace)
{
    QWidget *main = UiPanelWidget(panelHandle);
    const QRect chart = UiCtrlWidget(panelHandle, PANEL_CHART_NORM)->geometry();
    const QRect run = UiCtrlWidget(panelHandle, PANEL_BTN_RUN)->geometry();
    const QRect selector = UiCtrlWidget(panelHandle, PANEL_SEL_CHA)->geometry();
    const QSize design = main->size();
    EXPECT_EQ(PanelAttribute(panelHandle, ATTR_SIZABLE), 1);
    EXPECT_EQ(PanelAttribute(panelPopUp, ATTR_SIZABLE), 0);
    EXPECT_EQ(UiPanelWidget(panelPopUp)->minimumSize(), UiPanelWidget(panelPopUp)->maximumSize());

    main->resize(1600, 1000);
    ProcessSystemEvents();
    const QSize grow(1600 - design.width(), 1000 - design.height());
    for (int c : {PANEL_CHART_RAW, PANEL_CHART_NORM, PANEL_GRAPH_DATA}) {
        QWidget *w = UiCtrlWidget(panelHandle, c);
        EXPECT_EQ(w->geometry(), QRect(chart.topLeft(), chart.size() + grow)) << c;
        for (QWidget *inner : w->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
            EXPECT_EQ(inner->size(), w->size()) << "the chart itself fills its place";
    }
    EXPECT_EQ(UiCtrlWidget(panelHandle, PANEL_BTN_RUN)->geometry(), run.translated(0, grow.height()));
    EXPECT_EQ(UiCtrlWidget(panelHandle, PANEL_SEL_CHA)->geometry(), selector);
    for (int p : {panelPARA_A, panelPARA_B, panelPARA_C}) {
        EXPECT_EQ(PanelAttribute(p, ATTR_LEFT), 10);
        EXPECT_EQ(PanelAttribute(p, ATTR_TOP), 105);
    }

    // Never below the design's size; back there, the design's places.
    SetPanelAttribute(panelHandle, ATTR_WIDTH, 600);
    SetPanelAttribute(panelHandle, ATTR_HEIGHT, 400);
    ProcessSystemEvents();
    EXPECT_EQ(main->size(), design);
    EXPECT_EQ(UiCtrlWidget(panelHandle, PANEL_CHART_NORM)->geometry(), chart);
    EXPECT_EQ(UiCtrlWidget(panelHandle, PANEL_BTN_RUN)->geometry(), run);
}

// On a screen too small for the design - 1600 x 1000 pixels at a scale of
// 1.5 - the window fits the screen and scrolls to every control. The scale
// is taken when the run-time starts, so the check runs in a process of its own.
TEST(WindowFit, EveryControlIsReachableOnASmallScaledScreen)
{
    if (std::getenv("QVAR_SMALL_SCREEN")) {
        ASSERT_TRUE(StartProgram());
        QWidget *main = UiPanelWidget(panelHandle);
        const QRect screen = main->screen()->availableGeometry();
        ASSERT_LT(screen.height(), 720) << "not the small screen";
        EXPECT_TRUE(screen.contains(main->geometry())) << main->width() << " x " << main->height();
        int reached = 0;
        for (int i = 0; i < qvarControlNameCount; i++) {
            const UiControlName &c = qvarControlNames[i];
            const int panel = c.panel == PANEL ? panelHandle : c.panel == PARA_A ? panelPARA_A : 0;
            QWidget *w = panel ? UiCtrlWidget(panel, c.id) : nullptr;
            if (!w || !w->isVisibleTo(main))
                continue;
            QScrollArea *area = nullptr;
            for (QWidget *up = w->parentWidget(); up && !area; up = up->parentWidget())
                area = qobject_cast<QScrollArea *>(up);
            ASSERT_NE(area, nullptr) << c.name << " cannot be scrolled to";
            // Scrolled as far as it takes to show the whole control.
            const QRect on(w->mapTo(area->widget(), QPoint(0, 0)), w->size());
            area->horizontalScrollBar()->setValue(on.right() + 1 - area->viewport()->width());
            area->verticalScrollBar()->setValue(on.bottom() + 1 - area->viewport()->height());
            const QRect seen(area->viewport()->mapTo(main, QPoint(0, 0)), area->viewport()->size());
            EXPECT_TRUE(seen.contains(QRect(w->mapTo(main, QPoint(0, 0)), w->size()))) << c.name;
            reached++;
        }
        EXPECT_GT(reached, 30);
        StopProgram();
        return;
    }
    ScratchDir dir;
    WriteText(dir.file("screen.json"), R"({"screens": [{"name": "small", "width": 1600, "height": 1000}]})");
    std::vector<std::string> env;
    for (char **e = environ; *e; e++) {
        const std::string v = *e;
        if (v.rfind("QT_QPA_PLATFORM=", 0) != 0 && v.rfind("QT_SCALE_FACTOR=", 0) != 0 && v.rfind("GTEST_", 0) != 0)
            env.push_back(v);
    }
    env.push_back("QT_QPA_PLATFORM=" + OffscreenWith(dir.file("screen.json")));
    env.push_back("QT_SCALE_FACTOR=1.5");
    env.push_back("QVAR_SMALL_SCREEN=1");
    Child child;
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    ASSERT_TRUE(Spawn(child, {self, "--gtest_filter=WindowFit.*"}, env, STDERR_FILENO));
    const std::string out = Drain(child.out, 60);
    EXPECT_EQ(child.Wait(), 0) << out;
}
