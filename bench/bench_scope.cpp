// bench_scope.cpp - the live scope with its chart on screen: the polling rate
// at line timing against the line's own rate and the CPU it costs meanwhile,
// side by side with the floor program in the same run (NORM, RAW and a
// recording at interval 0 with the chart live), then
// the rate without line timing and how often the chart is really redrawn.
#define QVAR_HIDE_SYNC
#include "app/app.h"
#include "state/qvar.h"
#include "bench/support/figures.h"
#include "bench/support/floor.h"
#include "link/com232.h"
#include "platform/clock.h"
#include "platform/files/files.h"
#include "platform/serial/serial.h"
#include "platform/serial/serial_sim.h"
#include "platform/ui/chart_view.h"
#include "platform/ui/ui.h"
#include "platform/ui/ui_qt.h"
#include "recorder/recorder.h"
#include "scope/scope.h"
#include "sim/controller.h"
#include "tests/support/program.h"
#include "ui_ids.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QProcess>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

using namespace qvar_bench;

namespace {

// Tool and floor take turns, a few rounds each, so that whatever the machine
// does meanwhile weighs on both alike; one long stretch each would compare
// two different machines.
constexpr int kRounds = 3;
constexpr double kRoundSeconds = 4.0;

struct Run {
    double wall = 0, cpu = 0;
    uint64_t exchanges = 0;
    double paced = 0;   // exchanges per second as the controller took them
    int redraws = 0;
    int result = -1;
    int rounds = 0;

    // One more round: times and counts add up, the rate is their mean.
    void add(const Run &r)
    {
        wall += r.wall;
        cpu += r.cpu;
        exchanges += r.exchanges;
        redraws += r.redraws;
        paced = (paced * rounds + r.paced) / (rounds + 1);
        ++rounds;
    }
};

// The pace of the requests as the controller took them: n requests span n-1
// periods. A count over the run's wall time would lose up to a whole
// exchange to where the run's window cuts the last one, 0.4% in 10 s.
double PacedRate(const qvar::sim::Controller &sim)
{
    const uint64_t n = sim.requests_total();
    const double span = sim.last_request_at() - sim.first_request_at();
    return n >= 2 && span > 0 ? double(n - 1) / span : 0.0;
}

// What the line can carry at most: every exchange is 36 bytes out and 36
// back, plus the controller's turnaround, which the tool cannot shorten.
double LineCapacity(const qvar::sim::Controller &sim)
{
    return 1.0 / (72.0 / sim.byte_rate() + qvar::sim::kDefaultTurnaround);
}

// When a widget was painted, from an event filter: the moments the line's
// answers reached the screen.
class PaintClock : public QObject {
public:
    explicit PaintClock(QWidget *w) : w_(w) { w->installEventFilter(this); }
    ~PaintClock() override
    {
        if (w_)
            w_->removeEventFilter(this);
    }
    std::vector<double> times;

protected:
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Paint)
            times.push_back(Timer());
        return false;
    }

private:
    QPointer<QWidget> w_;
};

// Paints per second over the stretch from the first to the last: at line
// timing one paint per answer, so the exchange rate of a line whose far end
// cannot be asked (qvar-sim in a process of its own).
double PaintRate(const std::vector<double> &t)
{
    return t.size() >= 2 && t.back() > t.front() ? double(t.size() - 1) / (t.back() - t.front()) : 0.0;
}

// One scope run on the NORM chart, stopped by the Stop button's callback from
// inside the loop's own pump after `seconds`.
constexpr int kSourceNorm = 0, kSourceRaw = 8;

Run ScopeFor(double seconds, bool hideChart = false, int source = kSourceNorm)
{
    qvar::sim::Controller &sim = *ComSimController();
    SetCtrlVal(panelHandle, PANEL_GRAPHSOURCE, source);
    sim.reset_counters();
    const int chart = source == kSourceRaw ? PANEL_CHART_RAW : PANEL_CHART_NORM;
    const int redrawsBefore = GetChartRedrawCount(panelHandle, chart);
    const int stop = StopAfter(seconds, [] { CC_BTNStop(panelHandle, PANEL_BTN_STOP, EVENT_COMMIT, nullptr, 0, 0); });
    // Hidden once the run has shown it: the same loop without the redraws.
    const int hide = hideChart ? StopAfter(0.001, [] { SetCtrlAttribute(panelHandle, PANEL_CHART_NORM, ATTR_VISIBLE, 0); })
                               : 0;
    Run r;
    const double cpu0 = ProcessCpuSeconds();
    const double t0 = Timer();
    r.result = CC_BTNRun(panelHandle, PANEL_BTN_RUN, EVENT_COMMIT, nullptr, 0, 0);
    r.wall = Timer() - t0;
    r.cpu = ProcessCpuSeconds() - cpu0;
    CancelStop(stop);
    CancelStop(hide);
    r.exchanges = sim.requests(8);
    r.paced = PacedRate(sim);
    r.redraws = GetChartRedrawCount(panelHandle, chart) - redrawsBefore;
    return r;
}

bool ChartOnScreen(int chart = PANEL_CHART_NORM)
{
    int panelShown = 0, chartShown = 0;
    GetPanelAttribute(panelHandle, ATTR_VISIBLE, &panelShown);
    GetCtrlAttribute(panelHandle, chart, ATTR_VISIBLE, &chartShown);
    return panelShown == 1 && chartShown == 1;
}

// A case's totals over its rounds.
struct Turns {
    Run tool;
    double floorCpu = 0, floorWall = 0, floorFrames = 0;
    bool floorFailed = false;

    // One floor round beside the tool's, with a chart of the tool chart's
    // size and as many traces.
    void addFloor(QWidget *floorChart)
    {
        double frames = 0;
        const double share = RunFloor(floorChart, kRoundSeconds, &frames);
        floorFailed = floorFailed || share <= 0;
        floorCpu += share / 100.0 * kRoundSeconds;
        floorWall += kRoundSeconds;
        floorFrames += frames * kRoundSeconds;
    }
    void report(const qvar::sim::Controller &sim) const
    {
        Figure("exchanges per second", tool.paced, "1/s", Bound::AtLeast, 0.995 * LineCapacity(sim));
        Info("chart redraws per second", tool.redraws / tool.wall, "1/s");
        Info("floor: frames per second", floorFrames / floorWall, "1/s");
        const double toolShare = 100.0 * tool.cpu / tool.wall, floorShare = 100.0 * floorCpu / floorWall;
        Info("tool: process CPU, share of one core", toolShare, "%");
        Info("floor: CPU, share of one core", floorShare, "%");
        if (floorFailed)
            Fail("the floor program did not run");
        else
            Figure("tool / floor CPU", toolShare / floorShare, "x", Bound::AtMost, 1.5);
    }
};

std::unique_ptr<QWidget> FloorLike(int chart, int traces)
{
    int w = 0, h = 0;
    GetCtrlAttribute(panelHandle, chart, ATTR_WIDTH, &w);
    GetCtrlAttribute(panelHandle, chart, ATTR_HEIGHT, &h);
    return std::unique_ptr<QWidget>(NewFloorChart(w, h, traces, 100));
}

// The scope on one graph source in turns with the floor program, the floor's
// chart of the same size with as many traces. With `painted`, the exchange
// rate comes from that chart's paints, one per answer at line timing: the far
// end may be a process of its own, which cannot be asked.
void InTurns(const char *name, int source, int chart, int traces, QWidget *painted)
{
    const std::unique_ptr<QWidget> floorChart = FloorLike(chart, traces);
    Turns turns;
    for (int round = 0; round < kRounds; ++round) {
        std::optional<PaintClock> clock;
        if (painted)
            clock.emplace(painted);
        Run tool = ScopeFor(kRoundSeconds, false, source);
        if (tool.result != 0)
            Fail(std::string(name) + ": the run ended by its time-out, not by Stop");
        if (!ChartOnScreen(chart))
            Fail(std::string(name) + ": the chart was not on screen");
        if (clock)
            tool.paced = PaintRate(clock->times);
        turns.tool.add(tool);
        turns.addFloor(floorChart.get());
    }
    turns.report(*ComSimController());
}

void BesideTheFloor(const char *name, int source, int chart, int traces)
{
    std::printf(" %s at line timing beside the floor, %d turns of %.0f s each:\n", name, kRounds, kRoundSeconds);
    LinkCounters before, after;
    GetLinkCounters(&before);
    InTurns(name, source, chart, traces, nullptr);
    // Every answer passes the frame check the echo answer switched on.
    GetLinkCounters(&after);
    Info("answers taken through the frame check", double(after.framesTaken - before.framesTaken), "");
}

// The chart widget of a chart control (its title names the graph source).
qvar::ui::ChartView *ChartOf(int chart)
{
    QWidget *w = UiCtrlWidget(panelHandle, chart);
    return w ? w->findChild<qvar::ui::ChartView *>() : nullptr;
}

qvar::ui::ChartView *NormView() { return ChartOf(PANEL_CHART_NORM); }

// How long after its last byte came each answer was on screen: the first
// paint of the NORM chart after it.
void AnswerToScreen(double seconds)
{
    std::printf(" NORM at line timing, answer to screen, %.0f s:\n", seconds);
    qvar::ui::ChartView *view = NormView();
    if (!view) {
        Fail("no NORM chart widget");
        return;
    }
    PaintClock clock(view);
    ScopeFor(seconds);
    const std::vector<double> &answers = ComSimController()->answer_times();
    std::vector<double> delay;
    for (double a : answers) {
        const auto p = std::lower_bound(clock.times.begin(), clock.times.end(), a);
        if (p != clock.times.end())
            delay.push_back(*p - a);
    }
    // The last answer may have come after the Stop, with no paint to follow.
    if (delay.size() + 1 < answers.size() || delay.empty()) {
        Fail("answers that were never painted");
        return;
    }
    std::sort(delay.begin(), delay.end());
    Info("answers", double(delay.size()), "");
    Info("answer to screen, median", 1e3 * delay[delay.size() / 2], "ms");
    Info("answer to screen, 99 in 100", 1e3 * delay[delay.size() * 99 / 100], "ms");
    Figure("answer to screen, slowest", 1e3 * delay.back(), "ms", Bound::AtMost, 1e3 / 60);
}

// The same scope through qvar-sim on a pseudo-terminal, its own process, in
// turns with the floor: the tool's side of a real serial port. The exchange
// rate comes from the chart's paints, one per answer at line timing.
void ThroughQvarSim(const char *name, int source, int chart, int traces)
{
    std::printf(" %s through qvar-sim on a pseudo-terminal, beside the floor, %d turns of %.0f s each:\n", name,
                kRounds, kRoundSeconds);
    QProcess server;
    constexpr int kPort = 5;
    if (qvar_test::StartQvarSim(server, kPort, {}).empty()) {
        Fail("qvar-sim did not start");
        return;
    }
    qvar_test::UsePort(kPort);
    if (qvar::ui::ChartView *view = ChartOf(chart))
        InTurns(name, source, chart, traces, view);
    else
        Fail(std::string("no chart widget for ") + name);
    // Back on the built-in controller, whose number the pin may have moved.
    server.terminate();
    server.waitForFinished(3000);
    qvar_test::IsolatePorts();
    qvar_test::UsePort(ComSimulatedPort());
    if (!ComSimController() || com != ComSimulatedPort())
        Fail("the built-in controller did not come back");
}

// The chart tools beside the plain NORM chart, in turns: paused, the line
// must carry the same exchanges; zoomed with the crosshair shown, the CPU
// may rise by a tenth at most.
void WithTheTools()
{
    qvar::ui::ChartView *view = NormView();
    if (!view) {
        Fail("no NORM chart widget");
        return;
    }
    // Twice the turns of the other cases: the bound is a tenth, about the
    // spread of three turns on a virtual machine.
    constexpr int kToolRounds = 2 * kRounds;
    std::printf(" NORM at line timing: plain, paused, zoomed with the crosshair shown, %d turns of %.0f s each:\n",
                kToolRounds, kRoundSeconds);
    Run plain, paused, zoomed;
    for (int round = 0; round < kToolRounds; ++round) {
        plain.add(ScopeFor(kRoundSeconds));

        view->setPaused(true);
        paused.add(ScopeFor(kRoundSeconds));
        view->setPaused(false);

        view->setView(qvar::ui::Range{20, 60}, qvar::ui::Range{0, 600});
        const QPointF centre = view->plotArea().center();
        QMouseEvent move(QEvent::MouseMove, centre, view->mapToGlobal(centre), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(view, &move);
        if (!view->hovering())
            Fail("the crosshair is not shown");
        zoomed.add(ScopeFor(kRoundSeconds));
        // The pointer leaves: the cases after this one draw no crosshair.
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(view, &leave);
        view->resetView();
    }
    const double plainCpu = 100.0 * plain.cpu / plain.wall, zoomedCpu = 100.0 * zoomed.cpu / zoomed.wall;
    Info("plain: exchanges per second", plain.paced, "1/s");
    Info("plain: process CPU, share of one core", plainCpu, "%");
    Info("paused: exchanges per second", paused.paced, "1/s");
    Figure("paused / plain exchange rate - 1", 100.0 * std::abs(paused.paced / plain.paced - 1), "%", Bound::AtMost,
           1.0);
    Info("paused: process CPU, share of one core", 100.0 * paused.cpu / paused.wall, "%");
    Info("zoomed: exchanges per second", zoomed.paced, "1/s");
    Info("zoomed: process CPU, share of one core", zoomedCpu, "%");
    Figure("zoomed / plain CPU", zoomedCpu / plainCpu, "x", Bound::AtMost, 1.1);
    if (view->hovering())
        Fail("the crosshair stayed after the pointer left");
}

// A recording at interval 0 at line timing, the NORM chart drawn meanwhile,
// stopped by the recorder's stop button; in turns with the floor program.
Run RecordFor(double seconds)
{
    qvar::sim::Controller &sim = *ComSimController();
    const std::string dir = qvar_test::TempDir();
    CopyText(recfile_name, PATH_LEN, (dir + "/paced.dat").c_str());
    SetCtrlVal(panelPopUp, POPUP_INTERVAL, 0u);
    SetCtrlVal(panelPopUp, POPUP_SAMPLES, 65535u);
    sim.reset_counters();
    Run r;
    const int redrawsBefore = GetChartRedrawCount(panelHandle, PANEL_CHART_NORM);
    const int stop = StopAfter(seconds, [] { CC_BTNStopRecord(panelPopUp, POPUP_BTN_STOP, EVENT_COMMIT, nullptr, 0, 0); });
    const double cpu0 = ProcessCpuSeconds();
    const double t0 = Timer();
    CC_BTNStartRecord(panelPopUp, POPUP_BTN_START, EVENT_COMMIT, nullptr, 0, 0);
    r.wall = Timer() - t0;
    r.cpu = ProcessCpuSeconds() - cpu0;
    CancelStop(stop);
    std::filesystem::remove_all(dir);
    if (r.wall < seconds * 0.9)
        Fail("the recording ended early");
    r.exchanges = sim.requests(8);
    r.paced = PacedRate(sim);
    r.redraws = GetChartRedrawCount(panelHandle, PANEL_CHART_NORM) - redrawsBefore;
    return r;
}

void RecordingBesideTheFloor()
{
    std::printf(" recording at interval 0, line timing, beside the floor, %d turns of %.0f s each:\n", kRounds,
                kRoundSeconds);
    SetCtrlVal(panelHandle, PANEL_GRAPHSOURCE, kSourceNorm);
    DisplayPanel(panelPopUp);
    const std::unique_ptr<QWidget> floorChart = FloorLike(PANEL_CHART_NORM, 6);
    Turns turns;
    for (int round = 0; round < kRounds; ++round) {
        turns.tool.add(RecordFor(kRoundSeconds));
        turns.addFloor(floorChart.get());
    }
    HidePanel(panelPopUp);
    turns.report(*ComSimController());
}

// The cases to run: all, or those named on the command line (norm, raw,
// recording, tools, latency, qvarsim, hidden, unpaced), for a closer look at
// one of them.
bool Wanted(int argc, char **argv, const char *name)
{
    if (argc < 2)
        return true;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return true;
    return false;
}

void ChartHidden()
{
    // The same at line timing with the chart hidden, to tell the cost of the
    // redraws from that of the waiting.
    std::printf(" at line timing, chart hidden, 3 s:\n");
    const Run hidden = ScopeFor(3.0, true);
    Info("exchanges per second", hidden.paced, "1/s");
    Info("process CPU, share of one core", 100.0 * hidden.cpu / hidden.wall, "%");
    Info("chart redraws per second", hidden.redraws / hidden.wall, "1/s");
    SetCtrlAttribute(panelHandle, PANEL_CHART_NORM, ATTR_VISIBLE, 1);
}

void Unpaced(qvar::sim::Controller &sim)
{
    std::printf(" without line timing, 3 s:\n");
    sim.set_paced(false);
    const Run fast = ScopeFor(3.0);
    sim.set_paced(true);
    if (fast.result != 0)
        Fail("the unpaced run ended by its time-out, not by Stop");
    if (!ChartOnScreen())
        Fail("the NORM chart was not on screen");
    Info("wall time", fast.wall, "s");
    Figure("exchanges per second", double(fast.exchanges) / fast.wall, "1/s", Bound::AtLeast, 100000);
    Figure("chart redraws per second", fast.redraws / fast.wall, "1/s", Bound::AtMost, 65);
    if (fast.redraws == 0)
        Fail("the chart was never redrawn");
    Info("process CPU, share of one core", 100.0 * fast.cpu / fast.wall, "%");
}

} // namespace

int main(int argc, char **argv)
{
    std::printf("bench_scope: scope loop with the NORM chart on screen\n");
    if (!StartOnSimulator(true)) {
        Fail("the program did not start");
        return Verdict("bench_scope");
    }
    qvar::sim::Controller &sim = *ComSimController();
    Info("line's rate (72 bytes at 1920 bytes/s)", sim.byte_rate() / 72.0, "1/s");
    Info("line's rate with the controller's turnaround", LineCapacity(sim), "1/s");

    if (Wanted(argc, argv, "norm"))
        BesideTheFloor("NORM", kSourceNorm, PANEL_CHART_NORM, 6);
    if (Wanted(argc, argv, "raw"))
        BesideTheFloor("RAW", kSourceRaw, PANEL_CHART_RAW, 2);
    if (Wanted(argc, argv, "recording"))
        RecordingBesideTheFloor();
    if (Wanted(argc, argv, "tools"))
        WithTheTools();
    if (Wanted(argc, argv, "latency"))
        AnswerToScreen(4.0);
    if (Wanted(argc, argv, "qvarsim")) {
        ThroughQvarSim("NORM", kSourceNorm, PANEL_CHART_NORM, 6);
        ThroughQvarSim("RAW", kSourceRaw, PANEL_CHART_RAW, 2);
    }
    if (Wanted(argc, argv, "hidden"))
        ChartHidden();
    if (Wanted(argc, argv, "unpaced"))
        Unpaced(sim);

    qvar_test::StopProgram();
    return Verdict("bench_scope");
}
