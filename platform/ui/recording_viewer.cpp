// recording_viewer.cpp - the window that shows a recorder file read back:
// four traces over time, a check box per trace, and a message line; while
// the file is read, its progress and a Cancel button.
//
// The traces refer to the samples as they were read instead of holding
// points of their own, and are handed to the chart as x-ordered, so however
// many lines the file has, a picture costs what one point per pixel column
// costs and the memory is the samples'.
#include "platform/ui/recording_viewer.h"
#include "platform/ui/ui_internal.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

namespace qvar::ui {
namespace {

constexpr int kProgressSteps = 1000;
constexpr int kProgressMs = 50;   // smooth to the eye, nothing to the reading

struct Column {
    const char *name;
    QColor color;
};
// Each column in the colour its quantity has on the scope's charts.
const Column kColumns[kRecordingColumns] = {
    {"valNORMA", rgbColor(COLOR_VALUE_A)},
    {"valNORMB", rgbColor(COLOR_VALUE_B)},
    {"adcCHA", rgbColor(COLOR_RAW_A)},
    {"adcCHB", rgbColor(COLOR_RAW_B)},
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

QString baseName(const QByteArray &path)
{
    return QFile::decodeName(path.mid(path.lastIndexOf('/') + 1));
}

} // namespace

RecordingViewer::RecordingViewer(const QByteArray &path, QWidget *parent)
    : QWidget(parent, Qt::Window), name_(baseName(path))
{
    setWindowTitle(QStringLiteral("Recording: %1").arg(name_));
    auto *layout = new QVBoxLayout(this);
    auto *row = new QHBoxLayout;
    layout->addLayout(row);
    chart_ = new ChartView(this);
    chart_->pauseToggle()->hide();   // a file does not move on
    chart_->setTitle(name_);
    layout->addWidget(chart_, 1);
    auto *bottom = new QHBoxLayout;
    layout->addLayout(bottom);
    message_ = new QLabel(QStringLiteral("Reading %1 ...").arg(name_), this);
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    bottom->addWidget(message_, 1);
    progress_ = new QProgressBar(this);
    progress_->setRange(0, kProgressSteps);
    progress_->setValue(0);
    bottom->addWidget(progress_);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    connect(cancel_, &QPushButton::clicked, this, [this] {
        stopReading();
        close();
    });
    bottom->addWidget(cancel_);

    for (int c = 0; c < kRecordingColumns; ++c) {
        auto *box = new QCheckBox(QLatin1String(kColumns[c].name), this);
        box->setChecked(true);
        box->setEnabled(false);   // until there is something to hide
        QPalette pal = box->palette();
        pal.setColor(QPalette::WindowText, kColumns[c].color);
        box->setPalette(pal);
        connect(box, &QCheckBox::toggled, this, [this, c](bool on) { showColumn(c, on); });
        toggles_[size_t(c)] = box;
        row->addWidget(box);
    }
    row->addStretch(1);
    resize(900, 560);

    // The samples come back through the event queue, so they are shown from
    // the pump on this thread like everything else; a window deleted before
    // then takes the pending hand-over with it, and one whose reading was
    // stopped ignores it.
    Recording failed;
    reading_ = read_.start(path, [this](Recording r) {
        QMetaObject::invokeMethod(this, [this, r = std::move(r)]() mutable {
            if (reading_)
                finish(std::move(r));
        }, Qt::QueuedConnection);
    }, &failed) == 0;
    if (!reading_) {
        finish(std::move(failed));
        return;
    }
    progressTimer_ = new QTimer(this);
    connect(progressTimer_, &QTimer::timeout, this,
            [this] { progress_->setValue(int(read_.fraction() * kProgressSteps)); });
    progressTimer_->start(kProgressMs);
}

RecordingViewer::~RecordingViewer() { read_.cancel(); }

QString RecordingViewer::message() const { return message_->text(); }

void RecordingViewer::finish(Recording r)
{
    if (progressTimer_)
        progressTimer_->stop();
    progress_->hide();
    cancel_->hide();
    reading_ = false;
    rec_ = std::move(r);
    const double step = rec_.interval > 0 ? rec_.interval : 1.0;
    chart_->setTitle(QStringLiteral("%1 - %2").arg(name_, rec_.interval > 0 ? QStringLiteral("time in seconds")
                                                                           : QStringLiteral("sample number")));
    for (int c = 0; c < kRecordingColumns; ++c) {
        Trace t;
        t.name = QLatin1String(kColumns[c].name);
        t.color = kColumns[c].color;
        t.xSorted = true;
        t.samples = Samples{rec_.values, kRecordingColumns, c, step, step};
        chart_->addTrace(std::move(t));
        toggles_[size_t(c)]->setEnabled(true);
    }
    const size_t n = rec_.samples();
    chart_->setXRange(n > 1 ? Range{step, double(n) * step} : niceRange(step, step));
    fitValueAxis();
    message_->setText(summary(rec_));
}

// Nothing read so far is shown; Cancel closes the window, which was opened
// for this file alone.
void RecordingViewer::stopReading()
{
    if (!reading_)
        return;
    read_.cancel();
    reading_ = false;
    progressTimer_->stop();
    message_->setText(QStringLiteral("Reading cancelled; nothing shown"));
}

void RecordingViewer::closeEvent(QCloseEvent *e)
{
    stopReading();
    QWidget::closeEvent(e);
}

// A hidden trace keeps its samples here, so showing it again costs a swap.
void RecordingViewer::showColumn(int column, bool on)
{
    Samples &drawn = chart_->trace(column).samples;
    Samples &kept = hidden_[size_t(column)];
    if (on == !kept.table)
        return;   // already so
    std::swap(drawn, kept);
    chart_->trace(column).listed = on;
    fitValueAxis();
    chart_->tracesChanged();
}

// The value axis spans what the shown traces hold, so hiding the large
// normalised values lets the ADC counts fill the chart.
void RecordingViewer::fitValueAxis()
{
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (int c = 0; c < chart_->traceCount(); ++c)
        if (chart_->trace(c).count() > 0) {
            lo = std::min(lo, double(rec_.lowest[size_t(c)]));
            hi = std::max(hi, double(rec_.highest[size_t(c)]));
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
    auto *viewer = new RecordingViewer(QByteArray(file));
    viewer->setAttribute(Qt::WA_DeleteOnClose);
    viewer->show();
    return !viewer->reading() && !viewer->recording().problem.isEmpty() ? UI_ERR_FILE : 0;
}
