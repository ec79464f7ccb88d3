// User events: their order per control kind, nothing for values the program
// sets, and nothing delivered outside the event pump.
#include "platform/ui/pump.h"
#include "ui_testing.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <iterator>
#include <utility>

using namespace uitest;

namespace {

std::vector<Seen> events(int panel, int control, std::initializer_list<int> kinds)
{
    std::vector<Seen> v;
    for (int k : kinds)
        v.push_back({panel, control, k});
    return v;
}

// The events the pump delivers now; forgotten once returned.
std::vector<Seen> pumped()
{
    ProcessSystemEvents();
    return std::exchange(seen(), {});
}

} // namespace

TEST_F(UiTest, ButtonPressThenCommitOnlyInsideThePump)
{
    DisplayPanel(main_);
    QTest::mouseClick(W(T_BTN), Qt::LeftButton);
    EXPECT_TRUE(seen().empty());   // raised outside the pump: waits for it
    EXPECT_EQ(pumped(), events(main_, T_BTN, {EVENT_LEFT_CLICK, EVENT_COMMIT}));

    // A dimmed button raises nothing.
    SetCtrlAttribute(main_, T_BTN, ATTR_DIMMED, 1);
    QTest::mouseClick(W(T_BTN), Qt::LeftButton);
    EXPECT_TRUE(pumped().empty());
}

TEST_F(UiTest, TogglesAndRadiosReportTheChangeBeforeTheCommit)
{
    DisplayPanel(main_);
    QTest::mouseClick(W(T_TOG), Qt::LeftButton);
    QTest::mouseClick(W(T_RADIO), Qt::LeftButton, {}, QPoint(8, W(T_RADIO)->height() / 2));   // on the indicator
    std::vector<Seen> want = events(main_, T_TOG, {EVENT_LEFT_CLICK, EVENT_VAL_CHANGED, EVENT_COMMIT});
    std::ranges::copy(events(main_, T_RADIO, {EVENT_LEFT_CLICK, EVENT_VAL_CHANGED, EVENT_COMMIT}), back_inserter(want));
    EXPECT_EQ(pumped(), want);
    EXPECT_EQ(val(main_, T_TOG), 1);
    EXPECT_EQ(val(main_, T_RADIO), 1);
    EXPECT_EQ(val(main_, T_RADIO2), 1);   // not exclusive: the program switches the others off
}

TEST_F(UiTest, RingReportsAChangeOnlyForANewItem)
{
    DisplayPanel(main_);
    auto *ring = qobject_cast<QComboBox *>(W(T_RING));
    ring->setFocus();
    QTest::keyClick(ring, Qt::Key_Down);
    EXPECT_EQ(pumped(), events(main_, T_RING, {EVENT_VAL_CHANGED, EVENT_COMMIT}));
    EXPECT_EQ(val(main_, T_RING), 20);

    // Choosing the current item again from the list only commits.
    emit ring->activated(ring->currentIndex());
    EXPECT_EQ(pumped(), events(main_, T_RING, {EVENT_COMMIT}));

    // After the program moved the ring, the user's pick of the old item is new again.
    SetCtrlVal(main_, T_RING, 10);
    emit ring->activated(1);
    EXPECT_EQ(pumped(), events(main_, T_RING, {EVENT_VAL_CHANGED, EVENT_COMMIT}));
}

TEST_F(UiTest, NumericReportsOncePerFinishedEdit)
{
    DisplayPanel(main_);
    auto *spin = qobject_cast<QSpinBox *>(W(T_NUM));
    spin->setFocus();
    QTest::keyClick(spin, Qt::Key_Up);
    EXPECT_EQ(pumped(), events(main_, T_NUM, {EVENT_VAL_CHANGED, EVENT_COMMIT}));
    EXPECT_EQ(val(main_, T_NUM), 6);

    // Typing several digits is one change, reported when the edit is done.
    spin->selectAll();
    QTest::keyClicks(spin, "123");
    EXPECT_TRUE(pumped().empty());
    QTest::keyClick(spin, Qt::Key_Return);
    EXPECT_EQ(pumped(), events(main_, T_NUM, {EVENT_VAL_CHANGED, EVENT_COMMIT}));
    EXPECT_EQ(val(main_, T_NUM), 123);
}

TEST_F(UiTest, CloseBoxAsksThePanelCallbackAndTheWindowStays)
{
    DisplayPanel(main_);
    QWidget *w = UiPanelWidget(main_);
    EXPECT_FALSE(w->close());
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(pumped(), (std::vector<Seen>{{main_, 0, EVENT_CLOSE}}));
    HidePanel(main_);
}

TEST_F(UiTest, ValuesSetByTheProgramRaiseNoEvent)
{
    DisplayPanel(main_);
    SetCtrlVal(main_, T_TOG, 1);
    SetCtrlVal(main_, T_RADIO, 1);
    SetCtrlVal(main_, T_RING, 30);
    SetCtrlVal(main_, T_NUM, 99);
    SetCtrlVal(main_, T_MSG, "x");
    ClearListCtrl(main_, T_RING);
    InsertListItem(main_, T_RING, -1, "a", 1);
    for (int i = 0; i < 5; ++i)
        ProcessSystemEvents();
    EXPECT_TRUE(seen().empty());
}

TEST_F(UiTest, BlockedScopeHoldsEventsForTheNextPump)
{
    DisplayPanel(main_);
    {
        qvar::pump::Inside in;
        qvar::pump::Blocked blocked;   // e.g. a modal file dialog inside a callback
        QTest::mouseClick(W(T_BTN), Qt::LeftButton);
        EXPECT_TRUE(seen().empty());
    }
    EXPECT_EQ(pumped(), events(main_, T_BTN, {EVENT_LEFT_CLICK, EVENT_COMMIT}));

    // Events of a panel discarded before the pump are dropped.
    const int other = Load(T_MAIN);
    DisplayPanel(other);
    QTest::mouseClick(UiCtrlWidget(other, T_BTN), Qt::LeftButton);
    DiscardPanel(other);
    EXPECT_TRUE(pumped().empty());
}

namespace {
int g_quitPanel = 0;
int QuitOnCommit(int panel, int, int event, void *, int, int)
{
    if (event == EVENT_COMMIT) {
        ProcessSystemEvents();   // callbacks may pump themselves
        QuitUserInterface(7);
        g_quitPanel = panel;
    }
    return 0;
}
} // namespace

TEST_F(UiTest, RunUserInterfaceRunsCallbacksUntilQuit)
{
    static const UiCallback table[] = {{"Ctl", QuitOnCommit, nullptr}, {"PanelCb", nullptr, RecordPanel}};
    SetCallbackTable(table, 2);
    const int p = Load(T_MAIN);
    DisplayPanel(p);
    QWidget *btn = UiCtrlWidget(p, T_BTN);
    QTimer::singleShot(5, btn, [btn] { QTest::mouseClick(btn, Qt::LeftButton); });
    QTimer::singleShot(3000, btn, [] { QuitUserInterface(-1); });   // the click went nowhere
    EXPECT_EQ(RunUserInterface(), 7);
    EXPECT_EQ(g_quitPanel, p);
    InstallTable();
}
