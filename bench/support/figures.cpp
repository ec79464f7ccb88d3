// figures.cpp - bounds, CPU time and program start for the measuring programs.
#include "bench/support/figures.h"

#include "sim/controller.h"
#include "tests/support/process.h"
#include "tests/support/program.h"

#include <QCoreApplication>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>

namespace qvar_bench {
namespace {
int missed = 0;

const char *BoundText(Bound b)
{
    switch (b) {
    case Bound::AtMost: return "<=";
    case Bound::AtLeast: return ">=";
    case Bound::Equal: return "==";
    }
    return "?";
}
} // namespace

bool Figure(const std::string &name, double value, const std::string &unit, Bound bound, double limit)
{
    bool ok = false;
    switch (bound) {
    case Bound::AtMost: ok = value <= limit; break;
    case Bound::AtLeast: ok = value >= limit; break;
    case Bound::Equal: ok = value == limit; break;
    }
    std::printf("  %-44s %12.4f %-8s (bound %s %g)  %s\n", name.c_str(), value, unit.c_str(), BoundText(bound),
                limit, ok ? "ok" : "MISSED");
    std::fflush(stdout);
    if (!ok)
        ++missed;
    return ok;
}

void Info(const std::string &name, double value, const std::string &unit)
{
    std::printf("  %-44s %12.4f %s\n", name.c_str(), value, unit.c_str());
    std::fflush(stdout);
}

void Fail(const std::string &why)
{
    std::printf("  FAILED: %s\n", why.c_str());
    std::fflush(stdout);
    ++missed;
}

int Verdict(const char *program)
{
    std::printf("%s: %s\n", program, missed ? "bounds MISSED" : "all bounds met");
    return missed ? 1 : 0;
}

double ProcessCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

namespace {
std::map<int, QTimer *> stops;
int nextStop = 1;
} // namespace

int StopAfter(double seconds, std::function<void()> fn)
{
    // A coarse timer, Qt's choice for long intervals, may fire 5 % early.
    auto *timer = new QTimer(QCoreApplication::instance());
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    const int id = nextStop++;
    QObject::connect(timer, &QTimer::timeout, [id, fn] {
        CancelStop(id);
        fn();
    });
    timer->start(int(seconds * 1000));
    stops[id] = timer;
    return id;
}

void CancelStop(int id)
{
    auto it = stops.find(id);
    if (it == stops.end())
        return;
    it->second->stop();
    it->second->deleteLater();
    stops.erase(it);
}

bool StartOnSimulator(bool paced)
{
    qvar_test::UseDesktopScreen();
    // Start-up itself runs unpaced: only the loop under measurement needs
    // line timing, and it should not wait for the start exchange.
    qvar::sim::Controller &sim = qvar_test::FreshSim();
    if (!qvar_test::StartProgram())
        return false;
    sim.set_paced(paced);
    sim.reset_counters();
    return true;
}

bool ShowExposed(QWidget *w)
{
    w->show();
    const auto t0 = std::chrono::steady_clock::now();
    do
        QCoreApplication::processEvents();
    while (!(w->windowHandle() && w->windowHandle()->isExposed()) &&
           std::chrono::steady_clock::now() - t0 < std::chrono::seconds(2));
    return w->windowHandle() && w->windowHandle()->isExposed();
}

} // namespace qvar_bench
