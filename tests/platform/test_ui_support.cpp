// test_ui_support.cpp - the fixture behind ui_testing.h.
#include "ui_testing.h"
#include "platform/ui/number_display.h"

#include <QFile>

namespace uitest {

std::vector<Seen> &seen()
{
    static std::vector<Seen> s;
    return s;
}

std::string ShownNumber(QWidget *control)
{
    for (QObject *o : control->children())
        if (auto *d = dynamic_cast<qvar::ui::NumberDisplay *>(o))
            return d->text().toStdString();
    return {};
}

int val(int panel, int control)
{
    int v = 0;
    EXPECT_EQ(GetCtrlVal(panel, control, &v), 0) << "control " << control;
    return v;
}

int ctrlAttr(int panel, int control, int attribute)
{
    int v = 0;
    EXPECT_EQ(GetCtrlAttribute(panel, control, attribute, &v), 0) << "control " << control;
    return v;
}

int panelAttr(int panel, int attribute)
{
    int v = 0;
    EXPECT_EQ(GetPanelAttribute(panel, attribute, &v), 0);
    return v;
}

int Record(int panel, int control, int event, void *, int, int)
{
    seen().push_back({panel, control, event});
    return 0;
}

int RecordPanel(int panel, int event, void *, int, int)
{
    seen().push_back({panel, 0, event});
    return 0;
}

void InstallTable()
{
    static const UiCallback table[] = {
        {"Ctl", Record, nullptr},
        {"PanelCb", nullptr, RecordPanel},
    };
    SetCallbackTable(table, 2);
}

namespace {

// A property as Designer writes it; the program's own ones are not Qt's (stdset 0).
std::string Prop(const char *name, const char *type, const std::string &value, bool own = false)
{
    return std::string("    <property name=\"") + name + (own ? "\" stdset=\"0\"><" : "\"><") + type + ">" + value +
           "</" + type + "></property>\n";
}
std::string Own(const char *name, const char *type, const std::string &value) { return Prop(name, type, value, true); }

// A control of the MAIN page: its class, name, place and size, and the rest.
std::string Control(const char *cls, const char *name, int x, int y, int w, int h, const std::string &rest = "")
{
    auto tag = [](const std::string &t, int v) { return "<" + t + ">" + std::to_string(v) + "</" + t + ">"; };
    return std::string("   <widget class=\"") + cls + "\" name=\"" + name + "\">\n    <property name=\"geometry\"><rect>" +
           tag("x", x) + tag("y", y) + tag("width", w) + tag("height", h) + "</rect></property>\n" + rest + "   </widget>\n";
}

} // namespace

std::string TestUirXml()
{
    const std::string cb = Own("callback", "string", "Ctl");
    auto item = [](const std::string &text) {
        return "    <item><property name=\"text\"><string>" + text + "</string></property></item>\n";
    };
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<ui version="4.0">
 <class>T</class>
 <widget class="QTabWidget" name="T">
  <widget class="QWidget" name="MAIN">
   <property name="panelNumber" stdset="0"><number>1</number></property>
   <property name="callback" stdset="0"><string>PanelCb</string></property>
   <property name="title" stdset="0"><string>Test panel</string></property>
   <property name="width" stdset="0"><number>420</number></property>
   <property name="height" stdset="0"><number>360</number></property>
   <widget class="QLabel" name="caption"><property name="text"><string>not a control</string></property></widget>
)" + Control("QPushButton", "MAIN_BTN", 10, 10, 80, 26, Prop("text", "string", "Go") + cb) +
           Control("QPushButton", "MAIN_TOG", 100, 10, 80, 26, Prop("checkable", "bool", "true") + cb) +
           Control("QRadioButton", "MAIN_RADIO", 190, 10, 80, 26, cb) +
           Control("QRadioButton", "MAIN_RADIO2", 280, 10, 80, 26, Prop("checked", "bool", "true") + cb) +
           Control("QComboBox", "MAIN_RING", 10, 50, 100, 26,
                   Own("values", "string", "10,20,30") + cb + item("ten") + item("twenty") + item("thirty")) +
           Control("QSpinBox", "MAIN_NUM", 120, 50, 100, 26,
                   Prop("maximum", "number", "1000") + Prop("value", "number", "5") + cb) +
           Control("QSpinBox", "MAIN_DISP", 230, 50, 100, 26,
                   Prop("maximum", "number", "65535") + Prop("readOnly", "bool", "true")) +
           Control("QLabel", "MAIN_MSG", 10, 80, 300, 20) +
           Control("QWidget", "MAIN_STRIP", 10, 100, 200, 120,
                   Own("ctrlKind", "string", "stripchart") + Own("traces", "number", "2") +
                       Own("pointsPerScreen", "number", "10") + Own("yMin", "double", "0") + Own("yMax", "double", "100")) +
           Control("QWidget", "MAIN_GRAPH", 210, 100, 200, 120, Own("ctrlKind", "string", "graph")) +
           Control("QWidget", "MAIN_LED", 10, 230, 20, 20,
                   Own("ctrlKind", "string", "led") + Own("onColor", "number", "65280")) +
           Control("QPlainTextEdit", "MAIN_BOX", 40, 230, 200, 60, Prop("plainText", "string", "HEAD")) +
           Control("QLabel", "MAIN_PIC", 250, 230, 40, 40, Own("ctrlKind", "string", "picture")) +
           Control("QFrame", "MAIN_DECO", 300, 230, 40, 40, Own("ctrlKind", "string", "decoration")) + R"(  </widget>
  <widget class="QWidget" name="CHILD">
   <property name="panelNumber" stdset="0"><number>7</number></property>
   <property name="width" stdset="0"><number>100</number></property>
   <property name="height" stdset="0"><number>60</number></property>
   <widget class="QSpinBox" name="CHILD_VAL">
    <property name="value"><number>42</number></property>
   </widget>
  </widget>
 </widget>
</ui>
)";
}

std::string WriteUir(const QTemporaryDir &dir, const char *name, const std::string &xml)
{
    const QString path = dir.filePath(QString::fromLatin1(name));
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(xml.data(), qint64(xml.size()));
    return path.toStdString();
}

void UiTest::SetUp()
{
    ASSERT_EQ(InitUserInterface(0, nullptr), 1);
    ASSERT_TRUE(dir_.isValid());
    InstallTable();
    file_ = WriteUir(dir_, "t.uir", TestUirXml());
    main_ = Load(T_MAIN);
    ASSERT_GT(main_, 0);
    seen().clear();
}

void UiTest::TearDown()
{
    for (auto it = loaded_.rbegin(); it != loaded_.rend(); ++it)
        DiscardPanel(*it);   // children may be gone with their parent already
    ProcessSystemEvents();
    seen().clear();
}

int UiTest::Load(int number, int parent)
{
    const int h = LoadPanel(parent, file_.c_str(), number);
    if (h > 0)
        loaded_.push_back(h);
    return h;
}

} // namespace uitest
