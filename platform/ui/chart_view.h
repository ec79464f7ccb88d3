// chart_view.h - the chart widget behind strip charts and graphs
// (platform-internal).
//
// Contract
// - A ChartView shows traces (polylines in data coordinates) over a value
//   axis on each side: bottom (x) and left (y), with a title above. Ticks and
//   grid lines sit on round numbers (1, 2 or 5 times a power of ten, at most
//   ten steps, anchored at zero).
// - Changing traces schedules one repaint of the plot area; Qt merges
//   repaints, so the screen never redraws faster than the display. Frame,
//   title, legend, grid, axes and labels are drawn once into a cached picture
//   and redrawn only when a range, the title, a trace's name or look, or the
//   size changes.
// - The legend, between the title and the plot, names every listed trace
//   that has a name, in its colour beside a stretch of its line; rows wrap to
//   the chart's width.
// - The axis ranges the program sets are the design's; a view range can be
//   laid over them (zoom, pan) and dropped again without losing them.
// - Reading back (points, pens, ranges) gives exactly what is drawn. A
//   trace holds its points, or refers to evenly spaced samples that others
//   share (count() and point() read either).
// - The user's tools: hovering shows a crosshair and the value of every trace
//   at the nearest point; the wheel zooms the axis under the cursor (both
//   inside the plot area); a left-button drag zooms into its rectangle; a
//   middle-button or Ctrl+left drag pans; a double click returns to the
//   design's ranges. A view set so stays while new points arrive.
// - Pause (the chart's own toggle, Space while the chart has the focus, or P
//   anywhere in its window while the toggle is shown) freezes the picture:
//   traces keep taking what the program hands over (read-back gives the
//   newest), the screen shows them as they were, marked "paused", and the
//   toggle reads "Resume" until it is pressed again. The toggle is a Tab stop
//   of its own and takes Space and Return; the chart's tooltip lists the
//   tools and their keys.
// - The right button opens a context menu the owner fills (none without a
//   filler). A pause hook runs before the picture freezes, so the owner can
//   hand over more than is shown (older points to scroll back to).
// - picture() draws the chart without crosshair or toggle, at a whole-number
//   multiple of its size.
#pragma once

#include <QColor>
#include <QFrame>
#include <QImage>
#include <QPixmap>
#include <QPointF>
#include <QPolygonF>
#include <QRectF>
#include <QSize>
#include <QSizeF>
#include <QStaticText>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QMenu;
class QToolButton;

namespace qvar::ui {

struct Range {
    double lo = 0, hi = 1;
    bool operator==(const Range &) const = default;
};

// Tick step for a range: 1, 2 or 5 times a power of ten, at most ten steps.
double tickStep(Range r);
// The range widened to whole tick steps, for automatic scaling; an empty or
// undefined range becomes one that shows it.
Range niceRange(double lo, double hi);

// Evenly spaced values kept as they were read, one column of a table of
// rows: point i is (x0 + i * dx, row i's value in `column`). A trace of
// millions of values costs 4 bytes each so, not the 16 of a point.
struct Samples {
    std::shared_ptr<const std::vector<uint32_t>> table;   // `columns` values a row
    int columns = 1, column = 0;
    double x0 = 0, dx = 1;
    size_t size() const { return table ? table->size() / size_t(columns) : 0; }
    double x(size_t i) const { return x0 + double(i) * dx; }
    double y(size_t i) const { return double((*table)[i * size_t(columns) + size_t(column)]); }
};

struct Trace {
    QString name;                      // for the crosshair's values; "Trace n" if empty
    QColor color;
    double width = 1.0;                // pixels, whatever the scale
    Qt::PenStyle style = Qt::SolidLine;
    bool dots = false;                 // a marker on every point
    bool xSorted = false;              // x never decreases: drawn min/max per pixel column when dense
    bool listed = true;                // named in the legend (when it has a name)
    std::vector<QPointF> points;       // data coordinates, in drawing order
    Samples samples;                   // instead of points when it has any (x-ordered, dense)
    size_t count() const { return points.empty() ? samples.size() : points.size(); }
    QPointF point(size_t i) const
    {
        return points.empty() ? QPointF(samples.x(i), samples.y(i)) : points[i];
    }
};

// What the crosshair, assistive technology and a data file call trace
// `index` (from 0): its name, or "Trace n" (n from 1) without one.
QString traceName(const Trace &t, int index);

class ChartView : public QFrame {
public:
    explicit ChartView(QWidget *parent);

    void setTitle(const QString &title);
    QString title() const { return title_; }

    // Design ranges, as the program sets them.
    void setXRange(Range r);
    void setYRange(Range r);
    Range xRange() const { return x_; }
    Range yRange() const { return y_; }

    // A view laid over the design's ranges (zoom, pan); reset drops it.
    void setView(std::optional<Range> x, std::optional<Range> y);
    void resetView();
    Range shownX() const { return viewX_.value_or(x_); }
    Range shownY() const { return viewY_.value_or(y_); }

    // Traces: change them in place through trace(), then call tracesChanged().
    int traceCount() const { return int(traces_.size()); }
    void setTraceCount(int n);
    Trace &trace(int i) { return traces_[size_t(i)]; }
    const Trace &trace(int i) const { return traces_[size_t(i)]; }
    void addTrace(Trace t);
    void removeTrace(int i);
    void tracesChanged();
    // What the screen shows: the traces, or while paused the frozen picture.
    const std::vector<Trace> &shownTraces() const { return paused_ ? frozen_ : traces_; }

    // Where data is drawn, in widget pixels; data <-> pixel mapping.
    QRectF plotArea();
    QPointF toPixel(QPointF data) const;
    QPointF toData(QPointF pixel) const;

    void setPaused(bool paused);
    bool paused() const { return paused_; }
    QToolButton *pauseToggle() const { return pauseButton_; }
    // The tools and their keys, as the tooltip shows them.
    QString toolsHelp() const;

    // The crosshair's reading at a pixel: per trace, the point nearest to
    // the pixel's x (trace index, point index, x and y); traces without
    // points are left out.
    struct Reading {
        int trace, index;
        double x, y;
    };
    std::vector<Reading> readingAt(QPointF pixel) const;
    bool hovering() const { return hover_.has_value(); }

    // What the legend shows, in order; a trace's change shows after
    // tracesChanged().
    struct LegendEntry {
        QString name;
        QColor color;
        double width;
        Qt::PenStyle style;
        QPointF at;                    // the line's left end, widget pixels
    };
    const std::vector<LegendEntry> &legend() const { return legend_; }

    // How many times the plot has been painted (tests, benches).
    int paints() const { return paints_; }

    void setMenuFiller(std::function<void(QMenu &)> fill) { menuFiller_ = std::move(fill); }
    void fillMenu(QMenu &menu) const;
    void setPauseHook(std::function<void(bool paused)> hook) { pauseHook_ = std::move(hook); }
    QImage picture(int scale);

protected:
    bool event(QEvent *e) override;
    void paintEvent(QPaintEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;
    void changeEvent(QEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void mouseDoubleClickEvent(QMouseEvent *e) override;
    void wheelEvent(QWheelEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
    void leaveEvent(QEvent *e) override;
    void contextMenuEvent(QContextMenuEvent *e) override;

private:
    enum class Drag { None, Zoom, Pan };
    void drawCrosshair(class QPainter &p);
    void zoomAt(QPointF pixel, double factor, bool xAxis, bool yAxis);
    void layout();
    int layoutLegend(int left, int top, int right);
    bool legendStale() const;
    void drawLegend(QPainter &p);
    void drawBackground();
    int gridX(double v) const;
    int gridY(double v) const;
    void drawGrid(QPainter &p);
    void drawBackgroundIn(QPainter &p, const QRect &r);
    void invalidateBackground();
    void drawTraces(class QPainter &p);
    void placePauseToggle();

    QString title_;
    std::vector<LegendEntry> legend_;  // as last laid out
    Range x_, y_;
    std::optional<Range> viewX_, viewY_;
    std::vector<Trace> traces_;
    QPixmap background_;
    bool backgroundValid_ = false;
    QRectF plot_;                      // valid for the size layout() last saw
    QSize laidOutFor_;
    QPolygonF scratch_;                // reused per trace when painting
    // The crosshair's readout: its labels laid out once, its numbers drawn
    // glyph by glyph (readoutGlyph_ holds "0123456789.-+e"), its lines kept
    // as pictures.
    std::vector<std::pair<QString, QStaticText>> readoutText_;
    const QStaticText &readoutLine(const QString &line);
    struct ReadoutPicture {
        QString text;
        QColor colour;
        qreal scale;
        QPixmap picture;
    };
    std::vector<ReadoutPicture> readoutPictures_;
    QPixmap hairlineH_, hairlineV_;
    const QPixmap &hairline(Qt::Orientation o, int length);
    const QPixmap &readoutPicture(const QString &label, const QString &number, const QColor &colour);
    std::array<QStaticText, 14> readoutGlyph_;
    std::array<qreal, 14> readoutAdvance_{};
    bool readoutGlyphsValid_ = false;
    qreal drawReadoutNumber(class QPainter *p, QPointF at, const QString &number);
    int paints_ = 0;
    bool paused_ = false;
    std::vector<Trace> frozen_;        // what the screen shows while paused
    QToolButton *pauseButton_ = nullptr;
    std::optional<QPointF> hover_;     // the cursor over the plot area
    Drag drag_ = Drag::None;
    QPointF dragFrom_, dragTo_;        // pixels
    Range dragX_, dragY_;              // the view when a pan began
    QSizeF dragPlot_;                  // and the plot area's size then
    std::function<void(QMenu &)> menuFiller_;
    std::function<void(bool)> pauseHook_;
    qreal pictureScale_ = 0;           // > 0 while picture() draws
    qreal drawScale() const { return pictureScale_ > 0 ? pictureScale_ : devicePixelRatioF(); }
};

} // namespace qvar::ui
