// ui_access.cpp - what assistive technology (a screen reader, or a test rig
// reading the window through AT-SPI) learns from the controls whose face the
// program draws itself: read-only numbers, lamps and charts.
//
// Qt's interface for a spin box reads the box, and a display's box is never
// set: its NumberDisplay shows the number. So these interfaces answer from
// the faces, under the control's own widget, which keeps its place in the
// tree and its role. A listener is told of changes at most ten times a second
// per control, the last time with what the face shows in the end: a live
// scope changes a dozen displays 26 times a second, more than anyone can
// take in. While nobody listens nothing is told, kept or timed: the first
// question on every change is whether anyone listens.
#include "platform/ui/ui_internal.h"
#include "platform/clock.h"
#include "platform/ui/chart_view.h"
#include "platform/ui/number_display.h"
#include "platform/ui/ui_qt.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QSpinBox>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace qvar::ui {
namespace {

constexpr double kTellGap = 0.1;   // seconds between two notices of one control

bool qtListens() { return QAccessible::isActive(); }
void qtTell(QAccessibleEvent *e) { QAccessible::updateAccessibility(e); }

struct Hooks {
    bool (*listening)() = qtListens;
    void (*tell)(QAccessibleEvent *) = qtTell;
};

Hooks &hooks()
{
    static Hooks h;
    return h;
}

// The name a screen reader says: the one the resource file gives, or a
// label that names the widget as its buddy, or else the control's name.
QString nameOf(const QAccessibleWidget &a)
{
    const QString n = a.QAccessibleWidget::text(QAccessible::Name);
    return n.isEmpty() ? a.object()->objectName() : n;
}

// A face that shows a value the user cannot change: one part, whatever
// widgets draw it.
class ShownValue : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    using QAccessibleWidget::QAccessibleWidget;
    int childCount() const override { return 0; }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    void *interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface *>(this);
        return QAccessibleWidget::interface_cast(t);
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        return s;
    }
    void setCurrentValue(const QVariant &) override {}
};

// A read-only numeric control: the number its face shows.
class DisplayAccess : public ShownValue {
public:
    DisplayAccess(QSpinBox *box, NumberDisplay *face) : ShownValue(box, QAccessible::SpinBox), face_(face) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return nameOf(*this);
        if (t == QAccessible::Value)
            return face_ ? face_->text() : QString();
        return ShownValue::text(t);
    }
    QVariant currentValue() const override { return face_ ? face_->number() : 0; }
    QVariant maximumValue() const override { return box()->maximum(); }
    QVariant minimumValue() const override { return box()->minimum(); }
    QVariant minimumStepSize() const override { return box()->singleStep(); }

private:
    QSpinBox *box() const { return static_cast<QSpinBox *>(widget()); }
    QPointer<NumberDisplay> face_;
};

// Common colour words for a lamp's colour.
QString colourName(const QColor &c)
{
    if (c.value() < 48)
        return QStringLiteral("black");
    if (c.hsvSaturation() < 48)
        return c.value() > 200 ? QStringLiteral("white") : QStringLiteral("grey");
    static const struct {
        int upTo;
        const char *name;
    } hues[] = {{15, "red"},   {40, "orange"}, {70, "yellow"},  {160, "green"},
                {200, "cyan"}, {260, "blue"},  {300, "violet"}, {340, "magenta"}, {360, "red"}};
    for (const auto &h : hues)
        if (c.hsvHue() < h.upTo)
            return QLatin1String(h.name);
    return QStringLiteral("red");
}

// A lamp: lit or not, as a checked state and a value of 1 or 0.
class LampAccess : public ShownValue {
public:
    LampAccess(QWidget *w, QWidget *face) : ShownValue(w, QAccessible::Indicator), face_(face) {}

    QString text(QAccessible::Text t) const override
    {
        QColor colour;
        const bool on = lit(&colour);
        switch (t) {
        case QAccessible::Name: return nameOf(*this);
        case QAccessible::Value: return on ? QStringLiteral("on") : QStringLiteral("off");
        case QAccessible::Description: return colourName(colour) + QStringLiteral(" lamp");
        default: return ShownValue::text(t);
        }
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = ShownValue::state();
        s.checkable = true;
        s.checked = lit();
        return s;
    }
    QVariant currentValue() const override { return lit() ? 1 : 0; }
    QVariant maximumValue() const override { return 1; }
    QVariant minimumValue() const override { return 0; }
    QVariant minimumStepSize() const override { return 1; }

private:
    bool lit(QColor *colour = nullptr) const
    {
        bool on = false;
        lampState(face_, &on, colour);
        return on;
    }
    QPointer<QWidget> face_;
};

// A chart, under its control's widget and its view alike: named by its
// title and the traces it draws. Its parts (the Pause toggle) stay parts.
class ChartAccess : public QAccessibleWidget {
public:
    ChartAccess(QWidget *w, ChartView *view) : QAccessibleWidget(w, QAccessible::Chart), view_(view) {}

    QString text(QAccessible::Text t) const override
    {
        if (!view_)
            return QAccessibleWidget::text(t);
        if (t == QAccessible::Description)
            return view_->toolsHelp();
        if (t != QAccessible::Name)
            return QAccessibleWidget::text(t);
        if (const QString own = QAccessibleWidget::text(t); !own.isEmpty())
            return own;
        QString title = view_->title();
        if (title.isEmpty())
            title = widget()->objectName();
        QStringList shown;
        for (int i = 0; i < view_->traceCount(); ++i)
            if (view_->trace(i).count() > 0)
                shown << traceName(view_->trace(i), i);
        const QString chart = title.isEmpty() ? QStringLiteral("chart") : title + QStringLiteral(" chart");
        return shown.isEmpty() ? chart : chart + QStringLiteral(": ") + shown.join(QStringLiteral(", "));
    }

private:
    QPointer<ChartView> view_;
};

QAccessibleInterface *faceFactory(const QString &className, QObject *object)
{
    // Asked once per class from the most derived one up: answer at the first.
    auto *w = qobject_cast<QWidget *>(object);
    if (!w || className != QLatin1String(object->metaObject()->className()))
        return nullptr;
    if (auto *view = dynamic_cast<ChartView *>(w))
        return new ChartAccess(w, view);
    // A control's face is a child of the control's own widget.
    if (!w->property("qvarCtrl").isValid())
        return nullptr;
    for (QObject *child : w->children()) {
        auto *face = qobject_cast<QWidget *>(child);
        if (auto *number = dynamic_cast<NumberDisplay *>(face); number && qobject_cast<QSpinBox *>(w))
            return new DisplayAccess(static_cast<QSpinBox *>(w), number);
        if (lampState(face, nullptr, nullptr))
            return new LampAccess(w, face);
        if (auto *view = dynamic_cast<ChartView *>(face))
            return new ChartAccess(w, view);
    }
    return nullptr;
}

bool ours(QAccessibleInterface *i)
{
    return dynamic_cast<ShownValue *>(i) || dynamic_cast<ChartAccess *>(i);
}

// Controls told of lately: when, and whether a later change waits.
struct Told {
    QPointer<QWidget> w;
    double at = -std::numeric_limits<double>::infinity();
    bool waiting = false;
};

struct Telling {
    std::vector<Told> told;
    QTimer *timer = nullptr;
};

Telling &telling()
{
    static Telling t;
    return t;
}

void tell(QWidget *w)
{
    QAccessibleInterface *i = QAccessible::queryAccessibleInterface(w);
    if (!i)
        return;
    if (QAccessibleValueInterface *v = i->valueInterface()) {
        QAccessibleValueChangeEvent e(i, v->currentValue());
        hooks().tell(&e);
    }
    if (i->state().checkable) {
        QAccessible::State changed;
        changed.checked = true;
        QAccessibleStateChangeEvent e(i, changed);
        hooks().tell(&e);
    }
}

void arm(double seconds)
{
    Telling &t = telling();
    if (!t.timer) {
        t.timer = new QTimer(QCoreApplication::instance());
        t.timer->setSingleShot(true);
        t.timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(t.timer, &QTimer::timeout, t.timer, [] {
            Telling &t = telling();
            const double now = Timer();
            double next = std::numeric_limits<double>::infinity();
            for (Told &c : t.told) {
                if (!c.waiting || !c.w)
                    continue;
                if (now - c.at >= kTellGap) {
                    c.waiting = false;
                    c.at = now;
                    tell(c.w);
                } else {
                    next = std::min(next, c.at + kTellGap - now);
                }
            }
            std::erase_if(t.told, [](const Told &c) { return !c.w; });
            if (std::isfinite(next))
                arm(next);
        });
    }
    const int ms = int(std::ceil(seconds * 1000));
    if (!t.timer->isActive() || t.timer->remainingTime() > ms)
        t.timer->start(ms);
}

} // namespace

void installAccess()
{
    static bool done = false;
    if (!done) {
        done = true;
        QAccessible::installFactory(faceFactory);
    }
}

void adoptAccess(QWidget *w)
{
    // A spin box asks for its interface whenever its value is set, also while
    // the resource file's loader sets it up, before it has a face; Qt keeps
    // the first answer for the widget's life, so drop one not made here.
    installAccess();
    QAccessibleInterface *i = QAccessible::queryAccessibleInterface(w);
    if (i && !ours(i))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(i));
}

void noteShownChange(QWidget *w)
{
    if (!w || !hooks().listening())
        return;
    Telling &t = telling();
    auto it = std::find_if(t.told.begin(), t.told.end(), [w](const Told &c) { return c.w == w; });
    if (it == t.told.end()) {
        t.told.push_back(Told{w});
        it = t.told.end() - 1;
    }
    if (it->waiting)
        return;   // the timer tells what is shown then
    const double now = Timer();
    if (now - it->at >= kTellGap) {
        it->at = now;
        tell(w);
        return;
    }
    it->waiting = true;
    arm(it->at + kTellGap - now);
}

void noteRenamed(QWidget *w)
{
    if (!w || !hooks().listening())
        return;
    if (QAccessibleInterface *i = QAccessible::queryAccessibleInterface(w)) {
        QAccessibleEvent e(i, QAccessible::NameChanged);
        hooks().tell(&e);
    }
}

} // namespace qvar::ui

void UiAccessHooks(bool (*listening)(), void (*tell)(QAccessibleEvent *))
{
    qvar::ui::Hooks &h = qvar::ui::hooks();
    h.listening = listening ? listening : qvar::ui::qtListens;
    h.tell = tell ? tell : qvar::ui::qtTell;
}
