// What assistive technology reads from the faces the program draws itself
// (read-only numbers, lamps, charts), and how often it is told of changes.
#include "platform/ui/chart_view.h"
#include "ui_testing.h"

#include <QAccessible>
#include <QToolButton>

#include <memory>
#include <string>
#include <vector>

using namespace uitest;

namespace {

QAccessibleInterface *Heard(QWidget *w) { return QAccessible::queryAccessibleInterface(w); }
std::string Text(QAccessibleInterface *a, QAccessible::Text t) { return a ? a->text(t).toStdString() : "(none)"; }

struct Notice {
    QObject *object;
    QAccessible::Event type;
    int value;
    double at;
};

std::vector<Notice> notices;
bool listening = false;

bool Listening() { return listening; }
void Note(QAccessibleEvent *e)
{
    const int value = e->type() == QAccessible::ValueChanged
                          ? static_cast<QAccessibleValueChangeEvent *>(e)->value().toInt()
                          : -1;
    notices.push_back({e->object(), e->type(), value, Timer()});
}

std::vector<Notice> NoticesOf(QObject *object, QAccessible::Event type)
{
    std::vector<Notice> out;
    for (const Notice &n : notices)
        if (n.object == object && n.type == type)
            out.push_back(n);
    return out;
}

class Access : public UiTest {
protected:
    void SetUp() override
    {
        UiTest::SetUp();
        notices.clear();
        listening = false;
        UiAccessHooks(Listening, Note);
    }
    void TearDown() override
    {
        UiAccessHooks(nullptr, nullptr);
        UiTest::TearDown();
    }
};

TEST_F(Access, FacesDrawnHereReadAsTheyShow)
{
    DisplayPanel(main_);

    // A read-only number: a read-only spin box named by its control, with
    // the number on screen as value and text.
    for (int v : {40000, 0, 65535}) {
        SetCtrlVal(main_, T_DISP, v);
        QAccessibleInterface *a = Heard(W(T_DISP));
        ASSERT_TRUE(a && a->valueInterface());
        EXPECT_EQ(v, a->valueInterface()->currentValue().toInt());
        EXPECT_EQ(std::to_string(v), Text(a, QAccessible::Value));
    }
    SetCtrlVal(main_, T_DISP, 70000);   // shown within the box's range
    QAccessibleInterface *disp = Heard(W(T_DISP));
    EXPECT_EQ(65535, disp->valueInterface()->currentValue().toInt());
    EXPECT_EQ(0, disp->valueInterface()->minimumValue().toInt());
    EXPECT_EQ(65535, disp->valueInterface()->maximumValue().toInt());
    EXPECT_EQ(QAccessible::SpinBox, disp->role());
    EXPECT_EQ("MAIN_DISP", Text(disp, QAccessible::Name));
    EXPECT_TRUE(disp->state().readOnly);
    EXPECT_EQ(0, disp->childCount()) << "the face and the unused line edit are no parts of their own";

    // A lamp: on or off, as text, as checked state and as value, and its colour.
    QAccessibleInterface *led = Heard(W(T_LED));
    ASSERT_TRUE(led && led->valueInterface());
    EXPECT_EQ(QAccessible::Indicator, led->role());
    EXPECT_EQ("off", Text(led, QAccessible::Value));
    SetCtrlVal(main_, T_LED, 1);
    EXPECT_EQ("on", Text(led, QAccessible::Value));
    EXPECT_TRUE(led->state().checked);
    EXPECT_EQ(1, led->valueInterface()->currentValue().toInt());
    EXPECT_EQ("green lamp", Text(led, QAccessible::Description));
    SetCtrlVal(main_, T_LED, 0);
    EXPECT_FALSE(led->state().checked);

    // A chart is named by its title and the traces it draws, the view that
    // takes the focus as well as the control; its Pause toggle reads as it shows.
    SetCtrlAttribute(main_, T_GRAPH, ATTR_LABEL_TEXT, "Curve");
    auto *view = W(T_GRAPH)->findChild<qvar::ui::ChartView *>();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ("Curve chart", Text(Heard(W(T_GRAPH)), QAccessible::Name));
    const unsigned short x[] = {0, 1}, y[] = {5, 6};
    PlotXY(main_, T_GRAPH, x, y, 2, PLOT_THIN_LINE, POINT_NONE, LINE_SOLID, 0xFF0000);
    const std::string trace = qvar::ui::traceName(view->trace(0), 0).toStdString();
    EXPECT_EQ("Curve chart: " + trace, Text(Heard(W(T_GRAPH)), QAccessible::Name));
    EXPECT_EQ(Text(Heard(W(T_GRAPH)), QAccessible::Name), Text(Heard(view), QAccessible::Name));
    EXPECT_EQ(QAccessible::Chart, Heard(view)->role());
    // The viewer's traces refer to samples instead of holding points.
    qvar::ui::ChartView viewer(nullptr);
    viewer.setTitle(QStringLiteral("Recording"));
    qvar::ui::Trace sampled;
    sampled.name = QStringLiteral("NORM A");
    sampled.samples.table = std::make_shared<const std::vector<uint32_t>>(std::vector<uint32_t>{7, 8});
    viewer.addTrace(sampled);
    EXPECT_EQ("Recording chart: NORM A", Text(Heard(&viewer), QAccessible::Name));
    EXPECT_NE(std::string::npos, Text(Heard(view), QAccessible::Description).find("Pause / resume: P"));
    QToolButton *pause = view->pauseToggle();
    EXPECT_EQ("Pause", Text(Heard(pause), QAccessible::Name));
    pause->click();
    EXPECT_EQ("Resume", Text(Heard(pause), QAccessible::Name));
}

TEST_F(Access, ChangesAreToldAtMostTenTimesASecondEndingWithWhatIsShown)
{
    DisplayPanel(main_);
    QWidget *disp = W(T_DISP);
    QWidget *led = W(T_LED);

    // Nobody listening: nothing is told.
    for (int i = 1; i <= 30; ++i) {
        SetCtrlVal(main_, T_DISP, i);
        SetCtrlVal(main_, T_LED, i % 2);
        PumpUntil([] { return false; }, 0.005);
    }
    EXPECT_TRUE(notices.empty());

    // A listener, and a display changing every few milliseconds for a second.
    listening = true;
    int last = 0;
    const double end = Timer() + 1.0;
    for (int i = 100; Timer() < end; ++i) {
        SetCtrlVal(main_, T_DISP, i);
        last = i;
        PumpUntil([] { return false; }, 0.003);
    }
    SetCtrlVal(main_, T_LED, 1);
    PumpUntil([] { return false; }, 0.5);

    const std::vector<Notice> told = NoticesOf(disp, QAccessible::ValueChanged);
    ASSERT_GE(told.size(), 2u);
    EXPECT_LE(told.size(), 12u);
    for (size_t i = 1; i < told.size(); ++i)
        EXPECT_GE(told[i].at - told[i - 1].at, 0.099) << "notice " << i;
    EXPECT_EQ(last, told.back().value) << "the last notice tells what is shown in the end";
    EXPECT_EQ(1u, NoticesOf(led, QAccessible::StateChanged).size());
}

} // namespace
