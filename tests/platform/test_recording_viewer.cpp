// Recorder files read back into the viewer: a million lines, lines cut off or
// malformed, files that are no recording, a reading that is held up or
// cancelled, traces that hide, and the min/max thinning that keeps dense
// traces cheap to draw.
#include "platform/files/files_internal.h"
#include "platform/ui/chart_decimate.h"
#include "platform/ui/recording_viewer.h"
#include "platform/ui/ui.h"
#include "tests/support/pump_until.h"

#include <QApplication>
#include <QCheckBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <thread>

using namespace qvar::ui;

namespace {

const std::string kHead = "Q-VAR-RDX3-RECORDER-FILE: Time-Interval[s]: ";

std::string WriteFile(const QTemporaryDir &dir, const char *name, const std::string &text)
{
    const std::string path = dir.filePath(QString::fromLatin1(name)).toStdString();
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

std::string MillionLines(int interval)
{
    std::string text = kHead + std::to_string(interval) + "\n";
    constexpr int kLines = 1000000;
    text.reserve(size_t(kLines) * 24);
    char line[64];
    for (int i = 0; i < kLines; ++i) {
        const int n = std::snprintf(line, sizeof line, "%d\t%d\t%d\t%d\n", (i * 7) % 65536, 40000 + i % 3,
                                    i % 1024, 1000 - i % 1000);
        text.append(line, size_t(n));
    }
    return text;
}

// Pumps as the program does until the viewer has shown what it read.
bool ReadThrough(const RecordingViewer &v)
{
    return qvar_test::PumpUntil([&] { return !v.reading(); }, 20.0);
}

std::vector<RecordingViewer *> OpenViewers()
{
    std::vector<RecordingViewer *> out;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *viewer = dynamic_cast<RecordingViewer *>(w))
            out.push_back(viewer);
    return out;
}

TEST(RecordingFile, MalformedInputStopsAtItsLineAndKeepsWhatCameBefore)
{
    struct Case {
        const char *what;
        std::string text;
        const char *problem;   // "" when the whole text is a recording
        size_t samples;
    } cases[] = {
        {"CR LF line ends, interval 0", kHead + "0\r\n1\t2\t3\t4\r\n", "", 1},
        {"truncated last line", kHead + "3\n1\t2\t3\t4\n5\t6\t7\t8\n9\t10\t1", "line 4: cut off", 2},
        {"four values but no line end", kHead + "3\n1\t2\t3\t4\n5\t6\t7\t8", "line 3: cut off", 1},
        {"non-number", kHead + "3\n1\t2\t3\t4\n5\t6\tx\t8\n9\t9\t9\t9\n", "line 3: not a number", 1},
        {"negative", kHead + "3\n-1\t2\t3\t4\n", "line 2: not a number", 0},
        {"three values", kHead + "3\n1\t2\t3\n", "line 2: values missing", 0},
        {"five values", kHead + "3\n1\t2\t3\t4\t5\n", "line 2: more than 4 values", 0},
        {"past 32 bits", kHead + "3\n1\t4294967296\t3\t4\n", "line 2: number too large", 0},
        {"empty file", "", "empty file", 0},
        {"no header", "1\t2\t3\t4\n", "line 1: no recorder-file header", 0},
        {"header without interval", kHead + "\n1\t2\t3\t4\n", "line 1: no interval", 0},
    };
    for (const Case &c : cases) {
        const Recording r = ParseRecording(c.text);
        EXPECT_EQ(QString::fromLatin1(c.problem), r.problem) << c.what;
        EXPECT_EQ(c.samples, r.samples()) << c.what;
        EXPECT_EQ(*c.problem == 0, r.badLine == 0) << c.what;
        // The file comes in pieces that cut lines anywhere, the header's
        // included; what was not taken comes again in front of the next.
        for (size_t cut = 0; cut <= c.text.size(); ++cut) {
            RecordingParser parser(c.text.size());
            std::string piece = c.text.substr(0, cut);
            piece.erase(0, parser.lines(piece.data(), piece.size()));
            piece += c.text.substr(cut);
            piece.erase(0, parser.lines(piece.data(), piece.size()));
            const Recording inPieces = parser.finish(piece);
            EXPECT_EQ(r.problem, inPieces.problem) << c.what << ", cut at " << cut;
            EXPECT_EQ(r.samples(), inPieces.samples()) << c.what << ", cut at " << cut;
        }
    }
    // What was kept is what the lines said, in order.
    const Recording r = ParseRecording(kHead + "7\n4294967295\t0\t65535\t1023\n5\t6\t7\n");
    EXPECT_EQ(7.0, r.interval);
    EXPECT_EQ((std::vector<uint32_t>{4294967295u, 0, 65535, 1023}), *r.values);
    EXPECT_EQ(3, r.badLine);
}

TEST(RecordingViewer, MillionLineFileShowsEverySampleOverTime)
{
    QTemporaryDir dir;
    constexpr int kLines = 1000000;
    RecordingViewer v(QByteArray::fromStdString(WriteFile(dir, "big.dat", MillionLines(2))));
    ASSERT_TRUE(ReadThrough(v));
    EXPECT_EQ(size_t(kLines), v.recording().samples());
    EXPECT_TRUE(v.recording().problem.isEmpty()) << v.recording().problem.toStdString();
    EXPECT_TRUE(v.message().startsWith(QStringLiteral("1000000 samples, 2 s apart"))) << v.message().toStdString();
    ASSERT_EQ(4, v.chart()->traceCount());
    for (int c = 0; c < 4; ++c)
        EXPECT_EQ(size_t(kLines), v.chart()->trace(c).count());
    EXPECT_EQ((Range{2, 2.0 * kLines}), v.chart()->xRange()) << "sample n at n times the interval";
    EXPECT_EQ(QPointF(2.0 * kLines, 1000 - (kLines - 1) % 1000), v.chart()->trace(3).point(kLines - 1));
    EXPECT_EQ(QPointF(2.0 * 500001, 40000 + 500000 % 3), v.chart()->trace(1).point(500000));
    const Range y = v.chart()->yRange();
    EXPECT_LE(y.lo, 0);
    EXPECT_GE(y.hi, 65535 - 6);
    EXPECT_LE(y.hi, 70000) << "one tick step above the largest value at most";

    v.show();
    const QImage picture = v.chart()->grab().toImage();
    EXPECT_EQ(v.chart()->size(), picture.size());
    const std::vector<ChartView::Reading> at = v.chart()->readingAt(v.chart()->toPixel(QPointF(2.0 * 1001, 0)));
    ASSERT_EQ(4u, at.size());
    EXPECT_EQ(1000, at[2].index);
    EXPECT_EQ(double(1000 % 1024), at[2].y);
}

// The window opens at once and stays usable while the file is read; Cancel
// stops the reading and takes the window away without showing any of it.
TEST(RecordingViewer, ReadsBesideTheLoopAndCanBeCancelled)
{
    QTemporaryDir dir;
    const std::string big = WriteFile(dir, "big.dat", MillionLines(1));
    ASSERT_EQ(0, ShowRecording(big.c_str()));
    std::vector<RecordingViewer *> open = OpenViewers();
    ASSERT_EQ(1u, open.size());
    RecordingViewer *v = open.front();
    EXPECT_TRUE(v->isVisible());
    EXPECT_EQ(0, v->chart()->traceCount()) << "the samples come from the pump, not before it runs";
    ASSERT_TRUE(ReadThrough(*v));
    EXPECT_EQ(1000000u, v->recording().samples());
    EXPECT_FALSE(v->progress()->isVisible());
    delete v;

    // Every read is held until the test lets it go.
    static std::atomic<int> reads{0}, allowed{0};
    reads = 0, allowed = 0;
    qvar::files::sys().read = [](int fd, void *buf, size_t n) -> ssize_t {
        while (reads.load() >= allowed.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ++reads;
        return ::read(fd, buf, n);
    };
    ASSERT_EQ(0, ShowRecording(big.c_str()));
    v = OpenViewers().front();
    bool timerRan = false;
    QTimer::singleShot(0, [&] { timerRan = true; });
    allowed = 3;
    qvar_test::PumpUntil([&] { return timerRan && v->progress()->value() > 0; }, 10.0);
    EXPECT_TRUE(timerRan) << "the pump runs while the file is read";
    EXPECT_TRUE(v->reading());
    EXPECT_TRUE(v->progress()->isVisible());
    EXPECT_GT(v->progress()->value(), 0) << "three pieces of the file are read";
    EXPECT_LT(v->progress()->value(), v->progress()->maximum());
    EXPECT_TRUE(v->message().startsWith(QStringLiteral("Reading big.dat"))) << v->message().toStdString();
    EXPECT_EQ(0, v->chart()->traceCount());

    allowed = 1 << 30;   // the rest may come, but Cancel is quicker
    v->cancelButton()->click();
    EXPECT_FALSE(v->isVisible());
    for (int i = 0; i < 20; ++i)
        ProcessSystemEvents();
    for (RecordingViewer *left : OpenViewers())
        EXPECT_EQ(0, left->chart()->traceCount()) << "nothing shown after Cancel";
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(OpenViewers().empty()) << "a cancelled reading leaves no window behind";
    qvar::files::resetSys();
}

TEST(RecordingViewer, HiddenTracesLeaveTheChartAndItsValueAxis)
{
    QTemporaryDir dir;
    RecordingViewer v(QByteArray::fromStdString(
        WriteFile(dir, "r.dat", kHead + "0\n60000\t61000\t100\t900\n60500\t61500\t200\t800\n")));
    ASSERT_TRUE(ReadThrough(v));
    EXPECT_EQ((Range{1, 2}), v.chart()->xRange()) << "interval 0: the sample number";
    EXPECT_GE(v.chart()->yRange().hi, 61500);

    v.traceToggle(0)->setChecked(false);
    v.traceToggle(1)->setChecked(false);
    EXPECT_EQ(0u, v.chart()->trace(0).count());
    EXPECT_EQ(0u, v.chart()->trace(1).count());
    EXPECT_GE(v.chart()->yRange().hi, 900);
    EXPECT_LE(v.chart()->yRange().hi, 1000) << "the ADC counts fill the chart";
    for (const ChartView::Reading &r : v.chart()->readingAt(v.chart()->plotArea().center()))
        EXPECT_GE(r.trace, 2) << "a hidden trace has no reading";

    v.traceToggle(1)->setChecked(true);
    ASSERT_EQ(2u, v.chart()->trace(1).count());
    EXPECT_EQ(QPointF(1, 61000), v.chart()->trace(1).point(0));
    EXPECT_EQ(QPointF(2, 61500), v.chart()->trace(1).point(1));
    EXPECT_GE(v.chart()->yRange().hi, 61500);
}

TEST(RecordingViewer, ReportsTheBadLineAndWhatCouldNotBeRead)
{
    QTemporaryDir dir;
    std::string text = kHead + "1\n";
    for (int i = 0; i < 1232; ++i)
        text += "1\t2\t3\t4\n";
    text += "1\t2\tthree\t4\n5\t6\t7\t8\n";
    const std::string bad = WriteFile(dir, "bad.dat", text);
    RecordingViewer v(QByteArray::fromStdString(bad));
    ASSERT_TRUE(ReadThrough(v));
    EXPECT_TRUE(v.message().startsWith(QStringLiteral("line 1234: not a number"))) << v.message().toStdString();
    EXPECT_EQ(1232u, v.chart()->trace(0).count()) << "what came before the bad line is shown";

    // A FIFO nobody writes to must neither block nor be read.
    const std::string fifo = dir.filePath(QStringLiteral("fifo.dat")).toStdString();
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
    RecordingViewer f(QByteArray::fromStdString(fifo));
    EXPECT_FALSE(f.reading());
    EXPECT_TRUE(f.message().startsWith(QStringLiteral("cannot read"))) << f.message().toStdString();
    EXPECT_EQ(0u, f.recording().samples());
    EXPECT_EQ(UI_ERR_FILE, ShowRecording(fifo.c_str()));
    EXPECT_EQ(0, ShowRecording(bad.c_str()));
    int shown = 0;
    for (RecordingViewer *viewer : OpenViewers())
        if (viewer != &v && viewer != &f) {
            EXPECT_TRUE(viewer->isVisible());
            ASSERT_TRUE(ReadThrough(*viewer));
            delete viewer, ++shown;
        }
    EXPECT_EQ(2, shown) << "ShowRecording opens a window whatever the file holds";
}

// Per slice of the range, the thinned trace holds the same lowest and
// highest value as the full one, and no more than two points.
TEST(ChartDecimate, KeepsTheMinimumAndMaximumOfEveryColumn)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> step(-5, 5);
    std::vector<QPointF> pts;
    double y = 0;
    for (int i = 0; i < 200000; ++i)
        pts.emplace_back(i / 3, y += step(rng));   // three points share each x
    const Range x{12345.5, 50000};
    const int columns = 317;
    std::vector<QPointF> out;
    DecimateMinMax(pts, x, columns, out);
    ASSERT_LE(out.size(), size_t(2 * columns + 2));
    EXPECT_EQ(pts[size_t(12345 * 3 + 2)], out.front()) << "the last point before the range";
    EXPECT_EQ(pts[size_t(50001 * 3)], out.back()) << "the first point after it";
    EXPECT_TRUE(std::is_sorted(out.begin(), out.end(), [](QPointF a, QPointF b) { return a.x() < b.x(); }));

    auto column = [&](double px) { return std::min(columns - 1, int((px - x.lo) / (x.hi - x.lo) * columns)); };
    std::vector<double> lo(columns, 1e300), hi(columns, -1e300), tlo = lo, thi = hi;
    for (const QPointF &p : pts)
        if (p.x() >= x.lo && p.x() <= x.hi) {
            const int c = column(p.x());
            lo[size_t(c)] = std::min(lo[size_t(c)], p.y()), hi[size_t(c)] = std::max(hi[size_t(c)], p.y());
        }
    for (size_t i = 1; i + 1 < out.size(); ++i) {
        const int c = column(out[i].x());
        tlo[size_t(c)] = std::min(tlo[size_t(c)], out[i].y()), thi[size_t(c)] = std::max(thi[size_t(c)], out[i].y());
    }
    EXPECT_EQ(lo, tlo);
    EXPECT_EQ(hi, thi);
}

// The crosshair's search on an x-ordered trace finds what a scan finds,
// first of equal x included.
TEST(ChartDecimate, NearestInXAgreesWithAScan)
{
    const std::vector<QPointF> pts{{1, 0}, {2, 1}, {2, 2}, {4, 3}, {4, 4}, {4, 5}, {7, 6}};
    for (double x : {-3.0, 1.0, 1.4, 1.5, 2.0, 2.9, 3.0, 3.1, 4.0, 5.5, 6.0, 7.0, 99.0}) {
        size_t scan = 0;
        for (size_t i = 1; i < pts.size(); ++i)
            if (std::abs(pts[i].x() - x) < std::abs(pts[scan].x() - x))
                scan = i;
        EXPECT_EQ(scan, NearestInX(pts, x)) << "at x " << x;
    }
}

} // namespace
