// bench_viewer.cpp - the recording viewer on a recorder file of a million
// lines: wall time from opening the file to the first picture, and per
// mouse-wheel zoom step the time to the next picture, without and with the
// crosshair's readings shown; then on a recording of 250 MB, near the
// viewer's limit: the time to the first picture and the process's peak
// memory against the file's size.
#include "bench/support/figures.h"
#include "platform/ui/recording_viewer.h"
#include "platform/ui/ui.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QWindow>
#include <QWheelEvent>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>

using namespace qvar_bench;
using qvar::ui::ChartView;
using qvar::ui::RecordingViewer;

namespace {

constexpr int kLines = 1000000;
constexpr long kLargeLines = 12500000;   // 20 bytes a line: 250 MB
constexpr int kOpenRuns = 3;
constexpr int kZoomSteps = 12;   // in, then as many out

double Now()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// A recording as the recorder writes it: noisy values that wander, so that
// every pixel column has a span to draw. Written a piece at a time, so that
// the writing does not count towards the reading's peak memory.
bool WriteRecording(const std::string &path, long lines)
{
    std::FILE *out = std::fopen(path.c_str(), "wb");
    if (!out)
        return false;
    std::fputs("Q-VAR-RDX3-RECORDER-FILE: Time-Interval[s]: 1\n", out);
    std::string text;
    char line[64];
    unsigned seed = 12345;
    for (long i = 0; i < lines; ++i) {
        seed = seed * 1103515245u + 12345u;
        const unsigned noise = (seed >> 16) % 200;
        const int n = std::snprintf(line, sizeof line, "%u\t%u\t%u\t%u\n", unsigned(30000 + (i / 50) % 20000 + noise),
                                    unsigned(45000 - (i / 70) % 15000 + noise), unsigned(200 + (i / 9) % 600 + noise / 4),
                                    unsigned(900 - (i / 13) % 700 + noise / 4));
        text.append(line, size_t(n));
        if (text.size() > (size_t(1) << 20) || i + 1 == lines) {
            std::fwrite(text.data(), 1, text.size(), out);
            text.clear();
        }
    }
    return std::fclose(out) == 0;
}

// A field of /proc/self/status in KiB; -1 when there is none.
long StatusKiB(const char *field)
{
    std::ifstream f("/proc/self/status");
    for (std::string line; std::getline(f, line);)
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

// Milliseconds from opening `path` to the first picture of its samples.
double OpenToPicture(const std::string &path, std::unique_ptr<RecordingViewer> &viewer)
{
    viewer.reset();
    const double t0 = Now();
    viewer = std::make_unique<RecordingViewer>(QByteArray::fromStdString(path));
    // Lays the window out; on a real display also waits until the server has
    // mapped it, before which nothing can be painted.
    ShowExposed(viewer.get());
    while (viewer->reading())
        ProcessSystemEvents();
    viewer->chart()->repaint();
    return Now() - t0;
}

void Wheel(ChartView *chart, QPointF at, int notches)
{
    QWheelEvent e(at, chart->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton, Qt::NoModifier,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(chart, &e);
}

// Milliseconds from each wheel notch to its picture, in then out again.
// Empty when a step changed no view or drew no picture.
std::vector<double> ZoomSteps(ChartView *chart, QPointF at)
{
    std::vector<double> ms;
    for (int notches : {1, -1})
        for (int i = 0; i < kZoomSteps; ++i) {
            const qvar::ui::Range before = chart->shownX();
            const int paints = chart->paints();
            const double t0 = Now();
            Wheel(chart, at, notches);
            chart->repaint();
            ms.push_back(Now() - t0);
            if (chart->shownX() == before || chart->paints() == paints)
                return {};
        }
    return ms;
}

// The process's peak memory is set back to what it holds now (Linux 4.0
// and later), so the peak that follows is the viewer's.
void LargeRecording(const QTemporaryDir &dir)
{
    const std::string path = dir.filePath(QStringLiteral("large.dat")).toStdString();
    struct stat st{};
    if (!WriteRecording(path, kLargeLines) || ::stat(path.c_str(), &st) != 0) {
        Fail("cannot write the large recording");
        return;
    }
    const double mb = double(st.st_size) / 1e6;
    std::printf("bench_viewer: a recorder file of %ld lines, %.0f MB\n", kLargeLines, mb);
    const bool reset = bool(std::ofstream("/proc/self/clear_refs") << "5");
    const long before = StatusKiB("VmRSS:");
    std::unique_ptr<RecordingViewer> viewer;
    const double ms = OpenToPicture(path, viewer);
    const long peak = StatusKiB("VmHWM:");
    if (viewer->recording().samples() != size_t(kLargeLines)) {
        Fail("the viewer read " + std::to_string(viewer->recording().samples()) + " samples of the large file");
        return;
    }
    Info("large file: open to first picture", ms, "ms");
    Info("large file: peak memory of the process (VmHWM)", double(peak) / 1024, "MiB");
    if (!reset || before < 0 || peak < 0) {
        Fail("the peak memory could not be set back before reading");
        return;
    }
    Info("large file: memory held before opening it", double(before) / 1024, "MiB");
    Figure("large file: peak memory added / file size", double(peak - before) * 1024 / double(st.st_size), "",
           Bound::AtMost, 2.0);
    viewer.reset();
    std::remove(path.c_str());
}

} // namespace

int main(int argc, char **argv)
{
    std::printf("bench_viewer: a recorder file of %d lines in the recording viewer\n", kLines);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (!InitUserInterface(argc, argv)) {
        Fail("no user interface");
        return Verdict("bench_viewer");
    }
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("million.dat")).toStdString();
    if (!dir.isValid() || !WriteRecording(path, kLines)) {
        Fail("cannot write the recording");
        return Verdict("bench_viewer");
    }

    std::vector<double> open;
    std::unique_ptr<RecordingViewer> viewer;
    for (int run = 0; run < kOpenRuns; ++run) {
        open.push_back(OpenToPicture(path, viewer));
        if (viewer->chart()->paints() == 0) {
            Fail("the viewer drew no picture");
            return Verdict("bench_viewer");
        }
    }
    if (viewer->recording().samples() != size_t(kLines)) {
        Fail("the viewer read " + std::to_string(viewer->recording().samples()) + " samples");
        return Verdict("bench_viewer");
    }
    Info("open to first picture, fastest", *std::min_element(open.begin(), open.end()), "ms");
    Figure("open to first picture (median of 3)", Median(open), "ms", Bound::AtMost, 2000);

    ChartView *chart = viewer->chart();
    const QPointF at = chart->plotArea().center();
    const std::vector<double> plain = ZoomSteps(chart, at);
    if (plain.empty()) {
        Fail("a zoom step drew no new picture");
        return Verdict("bench_viewer");
    }
    Info("zoom step redraw, slowest", *std::max_element(plain.begin(), plain.end()), "ms");
    Figure("zoom step redraw (median)", Median(plain), "ms", Bound::AtMost, 16);

    QMouseEvent move(QEvent::MouseMove, at, chart->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(chart, &move);
    if (!chart->hovering()) {
        Fail("the crosshair did not appear");
        return Verdict("bench_viewer");
    }
    const std::vector<double> hover = ZoomSteps(chart, at);
    if (hover.empty()) {
        Fail("a zoom step with the crosshair drew no new picture");
        return Verdict("bench_viewer");
    }
    Info("zoom step redraw with the crosshair, slowest", *std::max_element(hover.begin(), hover.end()), "ms");
    Figure("zoom step redraw with the crosshair (median)", Median(hover), "ms", Bound::AtMost, 16);
    viewer.reset();
    std::remove(path.c_str());
    LargeRecording(dir);
    return Verdict("bench_viewer");
}
