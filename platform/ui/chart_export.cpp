// chart_export.cpp - a chart's context menu: its picture and its numbers into
// files, and the depth of a strip chart's own history.
//
// What is saved is taken when the user asks, so the file holds what was on
// screen then, however long the file dialog stays open; the dialog does not
// wait in a loop of its own, so a running scope keeps its pace meanwhile. A
// paused chart saves the frozen picture's points, not the history that moved
// on behind it. Files are written beside their name, flushed to the disk and
// only then renamed into place (the file service's WriteWholeFile): a full
// disk or a vanished folder leaves the file under the name as it was.
#include "platform/files/files.h"
#include "platform/ui/chart_view.h"
#include "platform/ui/ui_internal.h"

#include <QActionGroup>
#include <QBuffer>
#include <QContextMenuEvent>
#include <QMenu>

#include <algorithm>
#include <utility>

namespace qvar::ui {

void ChartView::fillMenu(QMenu &menu) const
{
    if (menuFiller_)
        menuFiller_(menu);
}

void ChartView::contextMenuEvent(QContextMenuEvent *e)
{
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    fillMenu(*menu);
    if (menu->isEmpty()) {
        delete menu;
        return QFrame::contextMenuEvent(e);
    }
    hover_.reset();
    // popup(), not exec(): a loop of its own would hold up the program's.
    menu->popup(e->globalPos());
    e->accept();
}

QImage ChartView::picture(int scale)
{
    scale = std::clamp(scale, 1, 4);
    QImage image(size() * scale, QImage::Format_RGB32);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::white);
    const std::optional<QPointF> hover = std::exchange(hover_, std::nullopt);
    const Drag drag = std::exchange(drag_, Drag::None);
    pictureScale_ = scale;
    backgroundValid_ = false;
    render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);   // not the toggle
    pictureScale_ = 0;
    backgroundValid_ = false;
    hover_ = hover;
    drag_ = drag;
    return image;
}

namespace {

ChartMessagePtr g_message = nullptr;

void say(const char *text)
{
    if (g_message)
        g_message(text);
}

QByteArray field(const QString &name)
{
    QByteArray f = name.toUtf8();
    if (f.contains(',') || f.contains('"') || f.contains('\n'))
        f = '"' + f.replace("\"", "\"\"") + '"';
    return f;
}

QByteArray header(const ChartView &v, int traces)
{
    QByteArray out = "point";
    for (int t = 0; t < traces; ++t)
        out += ',' + field(traceName(v.trace(t), t));
    return out + '\n';
}

QByteArray number(double v) { return QByteArray::number(v, 'g', 17); }

bool shown(Range r, double x) { return x >= r.lo && x <= r.hi; }

QByteArray stripCsv(const StripChart &s, bool visibleOnly)
{
    QByteArray out = header(*s.view, s.traces);
    const Range r = s.view->shownX();
    const int n = int(s.keptCount);
    for (int i = 0; i < n; ++i) {
        const double x = s.pointsPerScreen - n + i;
        if (visibleOnly && !shown(r, x))
            continue;
        out += number(x);
        const double *p = keptPoint(s, size_t(i));
        for (int t = 0; t < s.traces; ++t)
            out += ',' + number(p[t]);
        out += '\n';
    }
    return out;
}

// The traces the screen shows, one row per point index; the x is the first
// trace's that reaches it (the program plots every curve over the same x,
// and a paused strip chart's picture holds its kept points so).
QByteArray shownCsv(const ChartView &v, bool visibleOnly)
{
    const std::vector<Trace> &traces = v.shownTraces();
    const int count = std::min(v.traceCount(), int(traces.size()));
    QByteArray out = header(v, count);
    const Range r = v.shownX();
    size_t rows = 0;
    for (int t = 0; t < count; ++t)
        rows = std::max(rows, traces[size_t(t)].points.size());
    for (size_t i = 0; i < rows; ++i) {
        QByteArray row;
        bool haveX = false;
        for (int t = 0; t < count; ++t) {
            const std::vector<QPointF> &pts = traces[size_t(t)].points;
            if (i < pts.size() && !haveX) {
                if (visibleOnly && !shown(r, pts[i].x()))
                    break;
                row = number(pts[i].x());
                haveX = true;
            }
        }
        if (!haveX)
            continue;
        for (int t = 0; t < count; ++t) {
            const std::vector<QPointF> &pts = traces[size_t(t)].points;
            row += ',' + (i < pts.size() ? number(pts[i].y()) : QByteArray());
        }
        out += row + '\n';
    }
    return out;
}

QByteArray csvOf(Ctrl &c, bool visibleOnly)
{
    ChartView &v = c.strip ? *c.strip->view : *c.graph->view;
    if (v.paused() || !c.strip)
        return shownCsv(v, visibleOnly);
    if (c.dirty)
        pushStripChart(c);   // the view as the next frame shows it
    return stripCsv(*c.strip, visibleOnly);
}

QByteArray pngOf(Ctrl &c, int scale)
{
    if (c.strip && c.dirty)
        pushStripChart(c);
    ChartView *v = c.strip ? c.strip->view : c.graph->view;
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    v->picture(scale).save(&buffer, "PNG");
    return out;
}

int writeFile(const char *file, const QByteArray &bytes)
{
    if (!file || !*file || bytes.isEmpty())
        return UI_ERR_FILE;
    return WriteWholeFile(file, bytes.constData(), bytes.size()) == 0 ? 0 : UI_ERR_FILE;
}

struct Pending {
    QByteArray bytes;
    const char *failure;
};

void written(const char *path, void *data)
{
    auto *p = static_cast<Pending *>(data);
    if (path && writeFile(path, p->bytes) != 0)
        say(p->failure);
    delete p;
}

void askAndSave(const Ctrl &c, QByteArray bytes, bool picture)
{
    char dir[FILE_PATH_MAX] = {};
    GetProjectDir(dir);   // left empty: the dialog starts in the working folder
    const QByteArray name = (c.name.isEmpty() ? QStringLiteral("chart") : c.name.toLower()).toUtf8() +
                            (picture ? ".png" : ".csv");
    auto *p = new Pending{std::move(bytes), picture ? "Cannot write picture file!" : "Cannot write data file!"};
    FileSavePopupThen(dir, name.constData(), picture ? "*.png" : "*.csv",
                      picture ? "Save picture" : "Save data", written, p);
}

void addDepthMenu(QMenu &menu, StripChart &s)
{
    QMenu *sub = menu.addMenu(QStringLiteral("History depth"));
    auto *group = new QActionGroup(sub);
    for (const auto &[points, label] : {std::pair{100, "100 points"}, {1000, "1,000 points"}, {10000, "10,000 points"}}) {
        QAction *a = sub->addAction(QString::fromLatin1(label));
        a->setCheckable(true);
        a->setChecked(s.depth == points);
        group->addAction(a);
        StripChart *sp = &s;
        QObject::connect(a, &QAction::triggered, a, [sp, points = points] { setDepth(*sp, points); });
    }
}

void fillChartMenu(QMenu &menu, Ctrl &c)
{
    Ctrl *cp = &c;
    menu.addAction(QStringLiteral("Save picture..."), [cp] { askAndSave(*cp, pngOf(*cp, 1), true); });
    menu.addAction(QStringLiteral("Save picture at 2x..."), [cp] { askAndSave(*cp, pngOf(*cp, 2), true); });
    menu.addAction(QStringLiteral("Save data..."), [cp] { askAndSave(*cp, csvOf(*cp, false), false); });
    menu.addAction(QStringLiteral("Save visible data..."), [cp] { askAndSave(*cp, csvOf(*cp, true), false); });
    if (c.strip) {
        menu.addSeparator();
        addDepthMenu(menu, *c.strip);
    }
}

Ctrl *chartCtrl(int panel, int control, int *err)
{
    Ctrl *c = findCtrl(panel, control, err);
    if (c && !c->strip && !c->graph) {
        *err = UI_ERR_CONTROL;
        return nullptr;
    }
    return c;
}

} // namespace

void installChartTools(Ctrl &c)
{
    Ctrl *cp = &c;
    ChartView *v = c.strip ? c.strip->view : c.graph->view;
    v->setMenuFiller([cp](QMenu &menu) { fillChartMenu(menu, *cp); });
    if (!c.strip)
        return;
    // Paused, the picture holds every kept point to scroll back to; resumed,
    // the live view goes back to what fits the screen.
    v->setPauseHook([cp](bool paused) {
        if (paused) {
            showKept(*cp->strip);
            cp->dirty = true;   // a read-back gets the screen's span again
        } else {
            pushStripChart(*cp);
        }
    });
}

} // namespace qvar::ui

using namespace qvar::ui;

void SetChartMessageCallback(ChartMessagePtr fn) { g_message = fn; }

int SaveChartPicture(int panel, int control, const char *pngFile, int scale)
{
    int err = 0;
    Ctrl *c = chartCtrl(panel, control, &err);
    if (!c)
        return err;
    if (scale != 1 && scale != 2)
        return UI_ERR_VALUE;
    return writeFile(pngFile, pngOf(*c, scale));
}

int SaveChartData(int panel, int control, const char *csvFile, int visibleOnly)
{
    int err = 0;
    Ctrl *c = chartCtrl(panel, control, &err);
    return c ? writeFile(csvFile, csvOf(*c, visibleOnly != 0)) : err;
}

int SetGraphPlotName(int panel, int control, int plot, const char *name)
{
    int err = 0;
    Ctrl *c = findCtrl(panel, control, &err);
    if (!c)
        return err;
    if (!c->graph)
        return UI_ERR_CONTROL;
    Graph &g = *c->graph;
    for (size_t i = 0; i < g.plots.size(); ++i) {
        if (g.plots[i].handle == plot) {
            g.plots[i].name = QString::fromUtf8(name ? name : "");
            g.view->trace(int(i)).name = g.plots[i].name;
            g.view->tracesChanged();   // the legend names it
            return 0;
        }
    }
    return UI_ERR_VALUE;
}

int SetStripChartTraceName(int panel, int control, int trace, const char *name)
{
    int err = 0;
    Ctrl *c = findCtrl(panel, control, &err);
    if (!c)
        return err;
    if (!c->strip)
        return UI_ERR_CONTROL;
    if (trace < 1 || trace > c->strip->view->traceCount())
        return UI_ERR_VALUE;
    // Called with every plot: no copy unless it changes.
    QString &current = c->strip->view->trace(trace - 1).name;
    const QUtf8StringView wanted(name ? name : "");
    if (QAnyStringView::compare(current, wanted) != 0) {
        current = wanted.toString();
        c->strip->view->tracesChanged();   // the legend names it
    }
    return 0;
}
