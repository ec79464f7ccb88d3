// A hand on a chart through the user-interface service: hover, wheel, pause
// and reset act as the user's mouse does, on strip charts and graphs alike.
#include "platform/ui/chart_view.h"
#include "ui_testing.h"

#include <QToolButton>

using namespace uitest;
using qvar::ui::ChartView;
using qvar::ui::Range;

namespace {

TEST_F(UiTest, ChartUserInputZoomsPausesHoversAndResets)
{
    const double h[] = {1, 10, 2, 20, 3, 30, 4, 40};
    ASSERT_EQ(PlotStripChart(main_, T_STRIP, h, 8, 0, 0), 0);
    auto *c = dynamic_cast<ChartView *>(W(T_STRIP)->findChild<QFrame *>());
    ASSERT_NE(c, nullptr);
    const Range x = c->shownX(), y = c->shownY();

    ASSERT_EQ(ChartUserInput(main_, T_STRIP, CHART_WHEEL, 0.5, 0.5, 2), 0);
    EXPECT_LT(c->shownX().hi - c->shownX().lo, x.hi - x.lo);
    EXPECT_LT(c->shownY().hi - c->shownY().lo, y.hi - y.lo);

    ASSERT_EQ(ChartUserInput(main_, T_STRIP, CHART_PAUSE, 0, 0, 0), 0);
    EXPECT_TRUE(c->paused());
    EXPECT_EQ(QStringLiteral("Resume"), c->pauseToggle()->text());

    ASSERT_EQ(ChartUserInput(main_, T_STRIP, CHART_HOVER, 0.25, 0.5, 0), 0);
    EXPECT_TRUE(c->hovering());
    ASSERT_EQ(ChartUserInput(main_, T_STRIP, CHART_LEAVE, 0, 0, 0), 0);
    EXPECT_FALSE(c->hovering());

    ASSERT_EQ(ChartUserInput(main_, T_STRIP, CHART_RESET, 0.5, 0.5, 0), 0);
    EXPECT_EQ(x, c->shownX());
    EXPECT_EQ(y, c->shownY());

    ASSERT_EQ(ChartUserInput(main_, T_GRAPH, CHART_PAUSE, 0, 0, 0), 0) << "graphs take a hand too";
    EXPECT_EQ(UI_ERR_ATTRIBUTE, ChartUserInput(main_, T_BTN, CHART_HOVER, 0.5, 0.5, 0));
    EXPECT_EQ(UI_ERR_VALUE, ChartUserInput(main_, T_STRIP, 99, 0.5, 0.5, 0));
}

} // namespace
