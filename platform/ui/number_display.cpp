// number_display.cpp - the read-only numeric control's face.
//
// A live scope changes six of these 26 times a second. Through QSpinBox each
// change formats, validates and lays the text out again (text shaping) and
// repaints the whole styled box; that was a quarter of the scope's CPU on a
// real display. Here a change costs a copy of the face's text area and a few
// glyphs: digits in a UI font have fixed advances, so drawing them one by one
// places them where a laid-out string would put them.
#include "platform/ui/number_display.h"

#include <QEvent>
#include <QLineEdit>
#include <QPaintEvent>
#include <QPainter>
#include <QSpinBox>
#include <QStyle>

#include <algorithm>
#include <cmath>

namespace qvar::ui {

NumberDisplay::NumberDisplay(QSpinBox *box) : QWidget(box), box_(box), value_(box->value())
{
    // Everything it covers is drawn by itself: Qt need not paint the spin box
    // underneath on every change.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setGeometry(0, 0, box->width(), box->height());
    box->installEventFilter(this);
}

// A click gives the spin box the focus, which its look shows: the face is
// drawn again from it.
bool NumberDisplay::eventFilter(QObject *watched, QEvent *e)
{
    if (watched == box_ && (e->type() == QEvent::FocusIn || e->type() == QEvent::FocusOut)) {
        faceValid_ = false;
        update();
    }
    return false;
}

void NumberDisplay::setNumber(int value)
{
    value = std::clamp(value, box_->minimum(), box_->maximum());
    if (value == value_)
        return;
    value_ = value;
    // Before the first picture the text's place is not known yet.
    update(faceValid_ ? textRect_ : rect());
}

QString NumberDisplay::text() const
{
    return box_->prefix() + QString::number(value_) + box_->suffix();
}

void NumberDisplay::resizeEvent(QResizeEvent *e)
{
    QWidget::resizeEvent(e);
    faceValid_ = false;
}

void NumberDisplay::changeEvent(QEvent *e)
{
    switch (e->type()) {
    case QEvent::FontChange:
        glyphsValid_ = false;
        [[fallthrough]];
    case QEvent::PaletteChange:
    case QEvent::EnabledChange:
    case QEvent::StyleChange:
        faceValid_ = false;
        update();
        break;
    default:
        break;
    }
    QWidget::changeEvent(e);
}

void NumberDisplay::drawFace()
{
    // The text stands where the spin box's line edit shows it, less the line
    // edit's own margins; that place moves only with what redraws the face.
    textRect_ = rect();
    if (const auto *edit = box_->findChild<QLineEdit *>())
        textRect_ = edit->geometry();
    textRect_.adjust(2, 0, -2, 0);
    const qreal dpr = devicePixelRatioF();
    face_ = QPixmap(size() * dpr);
    face_.setDevicePixelRatio(dpr);
    face_.fill(palette().color(QPalette::Window));
    // The box alone, without the line edit's text (its children are not drawn).
    box_->render(&face_, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    faceValid_ = true;
}

void NumberDisplay::paintEvent(QPaintEvent *e)
{
    if (!faceValid_ || face_.size() != size() * devicePixelRatioF())
        drawFace();
    QPainter p(this);
    const QRect dirty = e->rect();
    const qreal dpr = face_.devicePixelRatio();
    p.drawPixmap(dirty, face_, QRectF(dirty.x() * dpr, dirty.y() * dpr, dirty.width() * dpr, dirty.height() * dpr));

    const QFontMetricsF fm(font());
    if (!glyphsValid_) {
        for (int i = 0; i < 11; ++i) {
            const QChar ch = i < 10 ? QChar(u'0' + i) : QChar(u'-');
            glyph_[size_t(i)] = QStaticText(QString(ch));
            glyph_[size_t(i)].setTextFormat(Qt::PlainText);
            glyph_[size_t(i)].prepare(QTransform(), font());
            advance_[size_t(i)] = fm.horizontalAdvance(ch);
        }
        glyphsValid_ = true;
    }
    const QString s = text();
    const auto index = [](QChar ch) { return ch == u'-' ? 10 : ch.isDigit() ? ch.unicode() - u'0' : -1; };
    qreal width = 0;
    bool plain = true;
    for (QChar ch : s) {
        const int i = index(ch);
        plain = plain && i >= 0;
        width += i >= 0 ? advance_[size_t(i)] : 0;
    }
    const QRect &r = textRect_;
    p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
    if (!plain) {   // a prefix or suffix: laid out as a whole
        p.drawText(r, int(box_->alignment()), s);
        return;
    }
    const Qt::Alignment h = box_->alignment() & Qt::AlignHorizontal_Mask;
    // As QLineEdit places it: it keeps a cursor's pixel right of the text and
    // one more at its right edge.
    const int used = int(std::lround(width)) + 1;
    qreal x = r.left();
    if (h & Qt::AlignRight)
        x = r.right() + 1 - used - 1;
    else if (h & Qt::AlignHCenter)
        x = r.left() + r.width() / 2 - used / 2;
    // QStaticText is placed by its top left corner.
    const qreal y = r.top() + std::round((r.height() - fm.height()) / 2);
    for (QChar ch : s) {
        const size_t i = size_t(index(ch));
        p.drawStaticText(QPointF(x, y), glyph_[i]);
        x += advance_[i];
    }
}

} // namespace qvar::ui
