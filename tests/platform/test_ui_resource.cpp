// The resource file as a user may hand it over: edited in Designer since the
// program was built, lacking a control, not a file at all, or giving a kind
// to a widget that cannot carry it.
#include "platform/ui/uir_model.h"
#include "ui_ids.h"
#include "ui_testing.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QFile>

#include <chrono>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

using namespace uitest;

namespace {

std::string realUir()
{
    QFile f(QCoreApplication::applicationDirPath() + "/QVARRDX3V20.uir");
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return f.readAll().toStdString();
}

// The whole <widget ...> element named `name`, with its leading indentation.
std::string cutWidget(std::string &xml, const std::string &name)
{
    const size_t open = xml.find("<widget class=\"QPushButton\" name=\"" + name + "\">");
    if (open == std::string::npos)
        return {};
    const size_t from = xml.rfind('\n', open) + 1;
    const std::string close = "</widget>\n";
    const size_t to = xml.find(close, open) + close.size();
    std::string element = xml.substr(from, to - from);
    xml.erase(from, to - from);
    return element;
}

std::string insertBefore(std::string xml, const std::string &anchor, const std::string &text)
{
    const size_t at = xml.find(anchor);
    EXPECT_NE(at, std::string::npos) << anchor;
    if (at != std::string::npos)
        xml.insert(xml.rfind('\n', at) + 1, text);
    return xml;
}

// Every callback the file names, answered by the recording fixture.
class RealFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(InitUserInterface(0, nullptr), 1);
        ASSERT_TRUE(dir_.isValid());
        qvar::uir::Model model;
        ASSERT_TRUE(qvar::uir::parse(QByteArray::fromStdString(realUir()), model, nullptr));
        for (const auto &p : model.panels) {
            if (!p.callback.isEmpty())
                names_.push_back({p.callback.toStdString(), true});
            for (const auto &c : p.controls)
                if (!c.callback.isEmpty())
                    names_.push_back({c.callback.toStdString(), false});
        }
        for (const auto &[name, isPanel] : names_)
            table_.push_back({name.c_str(), isPanel ? nullptr : Record, isPanel ? RecordPanel : nullptr});
        SetCallbackTable(table_.data(), int(table_.size()));
        SetControlNames(qvarControlNames, qvarControlNameCount);
        seen().clear();
    }
    void TearDown() override
    {
        for (int h : loaded_)
            DiscardPanel(h);
        SetControlNames(nullptr, 0);
        SetCallbackTable(nullptr, 0);
        seen().clear();
    }
    int Load(const std::string &file, int number)
    {
        const int h = LoadPanel(0, file.c_str(), number);
        if (h > 0)
            loaded_.push_back(h);
        return h;
    }

    QTemporaryDir dir_;
    std::vector<std::pair<std::string, bool>> names_;   // name, panel callback
    std::vector<UiCallback> table_;
    std::vector<int> loaded_;
};

TEST_F(RealFile, AddedAndMovedControlsKeepEveryControlWiredByName)
{
    std::string xml = realUir();
    const std::string run = cutWidget(xml, "PANEL_BTN_RUN");
    ASSERT_FALSE(run.empty());
    const std::string note = "   <widget class=\"QLabel\" name=\"PANEL_EXTRA_NOTE\">\n"
                             "    <property name=\"text\"><string>note</string></property>\n"
                             "   </widget>\n";
    // The note goes first, the Run button moves to the front too.
    xml = insertBefore(xml, "<widget class=\"QFrame\" name=\"PANEL_LOGO_BG\">", note + run);
    const std::string file = WriteUir(dir_, "edited.uir", xml);

    for (int number : {int(PANEL), int(POPUP), int(PARA_A), int(PARA_B), int(PARA_C)}) {
        const int h = Load(file, number);
        ASSERT_GT(h, 0) << number << ": " << LoadPanelError();
        for (int i = 0; i < qvarControlNameCount; ++i) {
            const UiControlName &c = qvarControlNames[i];
            if (c.panel != number)
                continue;
            QWidget *w = UiCtrlWidget(h, c.id);
            ASSERT_NE(w, nullptr) << c.name;
            EXPECT_EQ(w->objectName().toStdString(), c.name);
        }
    }
    const int main = loaded_.front();
    // The added control is one the program never confuses with its own.
    int maxKnown = 0;
    for (int i = 0; i < qvarControlNameCount; ++i)
        if (qvarControlNames[i].panel == PANEL)
            maxKnown = std::max(maxKnown, qvarControlNames[i].id);
    ASSERT_NE(UiCtrlWidget(main, maxKnown + 1), nullptr);
    EXPECT_EQ(UiCtrlWidget(main, maxKnown + 1)->objectName(), "PANEL_EXTRA_NOTE");

    // The trigger level never overlaps the two trigger bits above it.
    const int a = loaded_[2];
    EXPECT_EQ(SetCtrlVal(a, PARA_A_TRIGLEVEL, 20000), 0);
    EXPECT_EQ(val(a, PARA_A_TRIGLEVEL), 16383);

    // Status texts land in the status line, clicks reach the right callback.
    ASSERT_EQ(SetCtrlVal(main, PANEL_STATUS, "Line Ok!"), 0);
    char text[32];
    GetCtrlString(main, PANEL_STATUS, text, sizeof text);
    EXPECT_STREQ(text, "Line Ok!");
    for (int id : {int(PANEL_BTN_RUN), int(PANEL_BTN_DATA)}) {
        seen().clear();
        qobject_cast<QAbstractButton *>(UiCtrlWidget(main, id))->click();
        EXPECT_TRUE(PumpUntil([] { return !seen().empty(); }));
        ASSERT_FALSE(seen().empty());
        EXPECT_EQ(seen().back(), (Seen{main, id, EVENT_COMMIT}));
    }
}

TEST_F(RealFile, AFileWithoutAControlTheProgramKnowsIsRefusedNamingIt)
{
    std::string xml = realUir();
    ASSERT_FALSE(cutWidget(xml, "PANEL_BTN_DATA").empty());
    const std::string file = WriteUir(dir_, "nodata.uir", xml);
    EXPECT_EQ(Load(file, PANEL), UI_ERR_MISSING);
    EXPECT_NE(std::string(LoadPanelError()).find("PANEL_BTN_DATA"), std::string::npos) << LoadPanelError();
    EXPECT_NE(std::string(LoadPanelError()).find("nodata.uir"), std::string::npos) << LoadPanelError();
    // The other panels do not need it.
    EXPECT_GT(Load(file, POPUP), 0);
    EXPECT_STREQ(LoadPanelError(), "");
}

TEST_F(UiTest, NoRegularResourceOrImageFileIsRefusedAtOnce)
{
    const std::string fifo = dir_.filePath("fifo.uir").toStdString();
    const std::string zero = dir_.filePath("zero.uir").toStdString();
    const std::string big = dir_.filePath("big.uir").toStdString();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/zero", zero.c_str()), 0);
    WriteUir(dir_, "big.uir", TestUirXml() + std::string(5 << 20, ' '));

    for (const std::string &name : {fifo, zero, big}) {
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(LoadPanel(0, name.c_str(), T_MAIN), UI_ERR_FILE) << name;
        EXPECT_EQ(DisplayImageFile(main_, T_PIC, name.c_str()), UI_ERR_FILE) << name;
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1)) << name;
        EXPECT_NE(std::string(LoadPanelError()).find(name), std::string::npos) << LoadPanelError();
    }
    EXPECT_NE(std::string(LoadPanelError()).find("larger than"), std::string::npos) << LoadPanelError();
}

TEST_F(UiTest, APictureKindOnAnotherWidgetIsNoLabel)
{
    const std::string xml = TestUirXml();
    const std::string from = "<widget class=\"QLabel\" name=\"MAIN_PIC\">";
    std::string odd = xml;
    odd.replace(odd.find(from), from.size(), "<widget class=\"QPushButton\" name=\"MAIN_PIC\">");
    file_ = WriteUir(dir_, "odd.uir", odd);
    const int h = Load(T_MAIN);
    ASSERT_GT(h, 0) << LoadPanelError();
    char text[16] = "x";
    EXPECT_EQ(GetCtrlString(h, T_PIC, text, sizeof text), 0);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(DisplayImageFile(h, T_PIC, "logo_brand2.bmp"), UI_ERR_CONTROL);
}

} // namespace
