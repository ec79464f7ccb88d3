// ui_testing.h - shared fixture of the user-interface tests: a small resource
// file of their own, a callback table that records every event, and the
// pump-driven helpers.
#pragma once

#include "platform/ui/ui.h"
#include "platform/ui/ui_qt.h"
#include "tests/support/pump_until.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace uitest {

// Ids in the test file, in document order from 2.
enum {
    T_MAIN = 1, T_CHILD = 7,
    T_BTN = 2, T_TOG, T_RADIO, T_RADIO2, T_RING, T_NUM, T_DISP, T_MSG, T_STRIP, T_GRAPH, T_LED,
    T_BOX, T_PIC, T_DECO,
    T_CHILD_VAL = 2,
};

struct Seen {
    int panel, control, event;
    bool operator==(const Seen &o) const { return panel == o.panel && control == o.control && event == o.event; }
};
inline std::ostream &operator<<(std::ostream &os, const Seen &s)
{
    return os << "{" << s.panel << "," << s.control << "," << s.event << "}";
}

std::vector<Seen> &seen();
int Record(int panel, int control, int event, void *, int, int);
int RecordPanel(int panel, int event, void *, int, int);

// The test resource file; `body` replaces the MAIN page's controls when set.
std::string WriteUir(const QTemporaryDir &dir, const char *name, const std::string &xml);
std::string TestUirXml();
void InstallTable();

// What a read-only numeric control shows on screen ("" when it shows none).
std::string ShownNumber(QWidget *control);

// Read-backs as plain ints; a failing getter fails the test where it is used.
int val(int panel, int control);
int ctrlAttr(int panel, int control, int attribute);
int panelAttr(int panel, int attribute);

using qvar_test::PumpUntil;

class UiTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    int Load(int number, int parent = 0);
    QWidget *W(int control) const { return UiCtrlWidget(main_, control); }

    QTemporaryDir dir_;
    std::string file_;
    int main_ = 0;
    std::vector<int> loaded_;
};

} // namespace uitest
