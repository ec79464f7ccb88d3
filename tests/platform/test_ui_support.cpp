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

std::string TestUirXml()
{
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
   <widget class="QPushButton" name="MAIN_BTN">
    <property name="geometry"><rect><x>10</x><y>10</y><width>80</width><height>26</height></rect></property>
    <property name="text"><string>Go</string></property>
    <property name="callback" stdset="0"><string>Ctl</string></property>
   </widget>
   <widget class="QPushButton" name="MAIN_TOG">
    <property name="geometry"><rect><x>100</x><y>10</y><width>80</width><height>26</height></rect></property>
    <property name="checkable"><bool>true</bool></property>
    <property name="callback" stdset="0"><string>Ctl</string></property>
   </widget>
   <widget class="QRadioButton" name="MAIN_RADIO">
    <property name="geometry"><rect><x>190</x><y>10</y><width>80</width><height>26</height></rect></property>
    <property name="callback" stdset="0"><string>Ctl</string></property>
   </widget>
   <widget class="QRadioButton" name="MAIN_RADIO2">
    <property name="geometry"><rect><x>280</x><y>10</y><width>80</width><height>26</height></rect></property>
    <property name="checked"><bool>true</bool></property>
    <property name="callback" stdset="0"><string>Ctl</string></property>
   </widget>
   <widget class="QComboBox" name="MAIN_RING">
    <property name="geometry"><rect><x>10</x><y>50</y><width>100</width><height>26</height></rect></property>
    <property name="values" stdset="0"><string>10,20,30</string></property>
    <property name="callback" stdset="0"><string>Ctl</string></property>
    <item><property name="text"><string>ten</string></property></item>
    <item><property name="text"><string>twenty</string></property></item>
    <item><property name="text"><string>thirty</string></property></item>
   </widget>
   <widget class="QSpinBox" name="MAIN_NUM">
    <property name="geometry"><rect><x>120</x><y>50</y><width>100</width><height>26</height></rect></property>
    <property name="maximum"><number>1000</number></property>
    <property name="value"><number>5</number></property>
    <property name="callback" stdset="0"><string>Ctl</string></property>
   </widget>
   <widget class="QSpinBox" name="MAIN_DISP">
    <property name="geometry"><rect><x>230</x><y>50</y><width>100</width><height>26</height></rect></property>
    <property name="maximum"><number>65535</number></property>
    <property name="readOnly"><bool>true</bool></property>
   </widget>
   <widget class="QLabel" name="MAIN_MSG">
    <property name="geometry"><rect><x>10</x><y>80</y><width>300</width><height>20</height></rect></property>
   </widget>
   <widget class="QWidget" name="MAIN_STRIP">
    <property name="geometry"><rect><x>10</x><y>100</y><width>200</width><height>120</height></rect></property>
    <property name="ctrlKind" stdset="0"><string>stripchart</string></property>
    <property name="traces" stdset="0"><number>2</number></property>
    <property name="pointsPerScreen" stdset="0"><number>10</number></property>
    <property name="yMin" stdset="0"><double>0</double></property>
    <property name="yMax" stdset="0"><double>100</double></property>
   </widget>
   <widget class="QWidget" name="MAIN_GRAPH">
    <property name="geometry"><rect><x>210</x><y>100</y><width>200</width><height>120</height></rect></property>
    <property name="ctrlKind" stdset="0"><string>graph</string></property>
   </widget>
   <widget class="QWidget" name="MAIN_LED">
    <property name="geometry"><rect><x>10</x><y>230</y><width>20</width><height>20</height></rect></property>
    <property name="ctrlKind" stdset="0"><string>led</string></property>
    <property name="onColor" stdset="0"><number>65280</number></property>
   </widget>
   <widget class="QPlainTextEdit" name="MAIN_BOX">
    <property name="geometry"><rect><x>40</x><y>230</y><width>200</width><height>60</height></rect></property>
    <property name="plainText"><string>HEAD</string></property>
   </widget>
   <widget class="QLabel" name="MAIN_PIC">
    <property name="geometry"><rect><x>250</x><y>230</y><width>40</width><height>40</height></rect></property>
    <property name="ctrlKind" stdset="0"><string>picture</string></property>
   </widget>
   <widget class="QFrame" name="MAIN_DECO">
    <property name="geometry"><rect><x>300</x><y>230</y><width>40</width><height>40</height></rect></property>
    <property name="ctrlKind" stdset="0"><string>decoration</string></property>
   </widget>
  </widget>
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
