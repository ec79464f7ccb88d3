// ui_resize.cpp - a panel window that grows: its charts take the space the
// window adds, and the rest keeps its place from the resource file.
//
// Each of the panel's own widgets gets an anchor from where the design puts
// it relative to the charts (the strip charts and graphs, taken together):
// the charts keep their left and top edges and follow the right and bottom
// ones; what lies below them moves down with the bottom edge, so it stays
// under the chart; bands across the top above them (banner, status line)
// widen with the window. Everything else, child panels included, stays put.
// Sizes never drop below the design's.
#include "platform/ui/chart_view.h"
#include "platform/ui/ui_internal.h"

#include <QEvent>
#include <QVariant>

#include <vector>

namespace qvar::ui {
namespace {

class Anchors;
Anchors *anchorsOf(QWidget *page);

enum Anchor { kGrow, kDown, kWiden };

class Anchors : public QObject {
public:
    Anchors(Panel &p, QWidget *page) : QObject(page), panel_(p.handle), design_(page->size())
    {
        QRect charts;
        for (QWidget *w : page->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
            if (isChart(w))
                charts |= w->geometry();
        if (charts.isEmpty())
            return;
        for (QWidget *w : page->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
            if (w->property("qvarPanel").isValid() || w->isWindow())
                continue;   // a child panel keeps its own place
            const QRect g = w->geometry();
            if (isChart(w))
                items_.push_back({w, g, kGrow});
            else if (g.top() >= charts.bottom() && g.left() >= charts.left())
                items_.push_back({w, g, kDown});
            else if (g.bottom() <= charts.top() && g.right() >= charts.right())
                items_.push_back({w, g, kWiden});
        }
        page->installEventFilter(this);
    }

    bool eventFilter(QObject *obj, QEvent *e) override
    {
        if (e->type() == QEvent::Resize && obj == parent())
            place(static_cast<QWidget *>(obj)->size());
        return false;
    }

private:
    struct Item {
        QPointer<QWidget> w;
        QRect design;
        Anchor how;
    };

    static bool isChart(QWidget *w)
    {
        for (QObject *o : w->children())
            if (dynamic_cast<ChartView *>(o))
                return true;
        return false;
    }

    void place(QSize now)
    {
        const int dw = std::max(0, now.width() - design_.width());
        const int dh = std::max(0, now.height() - design_.height());
        for (const Item &it : items_) {
            if (!it.w)
                continue;
            QRect g = it.design;
            if (it.how == kGrow)
                g.adjust(0, 0, dw, dh);
            else if (it.how == kDown)
                g.translate(0, dh);
            else
                g.adjust(0, 0, dw, 0);
            it.w->setGeometry(g);
            fillInner(it.w);
        }
    }

    // The working widget inside a placeholder fills it, as when it was made.
    void fillInner(QWidget *w)
    {
        Panel *p = findPanel(panel_);
        const QVariant id = w->property("qvarCtrl");
        if (!p || !id.isValid())
            return;
        const auto c = p->ctrls.find(id.toInt());
        if (c != p->ctrls.end() && c->second->inner && c->second->inner != w)
            c->second->inner->setGeometry(0, 0, w->width(), w->height());
    }

    int panel_;
    QSize design_;
    std::vector<Item> items_;
};

Anchors *anchorsOf(QWidget *page)
{
    for (QObject *o : page->children())
        if (auto *a = dynamic_cast<Anchors *>(o))
            return a;
    return nullptr;
}

} // namespace

// The first call fixes the design size as the smallest; later calls only
// switch between that and a window of fixed size.
void setSizable(Panel &p, bool on)
{
    QWidget *page = p.w;
    Anchors *anchors = anchorsOf(page);
    if (on && !anchors)
        anchors = new Anchors(p, page);
    if (!anchors)
        return;   // never sizable: its fixed size stands
    if (on) {
        page->setMinimumSize(page->minimumSize().expandedTo(page->size()));
        page->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    } else {
        page->setFixedSize(page->minimumSize());
    }
}

bool sizable(const Panel &p)
{
    return p.w && p.w->maximumWidth() == QWIDGETSIZE_MAX &&
           anchorsOf(p.w) != nullptr;
}

} // namespace qvar::ui
