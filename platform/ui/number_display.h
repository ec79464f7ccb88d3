// number_display.h - the face of a read-only numeric control: a number the
// program changes many times a second, drawn over the spin box it stands in.
#pragma once

#include <QPixmap>
#include <QStaticText>
#include <QString>
#include <QWidget>

#include <array>

class QSpinBox;

namespace qvar::ui {

// Lives inside the read-only QSpinBox of the resource file and covers it. The
// spin box keeps its place, palette, font and enabled state (this widget
// inherits them); its look without text is drawn once per size, palette or
// state, and a new value repaints only the text, glyph by glyph from a cache,
// instead of a line edit laying its text out again on every change.
class NumberDisplay : public QWidget {
public:
    explicit NumberDisplay(QSpinBox *box);

    // The value as the spin box would show it (within its range); repaints
    // only when the text changes.
    void setNumber(int value);
    int number() const { return value_; }
    QString text() const;

protected:
    bool eventFilter(QObject *watched, QEvent *e) override;
    void paintEvent(QPaintEvent *) override;
    void resizeEvent(QResizeEvent *) override;
    void changeEvent(QEvent *) override;

private:
    void drawFace();

    QSpinBox *box_;
    int value_ = 0;
    QPixmap face_;               // the spin box without its text
    QRect textRect_;             // where its text goes, set with the face
    bool faceValid_ = false;
    // '0'..'9' and '-', laid out once per font.
    std::array<QStaticText, 11> glyph_;
    std::array<qreal, 11> advance_{};
    bool glyphsValid_ = false;
};

} // namespace qvar::ui
