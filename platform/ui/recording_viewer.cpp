// recording_viewer.cpp - the window that shows a recorder file read back:
// four traces over time, a check box per trace, and a message line.
//
// The traces are handed to the chart as x-ordered, so however many lines the
// file has, a picture costs what one point per pixel column costs.
#include "platform/ui/recording_viewer.h"
#include "platform/ui/ui_internal.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

namespace qvar::ui {
namespace {

struct Column {
    const char *name;
    QColor color;
};
const Column kColumns[kRecordingColumns] = {
    {"valNORMA", QColor(0, 120, 0)},
    {"valNORMB", QColor(200, 0, 0)},
    {"adcCHA", QColor(0, 70, 200)},
    {"adcCHB", QColor(190, 110, 0)},
};

QString summary(const Recording &r)
{
    const QString count = QStringLiteral("%1 samples").arg(r.samples());
    if (r.badLine == 0 && !r.problem.isEmpty())
        return r.problem;
    if (r.badLine > 0)
        return QStringLiteral("%1 - %2 before it shown").arg(r.problem, count);
    if (r.interval > 0)
        return QStringLiteral("%1, %2 s apart; time in seconds").arg(count).arg(r.interval);
    return QStringLiteral("%1, interval 0; x is the sample number").arg(count);
}

} // namespace

RecordingViewer::RecordingViewer(const QString &path, QWidget *parent)
    : QWidget(parent, Qt::Window), rec_(ReadRecording(path))
{
    const QString name = QFileInfo(path).fileName();
    setWindowTitle(QStringLiteral("Recording: %1").arg(name));
    auto *layout = new QVBoxLayout(this);
    auto *row = new QHBoxLayout;
    layout->addLayout(row);
    chart_ = new ChartView(this);
    chart_->pauseToggle()->hide();   // a file does not move on
    chart_->setTitle(QStringLiteral("%1 - %2").arg(name, rec_.interval > 0 ? QStringLiteral("time in seconds")
                                                                          : QStringLiteral("sample number")));
    layout->addWidget(chart_, 1);
    message_ = new QLabel(summary(rec_), this);
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(message_);

    const size_t n = rec_.samples();
    const double step = rec_.interval > 0 ? rec_.interval : 1.0;
    for (int c = 0; c < kRecordingColumns; ++c) {
        Trace t;
        t.name = QLatin1String(kColumns[c].name);
        t.color = kColumns[c].color;
        t.xSorted = true;
        t.points.resize(n);
        const uint32_t *v = rec_.values.data() + c;
        for (size_t i = 0; i < n; ++i, v += kRecordingColumns)
            t.points[i] = QPointF(double(i + 1) * step, double(*v));
        chart_->addTrace(std::move(t));

        auto *box = new QCheckBox(QLatin1String(kColumns[c].name), this);
        box->setChecked(true);
        QPalette pal = box->palette();
        pal.setColor(QPalette::WindowText, kColumns[c].color);
        box->setPalette(pal);
        connect(box, &QCheckBox::toggled, this, [this, c](bool on) { showColumn(c, on); });
        toggles_[size_t(c)] = box;
        row->addWidget(box);
    }
    row->addStretch(1);
    chart_->setXRange(n > 1 ? Range{step, double(n) * step} : niceRange(step, step));
    fitValueAxis();
    resize(900, 560);
}

QString RecordingViewer::message() const { return message_->text(); }

// A hidden trace keeps its points here, so showing it again costs a swap.
void RecordingViewer::showColumn(int column, bool on)
{
    std::vector<QPointF> &drawn = chart_->trace(column).points;
    std::vector<QPointF> &kept = hidden_[size_t(column)];
    if (on == kept.empty())
        return;   // already so
    std::swap(drawn, kept);
    fitValueAxis();
    chart_->tracesChanged();
}

// The value axis spans what the shown traces hold, so hiding the large
// normalised values lets the ADC counts fill the chart.
void RecordingViewer::fitValueAxis()
{
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (int c = 0; c < chart_->traceCount(); ++c)
        for (const QPointF &p : chart_->trace(c).points) {
            lo = std::min(lo, p.y());
            hi = std::max(hi, p.y());
        }
    chart_->setYRange(lo <= hi ? niceRange(lo, hi) : Range{0, 1});
}

} // namespace qvar::ui

using namespace qvar::ui;

int ShowRecording(const char *file)
{
    if (!started())
        return UI_ERR_NOT_STARTED;
    if (!file || !*file)
        return UI_ERR_FILE;
    auto *viewer = new RecordingViewer(QFile::decodeName(file));
    viewer->setAttribute(Qt::WA_DeleteOnClose);
    viewer->show();
    const Recording &r = viewer->recording();
    return r.badLine > 0 ? UI_ERR_FORMAT : r.problem.isEmpty() ? 0 : UI_ERR_FILE;
}
