// chart_view.cpp - the chart widget: a cached picture of frame, title, grid
// and axes, and the traces drawn over it as plain polylines.
//
// The scope redraws six 100-point traces at the display's rate for as long as
// it runs, so a frame must cost what drawing those lines costs: no per-frame
// path building, no antialiasing, pens of a fixed pixel width, and only the
// plot area repainted when just the traces changed.
#include "platform/ui/chart_view.h"
#include "platform/ui/chart_decimate.h"

#include <QEvent>
#include <QHelpEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPen>
#include <QShortcut>
#include <QToolButton>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace qvar::ui {
namespace {

// Spacing inside the frame, as the charts have always had it.
constexpr int kMarginLeft = 4, kMarginTop = 4, kMarginRight = 8, kMarginBottom = 4;
constexpr int kLabelGap = 6;        // between a tick label and its axis
constexpr int kTitleGap = 8;        // below the title (and the legend)
constexpr int kLegendLine = 18;     // the stretch of a trace's line before its name
constexpr int kLegendGap = 4;       // between that line and the name
constexpr int kLegendSpacing = 12;  // between two entries of a row
const QColor kGrid(226, 226, 226);
const QColor kAxis(80, 80, 80);
const QColor kLabel(40, 40, 40);

QFont labelFont(const QWidget *w)
{
    QFont f = w->font();
    f.setPointSize(8);
    return f;
}

QString label(double v)
{
    if (std::abs(v) < 1e-12)
        v = 0;   // no "-0" or "1e-17" from summing steps
    return QString::asprintf("%g", v);
}

// Tick values inside r, on whole multiples of its step.
std::vector<double> ticks(Range r)
{
    std::vector<double> out;
    const double step = tickStep(r);
    if (!(step > 0))
        return out;
    const double eps = step * 1e-9;
    for (double k = std::ceil((r.lo - eps) / step);; k += 1) {
        const double v = k * step;
        if (v > r.hi + eps || out.size() > 100)
            break;
        out.push_back(v);
    }
    return out;
}

// What a trace draws: all its points, or for a dense x-ordered one what each
// pixel column of the shown range can show.
const std::vector<QPointF> &drawnPoints(const Trace &t, Range x, double width)
{
    static std::vector<QPointF> thinned;   // painting happens on one thread
    const int columns = std::max(1, int(std::ceil(width)));
    if (t.points.empty() && t.samples.size() > size_t(2 * columns)) {
        DecimateMinMax(t.samples, x, columns, thinned);
    } else if (t.points.empty()) {
        thinned.resize(t.samples.size());
        for (size_t i = 0; i < thinned.size(); ++i)
            thinned[i] = t.point(i);
    } else if (!t.xSorted || t.points.size() <= size_t(2 * columns)) {
        return t.points;
    } else {
        DecimateMinMax(t.points, x, columns, thinned);
    }
    return thinned;
}

} // namespace

double tickStep(Range r)
{
    const double span = r.hi - r.lo;
    if (!(span > 0) || !std::isfinite(span))
        return 0;
    double step = std::pow(10.0, std::floor(std::log10(span / 10)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (span / (step * m) <= 10 * (1 + 1e-12))
            return step * m;
    return step * 10;
}

Range niceRange(double lo, double hi)
{
    if (!(lo <= hi) || !std::isfinite(lo) || !std::isfinite(hi))
        lo = 0, hi = 1;
    if (lo == hi)
        lo -= 1, hi += 1;
    const double step = tickStep(Range{lo, hi});
    return Range{std::floor(lo / step) * step, std::ceil(hi / step) * step};
}

ChartView::ChartView(QWidget *parent) : QFrame(parent)
{
    setFrameShape(QFrame::StyledPanel);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);   // the crosshair follows the cursor
    setFocusPolicy(Qt::ClickFocus);
    pauseButton_ = new QToolButton(this);
    pauseButton_->setText(QStringLiteral("Pause"));
    pauseButton_->setToolTip(QStringLiteral("Pause or resume the picture (P)"));
    pauseButton_->setAutoRaise(true);
    // Reached with Tab, but a click leaves the focus where it was.
    pauseButton_->setFocusPolicy(Qt::TabFocus);
    QFont f = pauseButton_->font();
    f.setPointSize(8);
    pauseButton_->setFont(f);
    connect(pauseButton_, &QToolButton::clicked, this, [this] { setPaused(!paused_); });
    // Only the visible chart of a window answers P (Qt matches no hidden
    // widget's shortcut), and only while it can be paused at all.
    auto *key = new QShortcut(QKeySequence(Qt::Key_P), this);
    connect(key, &QShortcut::activated, this, [this] {
        if (!pauseButton_->isHidden())
            pauseButton_->click();
    });
    setToolTip(toolsHelp());
}

QString ChartView::toolsHelp() const
{
    QString help;
    if (!pauseButton_->isHidden())
        help += QStringLiteral("Pause / resume: P, or Space after a click on the chart\n");
    help += QStringLiteral("Zoom: wheel, or drag a rectangle\n"
                           "Pan: middle button, or Ctrl+drag\n"
                           "Whole chart: double click\n"
                           "More: right button");
    return help;
}

bool ChartView::event(QEvent *e)
{
    if (e->type() == QEvent::ToolTip) {
        // Over the plot the crosshair's readout says more, and a tooltip
        // would cover it.
        if (plotArea().contains(static_cast<QHelpEvent *>(e)->pos())) {
            QToolTip::hideText();
            e->ignore();
            return true;
        }
        setToolTip(toolsHelp());   // the toggle may have been hidden since
    }
    return QFrame::event(e);
}

void ChartView::setPaused(bool paused)
{
    if (paused == paused_)
        return;
    if (pauseHook_)
        pauseHook_(paused);
    paused_ = paused;
    if (paused_)
        frozen_ = traces_;
    else
        frozen_.clear();
    pauseButton_->setText(paused_ ? QStringLiteral("Resume") : QStringLiteral("Pause"));
    if (legendStale())
        invalidateBackground();
    update();
}

void ChartView::placePauseToggle()
{
    pauseButton_->adjustSize();
    const QRect cr = contentsRect();
    pauseButton_->move(cr.right() - pauseButton_->width() - 1, cr.top() + 1);
}

void ChartView::setTitle(const QString &title)
{
    if (title == title_)
        return;
    title_ = title;
    invalidateBackground();
}

void ChartView::setXRange(Range r)
{
    if (r == x_)
        return;
    x_ = r;
    if (!viewX_)
        invalidateBackground();
}

void ChartView::setYRange(Range r)
{
    if (r == y_)
        return;
    y_ = r;
    if (!viewY_)
        invalidateBackground();
}

void ChartView::setView(std::optional<Range> x, std::optional<Range> y)
{
    viewX_ = x;
    viewY_ = y;
    invalidateBackground();
}

void ChartView::resetView() { setView(std::nullopt, std::nullopt); }

void ChartView::setTraceCount(int n)
{
    traces_.resize(size_t(std::max(0, n)));
    tracesChanged();
}

void ChartView::addTrace(Trace t)
{
    traces_.push_back(std::move(t));
    tracesChanged();
}

void ChartView::removeTrace(int i)
{
    if (i >= 0 && i < traceCount())
        traces_.erase(traces_.begin() + i);
    tracesChanged();
}

void ChartView::tracesChanged()
{
    // Names and looks change seldom, points with every frame: only the
    // former redraw the cached picture, which holds the legend.
    if (legendStale())
        invalidateBackground();
    if (!isVisible() || paused_)
        return;
    // Thick pens reach a little beyond the plot area.
    update(plotArea().toAlignedRect().adjusted(-3, -3, 3, 3));
}

QRectF ChartView::plotArea()
{
    if (size() != laidOutFor_)   // a hidden widget gets its resize event late
        layout();
    return plot_;
}

QPointF ChartView::toPixel(QPointF d) const
{
    const Range sx = shownX(), sy = shownY();
    const double fx = (d.x() - sx.lo) / (sx.hi - sx.lo);
    const double fy = (d.y() - sy.lo) / (sy.hi - sy.lo);
    return QPointF(plot_.left() + fx * plot_.width(), plot_.bottom() - fy * plot_.height());
}

QPointF ChartView::toData(QPointF px) const
{
    const Range sx = shownX(), sy = shownY();
    const double fx = (px.x() - plot_.left()) / plot_.width();
    const double fy = (plot_.bottom() - px.y()) / plot_.height();
    return QPointF(sx.lo + fx * (sx.hi - sx.lo), sy.lo + fy * (sy.hi - sy.lo));
}

// The layout follows every change at once, so that pixels and data map the
// way the next picture will show them.
void ChartView::invalidateBackground()
{
    backgroundValid_ = false;
    layout();
    update();
}

void ChartView::resizeEvent(QResizeEvent *e)
{
    QFrame::resizeEvent(e);
    backgroundValid_ = false;
    layout();
    placePauseToggle();
}

void ChartView::changeEvent(QEvent *e)
{
    // Title, labels and the readout are laid out in the widget's font.
    if (e->type() == QEvent::FontChange) {
        readoutText_.clear();
        readoutGlyphsValid_ = false;
        readoutPictures_.clear();
        invalidateBackground();
    }
    QFrame::changeEvent(e);
}

// The plot area: what is left inside the frame after the title above, the
// y labels at the left and the x labels below.
void ChartView::layout()
{
    laidOutFor_ = size();
    const QRect cr = contentsRect();
    const QFontMetrics title(font()), labels(labelFont(this));
    int labelWidth = 0;
    for (double v : ticks(shownY()))
        labelWidth = std::max(labelWidth, labels.horizontalAdvance(label(v)));
    const int left = cr.left() + kMarginLeft + labelWidth + kLabelGap;
    int top = cr.top() + kMarginTop + (title_.isEmpty() ? 0 : title.height());
    // The legend's rows keep clear of the pause toggle in the corner.
    const int toggle = pauseButton_->isHidden() ? 0 : pauseButton_->sizeHint().width() + kLabelGap;
    const int legend = layoutLegend(left, title_.isEmpty() ? top : top + 2, cr.right() - kMarginRight - toggle);
    if (legend > 0)
        top += (title_.isEmpty() ? 0 : 2) + legend;
    if (legend > 0 || !title_.isEmpty())
        top += kTitleGap;
    const int bottom = cr.bottom() - kMarginBottom - labels.height() - kLabelGap + 2;
    // The last x label is centred on the axis's end: leave room for its half.
    int lastLabel = 0;
    if (const std::vector<double> xt = ticks(shownX()); !xt.empty())
        lastLabel = labels.horizontalAdvance(label(xt.back())) / 2;
    const int right = cr.right() - kMarginRight - lastLabel;
    plot_ = QRectF(left, top, std::max(1, right - left), std::max(1, bottom - top));
}

// Places the entries of the shown traces in rows from (left, top), wrapping
// before `right`; returns the rows' height (0 without entries).
int ChartView::layoutLegend(int left, int top, int right)
{
    legend_.clear();
    const QFontMetrics fm(labelFont(this));
    const std::vector<Trace> &shown = shownTraces();
    int x = left, row = -1;
    for (int i = 0; i < int(shown.size()); ++i) {
        const Trace &t = shown[size_t(i)];
        if (!t.listed || t.name.isEmpty())
            continue;
        const QString &name = t.name;
        const int width = kLegendLine + kLegendGap + fm.horizontalAdvance(name);
        if (row < 0 || (x > left && x + width > right)) {
            x = left;
            ++row;
        }
        legend_.push_back({name, t.color, t.width, t.style, QPointF(x, top + row * fm.height() + fm.height() / 2)});
        x += width + kLegendSpacing;
    }
    return (row + 1) * fm.height();
}

// Whether the legend no longer says what the shown traces are.
bool ChartView::legendStale() const
{
    const std::vector<Trace> &shown = shownTraces();
    size_t k = 0;
    for (int i = 0; i < int(shown.size()); ++i) {
        const Trace &t = shown[size_t(i)];
        if (!t.listed || t.name.isEmpty())
            continue;
        if (k == legend_.size())
            return true;
        const LegendEntry &e = legend_[k++];
        if (e.color != t.color || e.style != t.style || e.width != t.width || e.name != t.name)
            return true;
    }
    return k != legend_.size();
}

void ChartView::drawLegend(QPainter &p)
{
    const QFont lf = labelFont(this);
    const QFontMetrics fm(lf);
    p.setFont(lf);
    for (const LegendEntry &e : legend_) {
        // A little heavier than the trace itself, so that a dash pattern shows.
        QPen line(e.color, std::max(2.0, e.width), e.style);
        line.setCosmetic(true);
        p.setPen(line);
        p.drawLine(e.at, e.at + QPointF(kLegendLine, 0));
        p.setPen(e.color);
        p.drawText(QPointF(e.at.x() + kLegendLine + kLegendGap, e.at.y() - fm.height() / 2.0 + fm.ascent()), e.name);
    }
}

void ChartView::drawBackground()
{
    plotArea();
    const qreal dpr = drawScale();
    background_ = QPixmap(size() * dpr);
    background_.setDevicePixelRatio(dpr);
    background_.fill(Qt::white);
    QPainter p(&background_);
    const QRect cr = contentsRect();
    if (!title_.isEmpty()) {
        p.setPen(kLabel);
        p.setFont(font());
        p.drawText(QRect(cr.left(), cr.top() + kMarginTop, cr.width(), QFontMetrics(font()).height()),
                   Qt::AlignHCenter | Qt::AlignVCenter, title_);
    }
    drawLegend(p);
    const QFont lf = labelFont(this);
    const QFontMetrics fm(lf);
    p.setFont(lf);
    const double left = plot_.left(), right = plot_.right(), top = plot_.top(), bottom = plot_.bottom();
    drawGrid(p);
    p.setPen(kLabel);
    for (double v : ticks(shownX())) {
        const double px = gridX(v);
        const QString s = label(v);
        const int w = fm.horizontalAdvance(s);
        p.drawText(QPointF(px - w / 2.0, bottom + kLabelGap + fm.ascent()), s);
    }
    for (double v : ticks(shownY())) {
        const double py = gridY(v);
        const QString s = label(v);
        const int w = fm.horizontalAdvance(s);
        p.drawText(QPointF(left - kLabelGap - w, py + fm.ascent() / 2.0 - 1), s);
    }
    p.setPen(kAxis);
    p.drawLine(QPointF(left, top), QPointF(left, bottom));
    p.drawLine(QPointF(left, bottom), QPointF(right, bottom));
    drawFrame(&p);
    backgroundValid_ = true;
}

// The pixel column and row of a grid line, as the picture and the repainted
// inside both draw it.
int ChartView::gridX(double v) const { return int(std::round(toPixel(QPointF(v, 0)).x())); }
int ChartView::gridY(double v) const { return int(std::round(toPixel(QPointF(0, v)).y())); }

void ChartView::drawGrid(QPainter &p)
{
    const double left = plot_.left(), right = plot_.right(), top = plot_.top(), bottom = plot_.bottom();
    p.setPen(kGrid);
    for (double v : ticks(shownX()))
        p.drawLine(QPointF(gridX(v), top), QPointF(gridX(v), bottom));
    for (double v : ticks(shownY()))
        p.drawLine(QPointF(left, gridY(v)), QPointF(right, gridY(v)));
}

// The background under the repainted rectangle `r`. Inside the axes it is
// white and the grid, drawn afresh: cheaper than copying the picture, which
// would read as many bytes again as it writes. The rim (axes, labels, the
// frame) comes from the picture.
void ChartView::drawBackgroundIn(QPainter &p, const QRect &r)
{
    const qreal dpr = background_.devicePixelRatio();
    const auto copy = [&](const QRect &part) {
        if (!part.isEmpty())
            p.drawPixmap(part, background_, QRectF(part.x() * dpr, part.y() * dpr, part.width() * dpr,
                                                   part.height() * dpr));
    };
    // Two pixels clear of the axes, whose pen may round either way.
    const QRect inner = plot_.toAlignedRect().adjusted(2, 2, -2, -2) & r;
    if (inner.isEmpty() || dpr != 1.0) {
        copy(r);
        return;
    }
    copy(QRect(r.left(), r.top(), r.width(), inner.top() - r.top()));
    copy(QRect(r.left(), inner.bottom() + 1, r.width(), r.bottom() - inner.bottom()));
    copy(QRect(r.left(), inner.top(), inner.left() - r.left(), inner.height()));
    copy(QRect(inner.right() + 1, inner.top(), r.right() - inner.right(), inner.height()));
    p.fillRect(inner, Qt::white);
    // The grid's lines as one-pixel rectangles cut to the inside: the same
    // pixels as the picture's aliased lines, without a clip to test them by.
    const QRect plot(QPoint(int(plot_.left()), int(plot_.top())), QPoint(int(plot_.right()), int(plot_.bottom())));
    for (double v : ticks(shownX()))
        p.fillRect(QRect(gridX(v), plot.top(), 1, plot.height()) & inner, kGrid);
    for (double v : ticks(shownY()))
        p.fillRect(QRect(plot.left(), gridY(v), plot.width(), 1) & inner, kGrid);
}

void ChartView::drawTraces(QPainter &p)
{
    p.save();
    p.setClipRect(plot_.adjusted(-2, -2, 2, 2));
    for (const Trace &t : shownTraces()) {
        const std::vector<QPointF> &points = drawnPoints(t, shownX(), plot_.width());
        if (points.empty())
            continue;
        scratch_.resize(qsizetype(points.size()));
        QPointF *out = scratch_.data();
        for (const QPointF &d : points)
            *out++ = toPixel(d);
        QPen pen(t.color, t.width, t.style);
        pen.setCosmetic(true);
        p.setPen(pen);
        if (scratch_.size() == 1)
            p.drawPoint(scratch_[0]);
        else
            p.drawPolyline(scratch_);
        if (t.dots) {
            QPen dot(t.color, 3, Qt::SolidLine, Qt::RoundCap);
            dot.setCosmetic(true);
            p.setPen(dot);
            p.drawPoints(scratch_);
        }
    }
    p.restore();
}

void ChartView::paintEvent(QPaintEvent *e)
{
    if (!backgroundValid_ || background_.size() != size() * drawScale())
        drawBackground();
    QPainter p(this);
    // Only the part being repainted: a whole-picture copy clipped afterwards
    // costs as much as the traces themselves.
    drawBackgroundIn(p, e->rect());
    drawTraces(p);
    if (paused_) {
        p.setPen(QColor(160, 0, 0));
        p.setFont(labelFont(this));
        p.drawText(plot_.topLeft() + QPointF(6, 4 + QFontMetrics(labelFont(this)).ascent()), QStringLiteral("paused"));
    }
    if (hover_ || drag_ != Drag::None)
        drawCrosshair(p);
    ++paints_;
}

} // namespace qvar::ui
