// Panels from resource files: load errors, instances, child panels, run-time
// controls, values.
#include "ui_testing.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>

#include <algorithm>

using namespace uitest;

namespace {

std::string replaced(std::string s, const std::string &from, const std::string &to)
{
    const size_t at = s.find(from);
    if (at != std::string::npos)
        s.replace(at, from.size(), to);
    return s;
}

} // namespace

TEST_F(UiTest, LoadFailuresAreNegativeAndShowNothing)
{
    EXPECT_EQ(LoadPanel(0, dir_.filePath("absent.uir").toUtf8().constData(), 1), UI_ERR_FILE);

    EXPECT_EQ(LoadPanel(0, file_.c_str(), 99), UI_ERR_NO_PANEL);

    const std::string xml = TestUirXml();
    const std::pair<std::string, int> damaged[] = {
        {xml.substr(0, xml.size() / 2), UI_ERR_FORMAT},
        {replaced(xml, "class=\"QTabWidget\"", "class=\"QWidget\""), UI_ERR_FORMAT},
        {replaced(xml, "<string>Ctl</string>", "<string>Nowhere</string>"), UI_ERR_CALLBACK},
        // A control naming a panel callback is as wrong as an unknown name.
        {replaced(xml, "<string>Ctl</string>", "<string>PanelCb</string>"), UI_ERR_CALLBACK},
    };
    int n = 0;
    for (const auto &[text, rc] : damaged) {
        const std::string name = "damaged" + std::to_string(++n) + ".uir";   // no cache can mix them up
        EXPECT_EQ(LoadPanel(0, WriteUir(dir_, name.c_str(), text).c_str(), 1), rc) << name;
    }

    EXPECT_EQ(LoadPanel(12345, file_.c_str(), T_CHILD), UI_ERR_PANEL);
    const QWidgetList windows = QApplication::topLevelWidgets();
    EXPECT_FALSE(std::any_of(windows.begin(), windows.end(), [](QWidget *w) { return w->isVisible(); }));
}

TEST_F(UiTest, EachLoadIsANewInstance)
{
    const int second = Load(T_MAIN);
    ASSERT_GT(second, 0);
    EXPECT_NE(second, main_);
    EXPECT_NE(UiPanelWidget(second), UiPanelWidget(main_));
    ASSERT_EQ(SetCtrlVal(second, T_NUM, 77), 0);
    EXPECT_EQ(val(main_, T_NUM), 5);
    EXPECT_EQ(val(second, T_NUM), 77);

    EXPECT_EQ(DiscardPanel(second), 0);
    EXPECT_EQ(SetCtrlVal(second, T_NUM, 1), UI_ERR_PANEL);
    int a = 0;
    EXPECT_EQ(GetCtrlVal(main_, 999, &a), UI_ERR_CONTROL);
}

TEST_F(UiTest, ChildPanelsLiveInsideTheirParentHiddenUntilShown)
{
    const int child = Load(T_CHILD, main_);
    ASSERT_GT(child, 0);
    QWidget *cw = UiPanelWidget(child);
    EXPECT_EQ(cw->parentWidget(), UiPanelWidget(main_));
    EXPECT_TRUE(cw->isHidden());
    EXPECT_FALSE(cw->isWindow());

    ASSERT_EQ(SetPanelPos(child, 105, 10), 0);
    DisplayPanel(main_);
    DisplayPanel(child);
    EXPECT_EQ(panelAttr(child, ATTR_LEFT), 10);
    EXPECT_EQ(panelAttr(child, ATTR_TOP), 105);
    EXPECT_EQ(panelAttr(child, ATTR_VISIBLE), 1);
    EXPECT_TRUE(cw->isVisible());
    HidePanel(child);
    EXPECT_EQ(panelAttr(child, ATTR_VISIBLE), 0);
    EXPECT_EQ(val(child, T_CHILD_VAL), 42);

    // Discarding the parent takes the child along.
    const int second = Load(T_MAIN);
    const int child2 = Load(T_CHILD, second);
    DiscardPanel(second);
    EXPECT_EQ(DisplayPanel(child2), UI_ERR_PANEL);
    HidePanel(main_);
}

TEST_F(UiTest, ValuesOfEachKind)
{
    // Rings work on item values, not indices.
    EXPECT_EQ(val(main_, T_RING), 10);
    ASSERT_EQ(SetCtrlVal(main_, T_RING, 30), 0);
    EXPECT_EQ(qobject_cast<QComboBox *>(W(T_RING))->currentIndex(), 2);
    EXPECT_EQ(SetCtrlVal(main_, T_RING, 31), UI_ERR_VALUE);
    ASSERT_EQ(ClearListCtrl(main_, T_RING), 0);
    InsertListItem(main_, T_RING, -1, "one", 1);
    InsertListItem(main_, T_RING, -1, "three", 3);
    InsertListItem(main_, T_RING, 1, "two", 2);
    int n = 0;
    GetNumListItems(main_, T_RING, &n);
    EXPECT_EQ(n, 3);
    SetCtrlVal(main_, T_RING, 2);
    char text[16];
    ASSERT_EQ(GetCtrlString(main_, T_RING, text, sizeof text), 0);
    EXPECT_STREQ(text, "two");
    EXPECT_EQ(ClearListCtrl(main_, T_NUM), UI_ERR_CONTROL);

    // Numeric displays answer with the last value set even before they repaint.
    for (int i = 0; i < 1000; ++i)
        SetCtrlVal(main_, T_DISP, i);
    unsigned short u = 0;
    ASSERT_EQ(GetCtrlVal(main_, T_DISP, &u), 0);
    EXPECT_EQ(u, 999);
    EXPECT_EQ(ShownNumber(W(T_DISP)), "999");   // W() pushes pending updates
    SetCtrlVal(main_, T_DISP, 70000u);
    GetCtrlVal(main_, T_DISP, &u);
    EXPECT_EQ(u, 70000 & 0xFFFF);

    SetCtrlVal(main_, T_TOG, 1);
    EXPECT_EQ(val(main_, T_TOG), 1);
    // Radios are independent: switching one on leaves the other on.
    SetCtrlVal(main_, T_RADIO, 1);
    EXPECT_EQ(val(main_, T_RADIO2), 1);

    SetCtrlVal(main_, T_MSG, "Line Ok!");
    GetCtrlString(main_, T_MSG, text, sizeof text);
    EXPECT_STREQ(text, "Line Ok!");
    EXPECT_EQ(GetCtrlString(main_, T_MSG, text, 4), UI_ERR_TOO_LONG);
    EXPECT_STREQ(text, "Lin");
    int v = 0;
    EXPECT_EQ(GetCtrlVal(main_, T_MSG, &v), UI_ERR_VALUE);

    // A text box collects what it is given until it is reset.
    SetCtrlVal(main_, T_BOX, "\nline 1");
    SetCtrlVal(main_, T_BOX, "\nline 2");
    EXPECT_EQ(qobject_cast<QPlainTextEdit *>(W(T_BOX))->toPlainText(), "HEAD\nline 1\nline 2");
    ResetTextBox(main_, T_BOX, "fresh");
    EXPECT_EQ(qobject_cast<QPlainTextEdit *>(W(T_BOX))->toPlainText(), "fresh");
}

TEST_F(UiTest, RunTimeTextControlsAndAttributes)
{
    const int id = NewCtrl(main_, CTRL_TEXT_MSG, "", 7, 15);
    ASSERT_GT(id, T_DECO);
    EXPECT_GT(NewCtrl(main_, CTRL_TEXT_MSG, "", 22, 15), id);
    SetCtrlAttribute(main_, id, ATTR_TEXT_FONT, FONT_APPLICATION);
    SetCtrlAttribute(main_, id, ATTR_TEXT_BOLD, 1);
    SetCtrlAttribute(main_, id, ATTR_TEXT_BGCOLOR, 0x0080FF);
    SetCtrlAttribute(main_, id, ATTR_TEXT_COLOR, 0xFFFFFF);
    SetCtrlAttribute(main_, id, ATTR_TEXT_POINT_SIZE, 16);
    SetCtrlVal(main_, id, "Q-VAR-RDX3-Scope");

    auto *l = qobject_cast<QLabel *>(W(id));
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(l->text(), "Q-VAR-RDX3-Scope");
    EXPECT_EQ(l->pos(), QPoint(15, 7));
    EXPECT_TRUE(l->font().bold());
    EXPECT_EQ(l->font().pixelSize(), 16);
    EXPECT_EQ(l->font().family(), QApplication::font().family());
    // The label grows with its text, so nothing is clipped.
    EXPECT_GE(l->width(), l->fontMetrics().horizontalAdvance(l->text()));
    EXPECT_EQ(ctrlAttr(main_, id, ATTR_TEXT_BGCOLOR), 0x0080FF);
    EXPECT_EQ(ctrlAttr(main_, id, ATTR_TEXT_COLOR), 0xFFFFFF);

    SetCtrlAttribute(main_, T_DECO, ATTR_FRAME_COLOR, 0x123456);
    EXPECT_EQ(ctrlAttr(main_, T_DECO, ATTR_FRAME_COLOR), 0x123456);
    EXPECT_EQ(SetCtrlAttribute(main_, T_BTN, ATTR_NUM_TRACES, 2), UI_ERR_ATTRIBUTE);
    EXPECT_EQ(NewCtrl(main_, 77, "", 0, 0), UI_ERR_VALUE);
}

TEST_F(UiTest, PicturesAndPanelImages)
{
    EXPECT_EQ(DisplayImageFile(main_, T_PIC, "no_such_logo.bmp"), UI_ERR_FILE);
    EXPECT_EQ(DisplayImageFile(main_, T_BTN, "x.bmp"), UI_ERR_CONTROL);
    QImage img(8, 8, QImage::Format_RGB32);
    img.fill(Qt::red);
    // A bare name is looked up beside the program.
    const QString bare = QStringLiteral("ui_test_logo_%1.bmp").arg(QCoreApplication::applicationPid());
    const QString beside = QCoreApplication::applicationDirPath() + u'/' + bare;
    ASSERT_TRUE(img.save(beside, "BMP"));
    EXPECT_EQ(DisplayImageFile(main_, T_PIC, bare.toUtf8().constData()), 0);
    QFile::remove(beside);
    EXPECT_FALSE(qobject_cast<QLabel *>(W(T_PIC))->pixmap().isNull());

    const QString png = dir_.filePath("main.png");
    ASSERT_EQ(SavePanelImage(main_, png.toUtf8().constData()), 0);
    const QImage shot(png);
    EXPECT_EQ(shot.size(), QSize(420, 360) * shot.devicePixelRatio());
}
