// The recording loop against the built-in simulated controller: the recorder
// file, the ways a recording ends, and what the panels show meanwhile.
#define QVAR_HIDE_SYNC
#include "platform/clock.h"
#include "scope/scope.h"
#include "tests/support/full_disk.h"
#include "tests/support/recording.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>

namespace fs = std::filesystem;
using namespace qvar_test;

namespace {

const std::string HEADER = "Q-VAR-RDX3-RECORDER-FILE: Time-Interval[s]: ";

class Recording : public RecordingTest {
protected:
    static void PressRecorderStop() { CC_BTNStopRecord(panelPopUp, POPUP_BTN_STOP, EVENT_COMMIT, nullptr, 0, 0); }
    static void PressScopeStop() { CC_BTNStop(panelHandle, PANEL_BTN_STOP, EVENT_COMMIT, nullptr, 0, 0); }
    // A name below a regular file: it cannot be written, even by root.
    std::string Unwritable() const
    {
        WriteText(dir + "/plain", "x");
        return dir + "/plain/rec.dat";
    }
    static int LineCounter() { return Value(panelPopUp, POPUP_LINES); }
    static std::string StatusBox()
    {
        char text[256] = "";
        GetCtrlString(panelPopUp, POPUP_STATUS, text, sizeof text);
        return text;
    }
    static int StatusBoxAttr(int attribute) { return Attribute(panelPopUp, POPUP_STATUS, attribute); }
    static void ExpectCannotWrite() { EXPECT_NE(std::string::npos, StatusBox().find("cannot write")) << StatusBox(); }
    static void ExpectTimedOutLast()
    {
        ASSERT_FALSE(StatusLog().empty());
        EXPECT_EQ("Timeout RS232-Line!", StatusLog().back());
    }
    // The file a recording of the first `count` answers at `interval` writes.
    static std::string FileOf(unsigned interval, int count)
    {
        std::string text = HEADER + std::to_string(interval) + "\n";
        for (const std::string &line : AnswersSent(count))
            text += line + "\n";
        return text;
    }
    // A finished recording, however it ended, restores what it dimmed: the
    // port selector too, since nothing polls the port any more; the graph
    // source it never dimmed.
    void ExpectIdleAfter()
    {
        for (int c : {PANEL_BTN_RUN, PANEL_BTN_DATA, PANEL_COMPORT, PANEL_GRAPHSOURCE})
            EXPECT_FALSE(Dimmed(panelHandle, c)) << c;
        EXPECT_FALSE(Dimmed(panelPopUp, POPUP_BTN_START));
        EXPECT_EQ(1, stop_flag);
        EXPECT_EQ(0, rx_flag);
        EXPECT_EQ(0, graphrefresh);
    }
    // An endless recording that something in the pump stops: promptly, with
    // at least `atLeast` lines counted and every counted line in the file.
    int RecordUntilStopped(int atLeast)
    {
        Settings(0, 65535);
        const double t0 = Timer();
        Start();
        EXPECT_LT(Timer() - t0, 5.0);
        const int counted = LineCounter();
        EXPECT_GE(counted, atLeast);
        EXPECT_LT(counted, 65535);
        EXPECT_EQ(size_t(counted), SampleLines().size());
        return counted;
    }
};

TEST_F(Recording, FileHoldsHeaderIntervalAndOneLinePerAnswer)
{
    std::ofstream(path) << "left over from an earlier recording\n";

    Settings(0, 5);
    Start();
    EXPECT_EQ(FileOf(0, 5), ReadAll(path));

    // The request of the pass that reached the count still goes out.
    EXPECT_EQ(6u, sim->requests(ORDER_LIVE_VALUES));
    EXPECT_EQ(sim->requests_total(), sim->requests(ORDER_LIVE_VALUES));
    EXPECT_EQ(5, LineCounter());
    EXPECT_TRUE(HeardAsShown(panelPopUp, POPUP_LINES));
    EXPECT_TRUE(LogHas("Line Ok!"));
    EXPECT_FALSE(LogHas("Timeout RS232-Line!"));
    EXPECT_EQ(path, std::string(recfile_name));

    ExpectIdleAfter();
    EXPECT_EQ("DATA-RECORDER", StatusBox());
    EXPECT_EQ(0xE0E0E0, StatusBoxAttr(ATTR_TEXT_BGCOLOR));
    EXPECT_EQ(0x000000, StatusBoxAttr(ATTR_TEXT_COLOR));
}

TEST_F(Recording, PausedChartsChangeNothingOnTheWireOrInTheFile)
{
    // Pausing only freezes the picture: at line timing the requests still go
    // out one after another, and the file holds every answer as sent.
    sim->set_paced(true);
    const auto togglePause = [] {
        for (int chart : {PANEL_CHART_NORM, PANEL_CHART_RAW})
            ASSERT_EQ(0, ChartUserInput(panelHandle, chart, CHART_PAUSE, 0, 0, 0)) << chart;
    };
    togglePause();
    Settings(0, 12);
    const double t0 = Timer();
    Start();
    const double took = Timer() - t0;
    EXPECT_EQ(FileOf(0, 12), ReadAll(path));
    EXPECT_EQ(13u, sim->requests(ORDER_LIVE_VALUES));
    // 12 exchanges of 37.7 ms; a pause that held requests back would show.
    EXPECT_LT(took, 12 * 0.0377 + 0.6);
    togglePause();
}

TEST_F(Recording, WordsAreWrittenAsUnsigned16BitNumbers)
{
    // An inverted normalised value lies far above 32767: it must not come
    // out negative or sign-extended.
    sim->faults.corrupt_word = 0;
    Settings(0, 3);
    Start();
    const std::vector<std::string> expected = AnswersSent(3, sim->faults);
    EXPECT_EQ(expected, SampleLines());
    unsigned first = 0;
    ASSERT_EQ(1, std::sscanf(expected[0].c_str(), "%u", &first));
    EXPECT_GT(first, 60000u);
}

TEST_F(Recording, RecordedLineIsTheAnswerJustDrawn)
{
    // Graph source 0 draws channel A's normalised value on the NORM chart,
    // graph source 8 both raw values on the RAW chart.
    for (int source : {0, 8}) {
        SetCtrlVal(panelHandle, PANEL_GRAPHSOURCE, source);
        Settings(0, 4);
        Start();
        std::vector<std::string> lines = SampleLines();
        ASSERT_EQ(4u, lines.size());
        unsigned a = 0, b = 0, rawA = 0, rawB = 0;
        ASSERT_EQ(4, std::sscanf(lines.back().c_str(), "%u\t%u\t%u\t%u", &a, &b, &rawA, &rawB));

        const bool raw = source == 8;
        EXPECT_EQ(raw, Visible(panelHandle, PANEL_CHART_RAW));
        EXPECT_EQ(!raw, Visible(panelHandle, PANEL_CHART_NORM));
        EXPECT_FALSE(Visible(panelHandle, PANEL_GRAPH_DATA));
        const std::vector<std::array<unsigned, 3>> drawn =
            raw ? std::vector<std::array<unsigned, 3>>{{PANEL_CHART_RAW, 1, rawA}, {PANEL_CHART_RAW, 2, rawB}}
                : std::vector<std::array<unsigned, 3>>{{PANEL_CHART_NORM, 6, a}};
        for (const auto &[chart, trace, value] : drawn) {
            double y[200];
            const int n = GetStripChartTrace(panelHandle, int(chart), int(trace), y, 200);
            ASSERT_GT(n, 0);
            EXPECT_EQ(double(value), y[n - 1]) << "trace " << trace;
        }
    }
}

TEST_F(Recording, SampleCountZeroWritesOnlyTheHeader)
{
    Settings(3, 0);
    Start();
    EXPECT_EQ(HEADER + "3\n", ReadAll(path));
    EXPECT_EQ(1u, sim->requests(ORDER_LIVE_VALUES));
    EXPECT_EQ(0, LineCounter());
    ExpectIdleAfter();
    EXPECT_EQ("DATA-RECORDER", StatusBox());
}

TEST_F(Recording, SilentControllerTimesOutWithHeaderOnly)
{
    sim->faults.silent = true;
    Settings(0, 5);
    const double t0 = Timer();
    Start();
    const double took = Timer() - t0;
    EXPECT_GT(took, 1.5);
    EXPECT_LT(took, 2.5);
    EXPECT_EQ(HEADER + "0\n", ReadAll(path));
    EXPECT_EQ(1u, sim->requests(ORDER_LIVE_VALUES));
    ExpectTimedOutLast();
    ExpectIdleAfter();
    EXPECT_EQ("DATA-RECORDER", StatusBox());
}

TEST_F(Recording, ControllerFallingSilentMidwayKeepsTheLinesSoFar)
{
    sim->faults.dead_after = 5;
    // Five answers, one line each; the sixth request goes into a dead line.
    EXPECT_EQ(5, RecordUntilStopped(5));
    EXPECT_EQ(5u, sim->requests(ORDER_LIVE_VALUES));
    ExpectTimedOutLast();
    ExpectIdleAfter();
}

TEST_F(Recording, HidingTheRecorderPanelDoesNotStopIt)
{
    SetCtrlVal(panelHandle, PANEL_TOG_RECORDER, 1);
    DisplayPanel(panelPopUp);
    bool hidden = false;
    When([] { return LineCounter() >= 3; }, [&hidden] {
        CC_POPUP(panelPopUp, EVENT_CLOSE, nullptr, 0, 0);
        hidden = PanelAttribute(panelPopUp, ATTR_VISIBLE) == 0;
        When([] { return LineCounter() >= 30; }, [] { PressRecorderStop(); });
    });
    RecordUntilStopped(30);
    EXPECT_TRUE(hidden);
}

TEST_F(Recording, PanelsWhileRecording)
{
    bool looked = false;
    When([] { return LineCounter() >= 3; }, [&] {
        looked = true;
        for (int c : {PANEL_BTN_RUN, PANEL_BTN_DATA, PANEL_COMPORT})
            EXPECT_TRUE(Dimmed(panelHandle, c)) << c;
        EXPECT_TRUE(Dimmed(panelPopUp, POPUP_BTN_START));
        EXPECT_FALSE(Dimmed(panelHandle, PANEL_GRAPHSOURCE)) << "the graph source can be switched during a recording";
        EXPECT_FALSE(Dimmed(panelPopUp, POPUP_BTN_STOP));
        EXPECT_EQ("DATA-RECORDER active ...", StatusBox());
        EXPECT_EQ(0xFF0000, StatusBoxAttr(ATTR_TEXT_BGCOLOR));
        EXPECT_EQ(0xFFFFFF, StatusBoxAttr(ATTR_TEXT_COLOR));
        PressRecorderStop();
    });
    RecordUntilStopped(3);
    EXPECT_TRUE(looked);
}

// Either Stop ends a recording at once, keeping every line counted and
// freeing the port selector.
TEST_F(Recording, EitherStopButtonKeepsEveryLineAndFreesThePortSelector)
{
    for (void (*stop)() : {PressRecorderStop, PressScopeStop}) {
        // The counter shows the last recording's lines until the next one
        // writes its first.
        SetCtrlVal(panelPopUp, POPUP_LINES, 0u);
        When([] { return LineCounter() >= 10; }, stop);
        RecordUntilStopped(10);
        for (const std::string &line : SampleLines()) {
            unsigned v[4];
            EXPECT_EQ(4, std::sscanf(line.c_str(), "%u\t%u\t%u\t%u", &v[0], &v[1], &v[2], &v[3])) << line;
        }
        EXPECT_FALSE(LogHas("Timeout RS232-Line!"));
        ExpectIdleAfter();
        EXPECT_EQ("DATA-RECORDER", StatusBox());
    }
}

TEST_F(Recording, SecondStartWhileRecordingIsRefused)
{
    bool nestedReturned = false, stillRecording = false;
    double nestedTook = 99;
    When([] { return LineCounter() >= 2; }, [&] {
        const double t = Timer();
        Start();
        nestedTook = Timer() - t;
        nestedReturned = true;
        stillRecording = stop_flag == 0;
        When([] { return LineCounter() >= 6; }, [] { PressRecorderStop(); });
    });
    RecordUntilStopped(6);
    ASSERT_TRUE(nestedReturned);
    EXPECT_LT(nestedTook, 0.1);
    EXPECT_TRUE(stillRecording);
    const std::string text = ReadAll(path);
    EXPECT_EQ(0u, text.find(HEADER));
    EXPECT_EQ(std::string::npos, text.find(HEADER, 1)) << "the file was started twice";
}

TEST_F(Recording, UnwritableFileEndsTheRecordingLikeTheStopButton)
{
    CopyText(recfile_name, PATH_LEN, Unwritable().c_str());

    Settings(0, 5);
    const double t0 = Timer();
    Start();
    EXPECT_LT(Timer() - t0, 1.0);
    ExpectCannotWrite();
    ExpectIdleAfter();
    EXPECT_EQ(0, LineCounter());
}

// A recording that cannot write even its header (a full disk) replaces
// nothing: the previous recording stays whole, and the status line says why.
TEST_F(Recording, RecordingThatCannotStartKeepsThePreviousOne)
{
    FullDisk disk;
    const std::string earlier = HEADER + "5\n1\t2\t3\t4\n";
    const std::string file = disk.file("rec.dat");
    WriteText(file, earlier);
    CopyText(recfile_name, PATH_LEN, file.c_str());
    disk.Fill();

    Settings(0, 5);
    Start();
    ExpectCannotWrite();
    EXPECT_TRUE(LogHas("Cannot write recorder file! - rec.dat: No space left on device"));
    ExpectIdleAfter();
    EXPECT_EQ(earlier, ReadAll(file)) << (disk.mounted() ? "tmpfs" : "seam");
    EXPECT_EQ(std::vector<std::string>{"rec.dat"}, disk.Entries());
}

TEST_F(Recording, FileFailingMidwayKeepsTheLinesWritten)
{
    const std::string impossible = Unwritable();
    When([] { return LineCounter() >= 3; },
         [&] { CopyText(recfile_name, PATH_LEN, impossible.c_str()); });

    RecordUntilStopped(3);
    EXPECT_EQ(0u, ReadAll(path).find(HEADER + "0\n"));
    ExpectCannotWrite();
    ExpectIdleAfter();
    EXPECT_FALSE(LogHas("Timeout RS232-Line!"));
}

// Lines fall due at whole-second boundaries: a line at 12.98 s and the
// next at 13.01 s is correct, one per wall-clock second is not.
TEST_F(Recording, IntervalOneWritesOnTheWholeSecondGrid)
{
    sim->set_paced(true);
    std::vector<double> at;
    auto *watch = new QTimer(QCoreApplication::instance());
    watch->setInterval(0);
    QObject::connect(watch, &QTimer::timeout, [&at] {
        if (LineCounter() > int(at.size()))
            at.push_back(Timer());
    });
    watch->start();

    // Start well inside a second, so "the second of the first request" is
    // the one we read here.
    PumpUntil([] { double f = Timer() - std::floor(Timer()); return f > 0.1 && f < 0.6; }, 2.0);
    const double second0 = std::floor(Timer());
    Settings(1, 3);
    Start();
    delete watch;

    ASSERT_EQ(3u, at.size());
    EXPECT_EQ(3u, SampleLines().size());
    for (size_t k = 0; k < at.size(); k++) {
        EXPECT_EQ(second0 + double(k + 1), std::floor(at[k])) << "line " << k + 1;
        EXPECT_LT(at[k] - std::floor(at[k]), 0.2) << "line " << k + 1 << " late in its second";
    }
}

} // namespace
