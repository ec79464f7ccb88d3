// ui_ring.cpp - rings whose entries may be longer than the ring is wide.
//
// A plain combo box cuts a long entry at its right edge, which is where a
// port's label says what matters most ("(missing)", the device's name). The
// shown entry is shortened in the middle instead, the whole text is the
// tooltip, and the opened list is as wide as its longest entry (up to the
// screen's width), so nothing a user needs to choose is hidden.
#include "platform/ui/ui_internal.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QScreen>
#include <QStandardItemModel>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QToolTip>

namespace qvar::ui {
namespace {

// Draws the ring as QComboBox does, with the shown text elided in the middle.
void paintElided(QComboBox *cb)
{
    QStylePainter p(cb);
    p.setPen(cb->palette().color(QPalette::Text));
    QStyleOptionComboBox opt;
    opt.initFrom(cb);
    opt.editable = cb->isEditable();
    opt.frame = cb->hasFrame();
    opt.subControls = QStyle::SC_All;
    opt.iconSize = cb->iconSize();
    opt.currentIcon = cb->itemIcon(cb->currentIndex());
    if (cb->view() && cb->view()->isVisible())
        opt.state |= QStyle::State_On;
    if (opt.state & QStyle::State_MouseOver)
        opt.activeSubControls = QStyle::SC_ComboBoxArrow;
    p.drawComplexControl(QStyle::CC_ComboBox, opt);
    const QRect field =
        cb->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, cb);
    opt.currentText = cb->fontMetrics().elidedText(cb->currentText(), Qt::ElideMiddle, field.width() - 2);
    p.drawControl(QStyle::CE_ComboBoxLabel, opt);
}

class RingLook : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject *obj, QEvent *ev) override
    {
        auto *cb = qobject_cast<QComboBox *>(obj);
        if (!cb || cb->isEditable())
            return false;
        if (ev->type() == QEvent::Paint) {
            paintElided(cb);
            return true;
        }
        if (ev->type() == QEvent::ToolTip) {
            const QString text = cb->currentText();
            if (text.isEmpty())
                QToolTip::hideText();
            else
                QToolTip::showText(static_cast<QHelpEvent *>(ev)->globalPos(), text, cb);
            return true;
        }
        return false;
    }
};

} // namespace

void setupRing(QComboBox *cb)
{
    cb->installEventFilter(new RingLook(cb));
    cb->view()->setTextElideMode(Qt::ElideMiddle);
    fitRingList(cb);
}

void fitRingList(QComboBox *cb)
{
    int widest = 0;
    for (int i = 0; i < cb->count(); ++i)
        widest = std::max(widest, cb->fontMetrics().horizontalAdvance(cb->itemText(i)));
    // Room for the frame, the item margins and a scroll bar.
    int want = widest + 48;
    if (const QScreen *s = cb->screen() ? cb->screen() : QGuiApplication::primaryScreen())
        want = std::min(want, s->availableGeometry().width() - 20);
    cb->view()->setMinimumWidth(std::max(want, cb->width()));
}

int ringItemDimmed(QComboBox *cb, int index, bool dimmed)
{
    auto *model = qobject_cast<QStandardItemModel *>(cb->model());
    QStandardItem *item = model ? model->item(index) : nullptr;
    if (!item)
        return UI_ERR_VALUE;
    item->setEnabled(!dimmed);
    return 0;
}

} // namespace qvar::ui
