// ui_resize.cpp - a panel window that grows, and scrolls where the screen is
// too small for it: its charts take the space the window adds, and the rest
// keeps its place from the resource file.
//
// The panel's own widgets move onto a canvas inside a scroll area that fills
// the window. The canvas is never smaller than the design: a window smaller
// than that (a small screen, a large scale factor) scrolls, so every control
// stays reachable, and the window's least size is the design's where the
// screen holds it and what the screen holds where it does not. Positions stay
// the panel's own: they are the canvas's.
//
// Each widget on the canvas gets an anchor from where the design puts it
// relative to the charts (the strip charts and graphs, taken together): the
// charts keep their left and top edges and follow the right and bottom ones;
// what lies below them moves down with the bottom edge, so it stays under the
// chart; bands across the top above them (banner, status line) widen with the
// window. Everything else, child panels included, stays put.
#include "platform/ui/chart_view.h"
#include "platform/ui/ui_internal.h"

#include <QEvent>
#include <QPointer>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QVariant>
#include <QWindow>

#include <vector>

namespace qvar::ui {
namespace {

class Anchors;
Anchors *anchorsOf(QWidget *page);

enum Anchor { kGrow, kDown, kWiden };

class Anchors : public QObject {
public:
    Anchors(Panel &p, QWidget *page) : QObject(page), panel_(p.handle), page_(page), design_(contentSize(page))
    {
        wrap();
        QRect charts;
        for (QWidget *w : canvas_->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
            if (isChart(w))
                charts |= w->geometry();
        for (QWidget *w : canvas_->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
            if (charts.isEmpty() || w->property("qvarPanel").isValid() || w->isWindow())
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
        canvas_->installEventFilter(this);
    }

    QWidget *canvas() const { return canvas_; }

    // The least size: the design's, with room for a scroll bar where only
    // the other direction needs one, within what the screen holds.
    void fit()
    {
        const QSize room = screenRoom();
        const int bar = page_->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, scroll_);
        QSize least = design_;
        if (least.height() > room.height())
            least.rwidth() += bar;
        if (least.width() > room.width())
            least.rheight() += bar;
        least = least.boundedTo(room);
        page_->setMinimumSize(least);
        if (page_->maximumWidth() == QWIDGETSIZE_MAX)
            page_->resize(page_->size().expandedTo(least).boundedTo(room));
    }

    bool eventFilter(QObject *obj, QEvent *e) override
    {
        if (obj == canvas_ && e->type() == QEvent::Resize)
            place(canvas_->size());
        if (obj == page_ && e->type() == QEvent::Resize)
            scroll_->setGeometry(page_->rect());
        if (obj == page_ && e->type() == QEvent::Show) {
            // The window is made by now: follow it to other screens.
            if (QWindow *w = page_->windowHandle(); w && !watching_) {
                watching_ = true;
                connect(w, &QWindow::screenChanged, this, [this] { fit(); });
            }
            fit();
        }
        return false;
    }

private:
    struct Item {
        QPointer<QWidget> w;
        QRect design;
        Anchor how;
    };

    // The design's size, or more where a control reaches beyond it.
    static QSize contentSize(QWidget *page)
    {
        QRect all(QPoint(0, 0), page->size());
        for (QWidget *w : page->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
            if (!w->isWindow())
                all |= w->geometry();
        return all.size();
    }

    static bool isChart(QWidget *w)
    {
        for (QObject *o : w->children())
            if (dynamic_cast<ChartView *>(o))
                return true;
        return false;
    }

    // What the window's inside may take of its screen: the screen's free
    // area less the window's frame, or less a title bar while the frame is
    // not known yet.
    QSize screenRoom() const
    {
        const QScreen *screen = page_->screen();
        if (!screen)
            return QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        const QMargins frame = page_->windowHandle() ? page_->windowHandle()->frameMargins() : QMargins();
        const int title = std::max(frame.top(), page_->style()->pixelMetric(QStyle::PM_TitleBarHeight));
        const QSize avail = screen->availableGeometry().size();
        return QSize(avail.width() - frame.left() - frame.right(), avail.height() - title - frame.bottom());
    }

    // Moves the page's widgets onto the canvas, where they keep their places,
    // shown or hidden, and their order for the Tab key (a widget given a new
    // parent goes to the end of that order).
    void wrap()
    {
        std::vector<QPointer<QWidget>> tabOrder;
        for (QWidget *w = page_->nextInFocusChain(); w && w != page_; w = w->nextInFocusChain())
            if (w->focusPolicy() != Qt::NoFocus && !w->focusProxy())
                tabOrder.emplace_back(w);
        scroll_ = new QScrollArea(page_);
        scroll_->setFrameShape(QFrame::NoFrame);
        scroll_->setFocusPolicy(Qt::NoFocus);
        scroll_->setWidgetResizable(true);
        scroll_->viewport()->setAutoFillBackground(false);   // the window's own background
        canvas_ = new QWidget;
        canvas_->setObjectName(page_->objectName() + QStringLiteral("_canvas"));
        for (QWidget *w : page_->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
            if (w == scroll_ || w->isWindow())
                continue;
            const bool hidden = w->isHidden();
            const QRect g = w->geometry();
            w->setParent(canvas_);
            w->setGeometry(g);
            w->setVisible(!hidden);
        }
        canvas_->setMinimumSize(design_);
        canvas_->resize(design_);
        scroll_->setWidget(canvas_);
        scroll_->setGeometry(page_->rect());
        for (size_t i = 1; i < tabOrder.size(); ++i)
            if (tabOrder[i - 1] && tabOrder[i])
                QWidget::setTabOrder(tabOrder[i - 1], tabOrder[i]);
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
    QWidget *page_;
    QSize design_;
    QScrollArea *scroll_ = nullptr;
    QWidget *canvas_ = nullptr;
    bool watching_ = false;
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

// The first call fixes the design size and moves the panel onto its canvas;
// later calls only switch between a window that grows and one of fixed size.
void setSizable(Panel &p, bool on)
{
    QWidget *page = p.w;
    Anchors *anchors = anchorsOf(page);
    if (on && !anchors)
        anchors = new Anchors(p, page);
    if (!anchors)
        return;   // never sizable: its fixed size stands
    if (on) {
        page->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        anchors->fit();
    } else {
        page->setFixedSize(page->minimumSize());
    }
}

bool sizable(const Panel &p)
{
    return p.w && p.w->maximumWidth() == QWIDGETSIZE_MAX &&
           anchorsOf(p.w) != nullptr;
}

QWidget *canvasOf(Panel &p)
{
    const Anchors *anchors = p.w ? anchorsOf(p.w) : nullptr;
    return anchors ? anchors->canvas() : p.w.data();
}

} // namespace qvar::ui
