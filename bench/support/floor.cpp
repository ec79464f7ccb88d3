// floor.cpp - the floor program of floor.h.
#include "bench/support/floor.h"
#include "bench/support/figures.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <cmath>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace qvar_bench {
namespace {

class FloorChart : public QWidget {
public:
    FloorChart(int traces, int points) : traces_(traces), points_(points), line_(points)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }
    void advance() { ++phase_; }
    long paints() const { return paints_; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        ++paints_;
        QPainter p(this);
        p.fillRect(rect(), Qt::white);
        const QColor colours[] = {Qt::darkGreen, Qt::darkGreen, Qt::black, Qt::red, Qt::red, Qt::blue};
        const double dx = double(width()) / (points_ - 1);
        for (int t = 0; t < traces_; ++t) {
            for (int i = 0; i < points_; ++i) {
                const double v = 0.5 + 0.4 * std::sin((i + phase_) * 0.2 + t);
                line_[size_t(i)] = QPointF(i * dx, height() * (1 - (t + v) / (traces_ + 1)));
            }
            p.setPen(QPen(colours[t % 6], 1));
            p.drawPolyline(line_.data(), points_);
        }
    }

private:
    int traces_, points_;
    long phase_ = 0, paints_ = 0;
    std::vector<QPointF> line_;
};

double CpuOf(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return double(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

// The line: 36-byte frames, each byte at 1920 bytes/s, one frame every
// 1/26.67 s (request and answer share the line's time).
void Feed(int master, double seconds, std::atomic<bool> *stop, double *cpu)
{
    struct Account {
        double *cpu;
        ~Account() { *cpu = CpuOf(CLOCK_THREAD_CPUTIME_ID); }
    } account{cpu};
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto byteTime = std::chrono::duration<double>(1.0 / 1920.0);
    const auto frameTime = std::chrono::duration<double>(1.0 / 26.67);
    for (long frame = 0; !stop->load(); ++frame) {
        const auto frameStart = start + std::chrono::duration_cast<Clock::duration>(frame * frameTime);
        if (frameStart - start > std::chrono::duration<double>(seconds))
            return;
        for (int b = 0; b < 36; ++b) {
            std::this_thread::sleep_until(frameStart + std::chrono::duration_cast<Clock::duration>(b * byteTime));
            const char byte = char(b);
            if (write(master, &byte, 1) != 1)
                return;
        }
    }
}

} // namespace

QWidget *NewFloorChart(int width, int height, int traces, int points)
{
    auto *w = new FloorChart(traces, points);
    w->resize(width, height);
    // In the screen's far corner, clear of the tool's windows: without a
    // window manager everything opens at the top left, and a floor window
    // taken away from over the tool made the tool repaint what it uncovered,
    // counted as the tool's work.
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect all = screen->geometry();
        w->move(all.right() + 1 - width, all.bottom() + 1 - height);
    }
    return w;
}

void AdvanceFloorChart(QWidget *chart) { static_cast<FloorChart *>(chart)->advance(); }

double RunFloor(QWidget *chart, double seconds, double *frameRate)
{
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        return -1;
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    fcntl(slave, F_SETFL, fcntl(slave, F_GETFL) | O_NONBLOCK);
    // The loop below runs no event loop, so the window must be exposed
    // before it starts: until Qt has seen the server's expose, a repaint()
    // paints nothing and the floor would cost only its waiting.
    auto *floor = static_cast<FloorChart *>(chart);
    if (!ShowExposed(chart)) {
        close(slave);
        close(master);
        return -1;
    }
    chart->repaint();
    const long paints0 = floor->paints();

    // The whole process counts, as for the tool: the loop and Qt's own X
    // connection thread, which reads the replies to the loop's repaints.
    // Only the feeding thread, which plays the line, is taken out.
    std::atomic<bool> stop{false};
    double feederCpu = 0;
    const double cpu0 = CpuOf(CLOCK_PROCESS_CPUTIME_ID);
    std::thread feeder(Feed, master, seconds, &stop, &feederCpu);
    const auto t0 = std::chrono::steady_clock::now();
    long frames = 0;
    int have = 0;
    pollfd p{slave, POLLIN, 0};
    char buf[256];
    for (;;) {
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (elapsed >= seconds)
            break;
        if (poll(&p, 1, int(std::ceil((seconds - elapsed) * 1000))) <= 0)
            continue;
        const ssize_t n = read(slave, buf, sizeof buf);
        for (have += int(n > 0 ? n : 0); have >= 36; have -= 36) {
            ++frames;
            AdvanceFloorChart(chart);
            chart->repaint();
        }
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    stop.store(true);
    feeder.join();
    const double cpu = CpuOf(CLOCK_PROCESS_CPUTIME_ID) - cpu0 - feederCpu;
    close(slave);
    close(master);
    chart->hide();
    if (floor->paints() - paints0 < frames)
        return -1;
    if (frameRate)
        *frameRate = frames / wall;
    return 100.0 * cpu / wall;
}

} // namespace qvar_bench
