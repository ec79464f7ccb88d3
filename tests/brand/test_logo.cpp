// The brand banner: which texts each brand record adds to the main panel,
// where, in which colours, and what it does with the logo picture.
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

const int WHITE = 0xFFFFFF, GREY = 0x808080, BLUE = 0x0080FF;

int Rgb(const QColor &c) { return (c.red() << 16) | (c.green() << 8) | c.blue(); }

struct Text {
    std::string text;
    int left, top, size, background, colour;
    bool italic;
};

class Logo : public ::testing::Test {
protected:
    void SetUp() override
    {
        FreshSim();
        ASSERT_TRUE(StartProgram());
        main = UiPanelWidget(panelHandle);
        ASSERT_NE(nullptr, main);
    }
    void TearDown() override { StopProgram(); }

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
            added.push_back({l->text().toStdString(), l->x(), l->y(), l->font().pixelSize(),
                             Rgb(l->palette().color(QPalette::Window)),
                             Rgb(l->palette().color(QPalette::WindowText)), l->font().italic()});
        }
        EXPECT_EQ(size_t(Children().size() - before.size()), added.size())
            << "ShowLogo created something other than text labels on the panel";
        return added;
    }
    static int Attr(int control, int attribute)
    {
        int v = -1;
        GetCtrlAttribute(panelHandle, control, attribute, &v);
        return v;
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
        EXPECT_EQ(1, Attr(PANEL_LOGO_PIC, ATTR_VISIBLE)) << index;
    }
}

TEST_F(Logo, PlainBannersShowNameAndVersionWithoutLogo)
{
    struct { int index, banner, text; } cases[] = {{0, WHITE, GREY}, {1, BLUE, WHITE}};
    for (const auto &c : cases) {
        SetCtrlAttribute(panelHandle, PANEL_LOGO_PIC, ATTR_VISIBLE, 1);
        std::vector<Text> t = Added(c.index);
        ASSERT_EQ(2u, t.size()) << c.index;
        EXPECT_EQ("Q-VAR-RDX3-Scope", t[0].text);
        EXPECT_EQ(20, t[0].left);
        EXPECT_EQ(20, t[0].top);
        EXPECT_EQ(16, t[0].size);
        EXPECT_EQ("V2.2x", t[1].text);
        EXPECT_EQ(180, t[1].left);
        EXPECT_EQ(24, t[1].top);
        EXPECT_EQ(11, t[1].size);
        for (const Text &x : t) {
            EXPECT_EQ(c.banner, x.background) << x.text;
            EXPECT_EQ(c.text, x.colour) << x.text;
            EXPECT_TRUE(x.italic) << x.text;
        }
        EXPECT_EQ(c.banner, Attr(PANEL_LOGO_BG, ATTR_FRAME_COLOR));
        EXPECT_EQ(0, Attr(PANEL_LOGO_PIC, ATTR_VISIBLE)) << c.index;
    }
}

TEST_F(Logo, ShortLayoutWithLogoForBrand3)
{
    SetCtrlAttribute(panelHandle, PANEL_LOGO_PIC, ATTR_VISIBLE, 1);
    std::vector<Text> t = Added(3);
    ASSERT_EQ(2u, t.size());
    EXPECT_EQ("Q-VAR-RDX3-Scope", t[0].text);
    EXPECT_EQ(20, t[0].left);
    EXPECT_EQ("V2.2x", t[1].text);
    EXPECT_EQ(180, t[1].left);
    EXPECT_EQ(GREY, t[0].colour);
    EXPECT_EQ(WHITE, t[0].background);
    EXPECT_EQ(470, Attr(PANEL_LOGO_PIC, ATTR_LEFT));
    EXPECT_EQ(8, Attr(PANEL_LOGO_PIC, ATTR_TOP));
    EXPECT_EQ(1, Attr(PANEL_LOGO_PIC, ATTR_VISIBLE));
    EXPECT_EQ(WHITE, Attr(PANEL_LOGO_BG, ATTR_FRAME_COLOR));
    auto *pic = qobject_cast<QLabel *>(UiCtrlWidget(panelHandle, PANEL_LOGO_PIC));
    ASSERT_NE(nullptr, pic);
    EXPECT_FALSE(pic->pixmap().isNull()) << "the logo bitmap was not loaded";
}

TEST_F(Logo, FullLayoutsAddBrandLinesAboveNameAndVersion)
{
    struct { int index, banner, text, logoLeft, logoTop; } cases[] = {
        {2, BLUE, WHITE, 175, 6}, {4, BLUE, WHITE, 470, 7}, {6, WHITE, GREY, 470, 7}};
    for (const auto &c : cases) {
        std::vector<Text> t = Added(c.index);
        ASSERT_EQ(5u, t.size()) << c.index;
        const int tops[] = {7, 22, 37};
        for (int i = 0; i < 3; i++) {
            EXPECT_EQ(15, t[i].left) << c.index << " line " << i;
            EXPECT_EQ(tops[i], t[i].top) << c.index << " line " << i;
            EXPECT_EQ(11, t[i].size);
            EXPECT_FALSE(t[i].text.empty());
        }
        EXPECT_EQ("Q-VAR-RDX3-Scope", t[3].text);
        EXPECT_EQ(220, t[3].left);
        EXPECT_EQ(32, t[3].top);
        EXPECT_EQ(16, t[3].size);
        EXPECT_EQ("V2.2x", t[4].text);
        EXPECT_EQ(380, t[4].left);
        EXPECT_EQ(36, t[4].top);
        for (const Text &x : t) {
            EXPECT_EQ(c.banner, x.background) << c.index << " " << x.text;
            EXPECT_EQ(c.text, x.colour) << c.index << " " << x.text;
        }
        EXPECT_EQ(c.logoLeft, Attr(PANEL_LOGO_PIC, ATTR_LEFT)) << c.index;
        EXPECT_EQ(c.logoTop, Attr(PANEL_LOGO_PIC, ATTR_TOP)) << c.index;
        EXPECT_EQ(c.banner, Attr(PANEL_LOGO_BG, ATTR_FRAME_COLOR)) << c.index;
    }
}

TEST_F(Logo, StartUpShowsBrand2)
{
    // The banner drawn by the start-up: the program name in the full layout.
    QLabel *name = nullptr;
    for (QLabel *l : main->findChildren<QLabel *>())
        if (l->text() == "Q-VAR-RDX3-Scope")
            name = l;
    ASSERT_NE(nullptr, name);
    EXPECT_EQ(220, name->x());
    EXPECT_EQ(32, name->y());
    EXPECT_EQ(BLUE, Attr(PANEL_LOGO_BG, ATTR_FRAME_COLOR));
    EXPECT_EQ(175, Attr(PANEL_LOGO_PIC, ATTR_LEFT));
    EXPECT_EQ(6, Attr(PANEL_LOGO_PIC, ATTR_TOP));
}

} // namespace
