// chart_tools.cpp - what the user does with a chart: read values under the
// cursor, zoom with the wheel or a rectangle, pan, and return to the design's
// axes. Only the view changes; what the program plotted is untouched, so a
// zoomed live chart keeps its zoom while new points arrive.
#include "platform/ui/chart_view.h"
#include "platform/ui/chart_decimate.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace qvar::ui {
namespace {

constexpr double kWheelStep = 0.8;   // span factor per wheel notch, inwards
constexpr int kMinZoomRect = 4;      // pixels: a smaller drag is a click

} // namespace

QString traceName(const Trace &t, int index)
{
    return t.name.isEmpty() ? QStringLiteral("Trace %1").arg(index + 1) : t.name;
}

std::vector<ChartView::Reading> ChartView::readingAt(QPointF pixel) const
{
    std::vector<Reading> out;
    const double x = toData(pixel).x();
    const std::vector<Trace> &shown = shownTraces();
    for (int t = 0; t < int(shown.size()); ++t) {
        const Trace &trace = shown[size_t(t)];
        const std::vector<QPointF> &pts = trace.points;
        if (trace.count() == 0)
            continue;
        size_t best = 0;
        if (pts.empty())
            best = NearestInX(trace.samples, x);
        else if (trace.xSorted)
            best = NearestInX(pts, x);
        else
            for (size_t i = 1; i < pts.size(); ++i)
                if (std::abs(pts[i].x() - x) < std::abs(pts[best].x() - x))
                    best = i;
        const QPointF at = trace.point(best);
        out.push_back(Reading{t, int(best), at.x(), at.y()});
    }
    return out;
}

void ChartView::drawCrosshair(QPainter &p)
{
    if (drag_ == Drag::Zoom) {
        p.setPen(QPen(QColor(60, 60, 160), 0, Qt::DashLine));
        p.setBrush(QColor(60, 60, 160, 30));
        p.drawRect(QRectF(dragFrom_, dragTo_).normalized());
        p.setBrush(Qt::NoBrush);
    }
    if (!hover_)
        return;
    const QPointF at = *hover_;
    // The dashed hairlines as pictures of the plot's width and height, drawn
    // once: stroking a dash pattern costs the painter as much as a trace.
    // Whole pixels, so that the pictures are copied as they were drawn.
    const QPoint corner(int(std::floor(at.x())), int(std::floor(at.y())));
    const QRect plot = plot_.toAlignedRect();
    p.drawPixmap(QPoint(corner.x(), plot.top()), hairline(Qt::Vertical, plot.height()));
    p.drawPixmap(QPoint(plot.left(), corner.y()), hairline(Qt::Horizontal, plot.width()));

    const std::vector<Reading> values = readingAt(at);
    if (values.empty())
        return;
    // Each line is a label and a number, and each is kept as a picture: on a
    // live chart most lines read the same from one frame to the next (the
    // band's lines never change), and a copied picture costs a fraction of
    // drawing its text again. A new line's number is drawn from glyphs laid
    // out once, since laying out (shaping) a fresh string costs more still.
    // Copies: they share their pixels, and the cache may move as it grows.
    std::vector<QPixmap> lines;
    lines.push_back(readoutPicture(QStringLiteral("point "), QString::number(values.front().x, 'g', 6),
                                    QColor(40, 40, 40)));
    for (const Reading &r : values) {
        const Trace &t = shownTraces()[size_t(r.trace)];
        lines.push_back(
            readoutPicture(traceName(t, r.trace) + QStringLiteral(": "), QString::number(r.y, 'g', 6), t.color));
    }
    const qreal scale = drawScale();
    const int lineHeight = QFontMetrics(font()).height();
    int w = 0;
    for (const QPixmap &l : lines)
        w = std::max(w, int(std::ceil(l.width() / scale)));
    QRectF box(QPointF(corner) + QPointF(12, 12), QSizeF(w + 8, lineHeight * int(lines.size()) + 4));
    if (box.right() > plot_.right())
        box.moveRight(corner.x() - 12);
    if (box.bottom() > plot_.bottom())
        box.moveBottom(corner.y() - 12);
    // Opaque: a blended box cost as much as the traces under it.
    const QRect frame = box.toAlignedRect();
    p.fillRect(frame, Qt::white);
    p.setPen(QColor(160, 160, 160));
    p.drawRect(frame.adjusted(0, 0, -1, -1));
    for (size_t i = 0; i < lines.size(); ++i)
        p.drawPixmap(frame.topLeft() + QPoint(4, 2 + int(i) * lineHeight), lines[i]);
}

// A dashed grey hairline `length` pixels long, transparent between dashes.
const QPixmap &ChartView::hairline(Qt::Orientation o, int length)
{
    QPixmap &line = o == Qt::Vertical ? hairlineV_ : hairlineH_;
    const qreal scale = drawScale();
    const QSize size = o == Qt::Vertical ? QSize(1, length) : QSize(length, 1);
    if (line.size() != size * scale || line.devicePixelRatio() != scale) {
        line = QPixmap(size * scale);
        line.setDevicePixelRatio(scale);
        line.fill(Qt::transparent);
        QPainter p(&line);
        p.setPen(QPen(QColor(120, 120, 120), 0, Qt::DashLine));
        p.drawLine(QPointF(0, 0), o == Qt::Vertical ? QPointF(0, length - 1) : QPointF(length - 1, 0));
    }
    return line;
}

// The picture of one readout line, on the box's white, from the cache or
// drawn now. The cache holds a few frames' worth; the oldest go first. The
// reference stays valid until the next call.
const QPixmap &ChartView::readoutPicture(const QString &label, const QString &number, const QColor &colour)
{
    const QString key = label + number;
    const qreal scale = drawScale();
    for (const ReadoutPicture &r : readoutPictures_)
        if (r.colour == colour && r.scale == scale && r.text == key)
            return r.picture;
    if (readoutPictures_.size() >= 32)
        readoutPictures_.erase(readoutPictures_.begin(), readoutPictures_.begin() + 16);
    const QStaticText &laid = readoutLine(label);
    const qreal numberWidth = drawReadoutNumber(nullptr, {}, number);
    const QSize size(int(std::ceil(laid.size().width() + numberWidth)), QFontMetrics(font()).height());
    QPixmap picture(size * scale);
    picture.setDevicePixelRatio(scale);
    picture.fill(Qt::white);
    QPainter p(&picture);
    p.setFont(font());
    p.setPen(colour);
    p.drawStaticText(QPointF(0, 0), laid);
    drawReadoutNumber(&p, QPointF(laid.size().width(), 0), number);
    p.end();
    readoutPictures_.push_back(ReadoutPicture{key, colour, scale, std::move(picture)});
    return readoutPictures_.back().picture;
}

// Draws `number` (as QString::number writes it) at `at`, the top left of its
// line, glyph by glyph; without a painter only measures. Returns its width.
// A UI font's digits share one advance and the few other characters are not
// kerned against them, so the glyphs land where a laid-out string puts them.
qreal ChartView::drawReadoutNumber(QPainter *p, QPointF at, const QString &number)
{
    static const QString kChars = QStringLiteral("0123456789.-+e");
    if (!readoutGlyphsValid_) {
        const QFontMetricsF fm(font());
        for (int i = 0; i < kChars.size(); ++i) {
            readoutGlyph_[size_t(i)] = QStaticText(QString(kChars[i]));
            readoutGlyph_[size_t(i)].setTextFormat(Qt::PlainText);
            readoutGlyph_[size_t(i)].prepare(QTransform(), font());
            readoutAdvance_[size_t(i)] = fm.horizontalAdvance(kChars[i]);
        }
        readoutGlyphsValid_ = true;
    }
    qreal x = 0;
    for (QChar ch : number) {
        const qsizetype i = kChars.indexOf(ch);
        if (i < 0) {   // not a number's character: laid out on its own
            if (p)
                p->drawText(at + QPointF(x, QFontMetricsF(font()).ascent()), QString(ch));
            x += QFontMetricsF(font()).horizontalAdvance(ch);
            continue;
        }
        if (p)
            p->drawStaticText(at + QPointF(x, 0), readoutGlyph_[size_t(i)]);
        x += readoutAdvance_[size_t(i)];
    }
    return x;
}

const QStaticText &ChartView::readoutLine(const QString &line)
{
    for (const auto &[text, laid] : readoutText_)
        if (text == line)
            return laid;
    // Lines that went out of use go, oldest first; a readout has a handful.
    if (readoutText_.size() >= 32)
        readoutText_.erase(readoutText_.begin(), readoutText_.begin() + 16);
    QStaticText laid(line);
    laid.setTextFormat(Qt::PlainText);
    laid.prepare(QTransform(), font());
    readoutText_.emplace_back(line, std::move(laid));
    return readoutText_.back().second;
}

void ChartView::zoomAt(QPointF pixel, double factor, bool xAxis, bool yAxis)
{
    const QPointF c = toData(pixel);
    auto scaled = [factor](Range r, double centre) {
        return Range{centre - (centre - r.lo) * factor, centre + (r.hi - centre) * factor};
    };
    setView(xAxis ? std::optional<Range>(scaled(shownX(), c.x())) : viewX_,
            yAxis ? std::optional<Range>(scaled(shownY(), c.y())) : viewY_);
    // New labels may have moved the plot area: keep the point under the cursor.
    const QPointF drift = toData(pixel) - c;
    auto shifted = [](Range r, double by) { return Range{r.lo - by, r.hi - by}; };
    setView(xAxis ? std::optional<Range>(shifted(shownX(), drift.x())) : viewX_,
            yAxis ? std::optional<Range>(shifted(shownY(), drift.y())) : viewY_);
}

void ChartView::mousePressEvent(QMouseEvent *e)
{
    const QPointF at = e->position();
    if (!plotArea().contains(at))
        return QFrame::mousePressEvent(e);
    const bool ctrl = e->modifiers() & Qt::ControlModifier;
    if (e->button() == Qt::MiddleButton || (e->button() == Qt::LeftButton && ctrl)) {
        drag_ = Drag::Pan;
        dragX_ = shownX();
        dragY_ = shownY();
        dragPlot_ = plotArea().size();   // labels may change the area as the view moves
    } else if (e->button() == Qt::LeftButton) {
        drag_ = Drag::Zoom;
    } else {
        return QFrame::mousePressEvent(e);
    }
    dragFrom_ = dragTo_ = at;
    e->accept();
}

void ChartView::mouseMoveEvent(QMouseEvent *e)
{
    const QPointF at = e->position();
    const QRectF plot = plotArea();
    if (plot.contains(at))
        hover_ = at;
    else
        hover_.reset();
    if (drag_ == Drag::Pan) {
        const double dx = (at.x() - dragFrom_.x()) / dragPlot_.width() * (dragX_.hi - dragX_.lo);
        const double dy = (at.y() - dragFrom_.y()) / dragPlot_.height() * (dragY_.hi - dragY_.lo);
        setView(Range{dragX_.lo - dx, dragX_.hi - dx}, Range{dragY_.lo + dy, dragY_.hi + dy});
    } else if (drag_ == Drag::Zoom) {
        dragTo_ = QPointF(std::clamp(at.x(), plot.left(), plot.right()), std::clamp(at.y(), plot.top(), plot.bottom()));
    }
    update();
}

void ChartView::mouseReleaseEvent(QMouseEvent *e)
{
    if (drag_ == Drag::Zoom) {
        const QRectF r = QRectF(dragFrom_, dragTo_).normalized();
        if (r.width() >= kMinZoomRect && r.height() >= kMinZoomRect) {
            const QPointF lo = toData(r.bottomLeft()), hi = toData(r.topRight());
            setView(Range{lo.x(), hi.x()}, Range{lo.y(), hi.y()});
        }
    }
    drag_ = Drag::None;
    update();
    e->accept();
}

void ChartView::mouseDoubleClickEvent(QMouseEvent *e)
{
    drag_ = Drag::None;
    resetView();
    e->accept();
}

void ChartView::wheelEvent(QWheelEvent *e)
{
    const QPointF at = e->position();
    const QRectF plot = plotArea();
    const bool inX = at.x() >= plot.left() && at.x() <= plot.right();
    const bool inY = at.y() >= plot.top() && at.y() <= plot.bottom();
    const bool xAxis = inX && (inY || at.y() > plot.bottom());   // the plot or the x labels
    const bool yAxis = inY && (inX || at.x() < plot.left());     // the plot or the y labels
    const int notches = e->angleDelta().y() / 120;
    if (notches == 0 || (!xAxis && !yAxis))
        return QFrame::wheelEvent(e);
    zoomAt(at, std::pow(kWheelStep, notches), xAxis, yAxis);
    e->accept();
}

void ChartView::keyPressEvent(QKeyEvent *e)
{
    if (e->key() != Qt::Key_Space || e->modifiers() != Qt::NoModifier)
        return QFrame::keyPressEvent(e);
    setPaused(!paused_);
    e->accept();
}

void ChartView::leaveEvent(QEvent *e)
{
    hover_.reset();
    update();
    QFrame::leaveEvent(e);
}

} // namespace qvar::ui
