// chart_input.cpp - mouse input on a chart made by the program itself: the
// README pictures show the chart tools as a user's hand leaves them, so they
// go through the same events a real cursor sends.
#include "platform/ui/chart_view.h"
#include "platform/ui/ui_internal.h"

#include <QApplication>
#include <QMouseEvent>
#include <QToolButton>
#include <QWheelEvent>

namespace qvar::ui {
namespace {

ChartView *viewOf(Ctrl &c)
{
    if (c.strip)
        return c.strip->view;
    if (c.graph)
        return c.graph->view;
    return nullptr;
}

void sendMouse(ChartView *view, QEvent::Type type, QPointF at, Qt::MouseButton button)
{
    QMouseEvent e(type, at, view->mapToGlobal(at), button, button == Qt::NoButton ? Qt::NoButton : button,
                  Qt::NoModifier);
    QApplication::sendEvent(view, &e);
}

} // namespace
} // namespace qvar::ui

using namespace qvar::ui;

int ChartUserInput(int panel, int control, int action, double x, double y, int notches)
{
    int err = 0;
    Ctrl *c = findCtrl(panel, control, &err);
    if (!c)
        return err;
    flushDirty();   // the picture the hand acts on is the newest one
    ChartView *view = viewOf(*c);
    if (!view)
        return UI_ERR_ATTRIBUTE;
    const QRectF plot = view->plotArea();
    const QPointF at(plot.left() + x * plot.width(), plot.top() + y * plot.height());
    switch (action) {
    case CHART_HOVER:
        sendMouse(view, QEvent::MouseMove, at, Qt::NoButton);
        return 0;
    case CHART_LEAVE: {
        QEvent e(QEvent::Leave);
        QApplication::sendEvent(view, &e);
        return 0;
    }
    case CHART_WHEEL: {
        QWheelEvent e(at, view->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
        QApplication::sendEvent(view, &e);
        return 0;
    }
    case CHART_PAUSE:
        view->pauseToggle()->click();
        return 0;
    case CHART_RESET:
        sendMouse(view, QEvent::MouseButtonDblClick, at, Qt::LeftButton);
        return 0;
    default:
        return UI_ERR_VALUE;
    }
}
