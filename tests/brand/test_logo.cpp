// The brand banner: what each brand record adds to the main panel, that it
// stays readable and inside the logo area, and what happens to the picture.
#define QVAR_HIDE_SYNC
#include "state/qvar.h"
#include "brand/logo.h"
#include "platform/ui/ui.h"
#include "platform/ui/ui_qt.h"
#include "tests/support/program.h"
#include "ui_ids.h"

#include <QLabel>
#include <QPixmap>
#include <QSet>
#include <QWidget>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace qvar_test;

namespace {

int Rgb(const QColor &c) { return (c.red() << 16) | (c.green() << 8) | c.blue(); }

struct Text {
    std::string text;
    QRect rect;
    int size, background, colour;
};

class Logo : public ProgramTest {
protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        // Where the panel's controls live (a sizable panel scrolls them).
        main = UiCtrlWidget(panelHandle, PANEL_LOGO_BG)->parentWidget();
        ASSERT_NE(nullptr, main);
    }

    QSet<QWidget *> Children() const
    {
        const QList<QWidget *> all = main->findChildren<QWidget *>();
        return QSet<QWidget *>(all.begin(), all.end());
    }
    // The labels ShowLogo(index) adds, in the order they were created.
    std::vector<Text> Added(int index)
    {
        const QSet<QWidget *> before = Children();
        ShowLogo(index);
        std::vector<Text> added;
        for (QObject *o : main->children()) {
            auto *l = qobject_cast<QLabel *>(o);
            if (!l || before.contains(l))
                continue;
            added.push_back({l->text().toStdString(), l->geometry(), l->font().pixelSize(),
                             Rgb(l->palette().color(QPalette::Window)),
                             Rgb(l->palette().color(QPalette::WindowText))});
        }
        EXPECT_EQ(size_t(Children().size() - before.size()), added.size())
            << "ShowLogo created something other than text labels on the panel";
        return added;
    }
    static int Attr(int control, int attribute) { return Attribute(panelHandle, control, attribute); }
    QRect Area(int control) const { return UiCtrlWidget(panelHandle, control)->geometry(); }

    // What every banner must do: texts in the banner's colours, readable,
    // inside the logo area and clear of each other and of a shown logo; the
    // name and the version last, the version beside the name and 4 pixels
    // lower.
    void ExpectReadableBanner(int index, const std::vector<Text> &t)
    {
        ASSERT_GE(t.size(), 2u) << index;
        const int banner = Attr(PANEL_LOGO_BG, ATTR_FRAME_COLOR);
        const QRect area = Area(PANEL_LOGO_BG);
        const bool logoShown = Visible(panelHandle, PANEL_LOGO_PIC);
        for (size_t i = 0; i < t.size(); i++) {
            EXPECT_EQ(banner, t[i].background) << index << " " << t[i].text;
            EXPECT_NE(t[i].background, t[i].colour) << index << " " << t[i].text;
            EXPECT_FALSE(t[i].text.empty()) << index;
            EXPECT_TRUE(area.contains(t[i].rect.topLeft())) << index << " " << t[i].text;
            if (logoShown) {
                EXPECT_FALSE(Area(PANEL_LOGO_PIC).contains(t[i].rect.topLeft())) << index << " " << t[i].text;
            }
            for (size_t j = i + 1; j < t.size(); j++)
                EXPECT_FALSE(t[i].rect.topLeft() == t[j].rect.topLeft()) << index << " " << t[i].text;
        }
        const Text &name = t[t.size() - 2], &version = t.back();
        EXPECT_EQ(szSoftname, name.text);
        EXPECT_EQ(szSoftversion, version.text);
        EXPECT_GT(name.size, version.size) << index;
        EXPECT_EQ(name.rect.top() + 4, version.rect.top()) << index;
        EXPECT_GT(version.rect.left(), name.rect.left()) << index;
    }
    QWidget *main = nullptr;
};

TEST_F(Logo, IndicesWithoutARecordChangeNothing)
{
    SetCtrlAttribute(panelHandle, PANEL_LOGO_BG, ATTR_FRAME_COLOR, 0x123456);
    SetCtrlAttribute(panelHandle, PANEL_LOGO_PIC, ATTR_LEFT, 33);
    const int count = Children().size();
    for (int index : {5, -1, 7, 1000, -2147483647 - 1}) {
        EXPECT_TRUE(Added(index).empty()) << index;
        EXPECT_EQ(count, Children().size()) << index;
        EXPECT_EQ(0x123456, Attr(PANEL_LOGO_BG, ATTR_FRAME_COLOR)) << index;
        EXPECT_EQ(33, Attr(PANEL_LOGO_PIC, ATTR_LEFT)) << index;
        EXPECT_TRUE(Visible(panelHandle, PANEL_LOGO_PIC)) << index;
    }
}

TEST_F(Logo, PlainBannersShowNameAndVersionWithoutLogo)
{
    for (int index : {0, 1}) {
        SetCtrlAttribute(panelHandle, PANEL_LOGO_PIC, ATTR_VISIBLE, 1);
        std::vector<Text> t = Added(index);
        EXPECT_EQ(2u, t.size()) << index;
        EXPECT_FALSE(Visible(panelHandle, PANEL_LOGO_PIC)) << index;
        ExpectReadableBanner(index, t);
    }
}

TEST_F(Logo, LogoBannersLoadTheirPictureAndFullOnesAddThreeBrandLines)
{
    struct { int index; size_t lines; } cases[] = {{3, 0}, {2, 3}, {4, 3}, {6, 3}};
    for (const auto &c : cases) {
        SetCtrlAttribute(panelHandle, PANEL_LOGO_PIC, ATTR_VISIBLE, 1);
        auto *pic = qobject_cast<QLabel *>(UiCtrlWidget(panelHandle, PANEL_LOGO_PIC));
        ASSERT_NE(nullptr, pic);
        pic->setPixmap(QPixmap());
        std::vector<Text> t = Added(c.index);
        ASSERT_EQ(c.lines + 2, t.size()) << c.index;
        EXPECT_FALSE(pic->pixmap().isNull()) << c.index << ": the logo bitmap was not loaded";
        EXPECT_TRUE(Area(PANEL_LOGO_BG).contains(Area(PANEL_LOGO_PIC).topLeft())) << c.index;
        ExpectReadableBanner(c.index, t);
        // The brand lines: one under the other, 15 pixels apart, all different.
        for (size_t i = 1; i < c.lines; i++) {
            EXPECT_EQ(t[i - 1].rect.left(), t[i].rect.left()) << c.index;
            EXPECT_EQ(t[i - 1].rect.top() + 15, t[i].rect.top()) << c.index;
            EXPECT_NE(t[i - 1].text, t[i].text) << c.index;
        }
    }
}

TEST_F(Logo, StartUpShowsBrand2)
{
    // The start-up's banner is the one ShowLogo(2) draws, name for name.
    std::vector<std::pair<std::string, QPoint>> shown;
    for (QLabel *l : main->findChildren<QLabel *>())
        if (l != UiCtrlWidget(panelHandle, PANEL_LOGO_PIC))
            shown.push_back({l->text().toStdString(), l->pos()});
    const int frame = Attr(PANEL_LOGO_BG, ATTR_FRAME_COLOR);
    const QRect logo = Area(PANEL_LOGO_PIC);
    for (const Text &t : Added(2)) {
        bool found = false;
        for (const auto &s : shown)
            found = found || (s.first == t.text && s.second == t.rect.topLeft());
        EXPECT_TRUE(found) << t.text;
    }
    EXPECT_EQ(frame, Attr(PANEL_LOGO_BG, ATTR_FRAME_COLOR));
    EXPECT_EQ(logo, Area(PANEL_LOGO_PIC));
}

} // namespace
