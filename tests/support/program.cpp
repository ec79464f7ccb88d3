// program.cpp - bringing the program up for subsystem tests.
#define QVAR_HIDE_SYNC
#include "tests/support/program.h"
#include "tests/support/process.h"

#include "state/qvar.h"

#include "app/app.h"
#include "link/com232.h"
#include "platform/serial/serial.h"
#include "platform/serial/serial_sim.h"
#include "platform/ui/ui.h"
#include "platform/ui/pump.h"
#include "platform/ui/ui_qt.h"
#include "sim/controller.h"
#include "ui_ids.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QProcess>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <map>
#include <memory>

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

namespace qvar_test {

std::string TempDir()
{
    // Each test runs as a process of its own; what it made goes when it ends.
    static std::vector<std::unique_ptr<ScratchDir>> made;
    made.push_back(std::make_unique<ScratchDir>());
    return made.back()->path();
}

void IsolatePorts()
{
    static std::string root;
    if (root.empty()) {
        root = TempDir();
        fs::create_directories(root + "/dev");
        fs::create_directories(root + "/sys/class/tty");
        fs::create_directories(root + "/config");
    }
    setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    ComSetScanRoots((root + "/dev").c_str(), (root + "/sys").c_str());
}

std::string PortsDir()
{
    const char *config = std::getenv("XDG_CONFIG_HOME");
    return std::string(config ? config : "") + "/qvar-scope/ports";
}

void UsePort(int number)
{
    IsolatePorts();
    CloseCom(com);
    com = number;
    InitRS232(com);
}

std::string StartQvarSim(QProcess &server, int number, const std::vector<std::string> &args)
{
    // Tests live a folder below the programs, measuring programs beside them.
    const std::string here = QCoreApplication::applicationDirPath().toStdString();
    std::string exe = here + "/../qvar-sim";
    if (!fs::exists(exe))
        exe = here + "/qvar-sim";
    if (!fs::exists(exe))
        return "";
    QStringList list;
    for (const std::string &a : args)
        list << QString::fromStdString(a);
    list << "--port" << QString::number(number);
    server.start(QString::fromStdString(exe), list);
    if (!server.waitForReadyRead(5000))
        return "";
    return server.readLine().trimmed().toStdString();
}

qvar::sim::Controller &FreshSim()
{
    qvar::sim::Controller &c = *ComSimController();
    c.faults = qvar::sim::Faults{};
    c.set_paced(false);
    c.set_seed(1);
    c.factory_reset();
    c.clear_line();
    c.reset_counters();
    return c;
}

namespace {
struct Questions {
    int answer = 1, dontAskAgain = 0;
    std::vector<std::string> asked;
} questions;

int AnswerByTest(const char *, const char *question, int *dontAskAgain)
{
    questions.asked.emplace_back(question ? question : "");
    *dontAskAgain = questions.dontAskAgain;
    return questions.answer;
}
} // namespace

void AnswerQuestions(int answer, int dontAskAgain)
{
    questions.answer = answer;
    questions.dontAskAgain = dontAskAgain;
}

std::vector<std::string> QuestionsAsked()
{
    return questions.asked;
}

bool StartProgram()
{
    IsolatePorts();
    std::error_code ec;
    fs::remove(std::string(std::getenv("XDG_CONFIG_HOME")) + "/qvar-scope/settings", ec);
    questions = Questions{};
    SetConfirmHook(AnswerByTest);
    static char name[] = "qvar-test";
    static char *argv[] = {name, nullptr};
    return StartUp(1, argv) == 0;
}

void StopProgram()
{
    ShutDown();
}

void PumpFor(double seconds)
{
    PumpUntil([] { return false; }, seconds);
}

void After(double seconds, std::function<void()> fn)
{
    QTimer::singleShot(int(seconds * 1000), QCoreApplication::instance(), std::move(fn));
}

void When(std::function<bool()> when, std::function<void()> fn, double giveUpAfter)
{
    auto *timer = new QTimer(QCoreApplication::instance());
    auto *clock = new QElapsedTimer;
    clock->start();
    timer->setInterval(1);
    QObject::connect(timer, &QTimer::timeout, [timer, clock, when, fn, giveUpAfter] {
        bool due = when();
        if (!due && clock->nsecsElapsed() / 1e9 < giveUpAfter)
            return;
        timer->stop();
        timer->deleteLater();
        delete clock;
        if (due)
            fn();
    });
    timer->start();
}

namespace {
struct Every {
    QTimer *timer;                 // the passes of RunUserInterface's loop
    std::function<void()> fn;      // and those of ProcessSystemEvents
};
std::map<int, Every> everyPump;
int nextEvery = 1;

void RunEveryPump()
{
    // A copy: a hook may cancel itself or another.
    std::vector<std::function<void()>> hooks;
    for (auto &[id, e] : everyPump)
        hooks.push_back(e.fn);
    for (auto &fn : hooks)
        fn();
}
} // namespace

int EveryPump(std::function<void()> fn)
{
    auto *timer = new QTimer(QCoreApplication::instance());
    QObject::connect(timer, &QTimer::timeout, fn);
    timer->start(0);
    everyPump[nextEvery] = Every{timer, std::move(fn)};
    qvar::pump::set_pass_hook(RunEveryPump);
    return nextEvery++;
}

void CancelEveryPump(int id)
{
    auto it = everyPump.find(id);
    if (it == everyPump.end())
        return;
    it->second.timer->stop();
    it->second.timer->deleteLater();
    everyPump.erase(it);
    if (everyPump.empty())
        qvar::pump::set_pass_hook(nullptr);
}

void Click(int panel, int control)
{
    QWidget *w = UiCtrlWidget(panel, control);
    if (w)
        QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, w->rect().center());
}

void CloseWindow(int panel)
{
    QWidget *w = UiPanelWidget(panel);
    if (w)
        w->close();
}

namespace {
std::vector<std::string> statusLog;
void Record(const char *text) { statusLog.emplace_back(text); }
} // namespace

void StartStatusLog()
{
    statusLog.clear();
    SetStatusListener(Record);
}

std::vector<std::string> StatusLog()
{
    return statusLog;
}

// A read that fails (no such panel or control) fails the test as well.
int Value(int panel, int control)
{
    int v = -1;
    EXPECT_GE(GetCtrlVal(panel, control, &v), 0) << "panel " << panel << " control " << control;
    return v;
}

int Attribute(int panel, int control, int attribute)
{
    int v = -1;
    EXPECT_GE(GetCtrlAttribute(panel, control, attribute, &v), 0)
        << "panel " << panel << " control " << control << " attribute " << attribute;
    return v;
}

int PanelAttribute(int panel, int attribute)
{
    int v = -1;
    EXPECT_GE(GetPanelAttribute(panel, attribute, &v), 0) << "panel " << panel << " attribute " << attribute;
    return v;
}

bool Dimmed(int panel, int control)
{
    return Attribute(panel, control, ATTR_DIMMED) == 1;
}

bool Visible(int panel, int control)
{
    return Attribute(panel, control, ATTR_VISIBLE) == 1;
}

std::string StatusLine()
{
    char text[256] = "";
    GetCtrlString(panelHandle, PANEL_STATUS, text, sizeof text);
    return text;
}

::testing::AssertionResult HeardAsShown(int panel, int control)
{
    const int shown = Value(panel, control);
    QWidget *w = UiCtrlWidget(panel, control);
    QAccessibleInterface *a = w ? QAccessible::queryAccessibleInterface(w) : nullptr;
    if (!a || !a->valueInterface())
        return ::testing::AssertionFailure() << "control " << control << " has no accessible value";
    const int heard = a->valueInterface()->currentValue().toInt();
    const QString text = a->text(QAccessible::Value);
    const QString want = a->role() == QAccessible::Indicator ? QString::fromLatin1(shown ? "on" : "off")
                                                             : QString::number(shown);
    if (heard != shown || text != want)
        return ::testing::AssertionFailure() << "control " << control << " shows " << shown << ", heard "
                                             << heard << " \"" << text.toStdString() << "\"";
    return ::testing::AssertionSuccess();
}

void ProgramTest::SetUp()
{
    sim = &FreshSim();
    ASSERT_TRUE(StartProgram());
    sim->reset_counters();
    StartStatusLog();
}

void ProgramTest::TearDown()
{
    SetStatusListener(nullptr);
    StopProgram();
}

} // namespace qvar_test
