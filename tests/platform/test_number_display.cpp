// Read-only numeric controls: what they show follows the program within the
// box's range, and the digits stand where the spin box itself draws them.
#include "ui_testing.h"

#include <QImage>
#include <QSpinBox>

using namespace uitest;

namespace {

// The box around the dark pixels of a picture: where its text is.
QRect Ink(const QImage &image)
{
    QRect box;
    const QImage img = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (qGray(img.pixel(x, y)) < 110)
                box |= QRect(x, y, 1, 1);
    return box;
}

// The same number in a plain read-only spin box of the same size and look.
QImage AsASpinBoxDrawsIt(const QSpinBox *like, int value)
{
    QSpinBox box;
    box.setReadOnly(true);
    box.setButtonSymbols(like->buttonSymbols());
    box.setRange(like->minimum(), like->maximum());
    box.setAlignment(like->alignment());
    box.setFont(like->font());
    box.setFrame(like->hasFrame());
    box.resize(like->size());
    box.setValue(value);
    return box.grab().toImage();
}

} // namespace

TEST_F(UiTest, NumericDisplayShowsTheLastValueWithinTheBoxRange)
{
    DisplayPanel(main_);
    SetCtrlVal(main_, T_DISP, 4321);
    EXPECT_EQ(ShownNumber(W(T_DISP)), "4321");
    SetCtrlVal(main_, T_DISP, -7);   // below the box's minimum of 0
    EXPECT_EQ(ShownNumber(W(T_DISP)), "0");
    EXPECT_EQ(val(main_, T_DISP), -7);   // the program gets back what it set
    SetCtrlVal(main_, T_DISP, 99999.0);
    EXPECT_EQ(ShownNumber(W(T_DISP)), "65535");
}

TEST_F(UiTest, NumericDisplayDrawsItsDigitsWhereTheSpinBoxWould)
{
    DisplayPanel(main_);
    auto *box = qobject_cast<QSpinBox *>(W(T_DISP));
    ASSERT_NE(box, nullptr);
    for (Qt::Alignment align : {Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignRight}) {
        align |= Qt::AlignVCenter;
        SCOPED_TRACE(int(align));
        box->setAlignment(align);
        for (int value : {7, 1023, 60000}) {
            SCOPED_TRACE(value);
            SetCtrlVal(main_, T_DISP, value);
            const QRect ours = Ink(W(T_DISP)->grab().toImage());
            const QRect theirs = Ink(AsASpinBoxDrawsIt(box, value));
            ASSERT_FALSE(theirs.isEmpty());
            ASSERT_FALSE(ours.isEmpty()) << "no digits drawn";
            EXPECT_LE(std::abs(ours.left() - theirs.left()), 2);
            EXPECT_LE(std::abs(ours.right() - theirs.right()), 2);
            EXPECT_LE(std::abs(ours.top() - theirs.top()), 2);
            EXPECT_LE(std::abs(ours.bottom() - theirs.bottom()), 2);
        }
    }

    // Dimmed, it is drawn again in the dimmed look, not from the old picture.
    SetCtrlVal(main_, T_DISP, 888);
    const QImage lit = W(T_DISP)->grab().toImage();
    SetCtrlAttribute(main_, T_DISP, ATTR_DIMMED, 1);
    EXPECT_NE(W(T_DISP)->grab().toImage(), lit);
    SetCtrlAttribute(main_, T_DISP, ATTR_DIMMED, 0);
    EXPECT_EQ(W(T_DISP)->grab().toImage(), lit);
}
