// ui_presses.cpp - a control's press from the mouse or the keys: a left
// button press becomes the control's EVENT_LEFT_CLICK, and Space and Return
// on a focused button or ring do what a click does.
#include "platform/ui/ui_internal.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QWidget>

namespace qvar::ui {
namespace {

// Mouse presses on a control (or any widget inside it) become EVENT_LEFT_CLICK
// for the control; the filter sits on the control and its children. Space
// pressed on a focused button is the keyboard's press of it and counts the
// same: Send, Get and the panel selectors do their work on the press, and a
// button that went down and up under the keys without it would do nothing.
class PressHook : public QObject {
public:
    PressHook(int panel, int control, QObject *parent) : QObject(parent), panel_(panel), control_(control) {}
    bool eventFilter(QObject *obj, QEvent *ev) override
    {
        if (ev->type() == QEvent::KeyPress) {
            const auto *k = static_cast<QKeyEvent *>(ev);
            auto *b = qobject_cast<QAbstractButton *>(obj);
            if (b && b->isEnabled() && k->key() == Qt::Key_Space && !k->isAutoRepeat() &&
                k->modifiers() == Qt::NoModifier)
                postEvent(panel_, control_, EVENT_LEFT_CLICK, 0, 0);
        } else if (ev->type() == QEvent::MouseButtonPress) {
            auto *me = static_cast<QMouseEvent *>(ev);
            auto *w = qobject_cast<QWidget *>(obj);
            if (me->button() == Qt::LeftButton && w && w->isEnabled()) {
                QPoint at = me->position().toPoint();
                if (QWidget *panel = w->window())
                    at = w->mapTo(panel, at);
                postEvent(panel_, control_, EVENT_LEFT_CLICK, at.y(), at.x());
            }
        }
        return false;
    }

private:
    int panel_, control_;
};

} // namespace

void hookPresses(QWidget *w, int panel, int control)
{
    auto *hook = new PressHook(panel, control, w);
    w->installEventFilter(hook);
    for (QWidget *child : w->findChildren<QWidget *>())
        child->installEventFilter(hook);
}

// Return and Enter do what Space does to a focused button (press it) or ring
// (open its list): Qt leaves both keys to a dialog's default button, and a
// panel is no dialog. One filter serves every control. A button gets Space
// itself, so that its press is raised as Space raises it.
namespace {

class ReturnPresses : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject *obj, QEvent *ev) override
    {
        if (ev->type() != QEvent::KeyPress)
            return false;
        const auto *k = static_cast<QKeyEvent *>(ev);
        if ((k->key() != Qt::Key_Return && k->key() != Qt::Key_Enter) || k->isAutoRepeat() ||
            (k->modifiers() & ~Qt::KeypadModifier))
            return false;
        if (auto *b = qobject_cast<QAbstractButton *>(obj); b && b->isEnabled()) {
            QKeyEvent down(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
            QKeyEvent up(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
            QCoreApplication::sendEvent(b, &down);
            QCoreApplication::sendEvent(b, &up);
            return true;
        }
        if (auto *cb = qobject_cast<QComboBox *>(obj); cb && cb->isEnabled()) {
            cb->showPopup();
            return true;
        }
        return false;
    }
};

} // namespace

void pressOnReturn(QWidget *w)
{
    static QPointer<ReturnPresses> filter;
    if (!filter)
        filter = new ReturnPresses(QCoreApplication::instance());
    w->installEventFilter(filter);
}

} // namespace qvar::ui
