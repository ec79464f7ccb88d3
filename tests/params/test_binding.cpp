// The bridge between the parameter panels and the variables, and the live
// displays of the main panel.
#define QVAR_HIDE_SYNC
#include "state/qvar.h"
#include "params/params.h"
#include "platform/ui/ui.h"
#include "sim/controller.h"
#include "tests/support/program.h"
#include "ui_ids.h"

#include <gtest/gtest.h>

#include <tuple>
#include <utility>
#include <vector>

using namespace qvar_test;

namespace {

class Binding : public ProgramTest {};

TEST_F(Binding, TriggerWordSplitsIntoSelectorAndLevelAndJoinsBack)
{
    triglvlA = 0xC123;
    triglvlB = 0x4000;
    SetPanelValues();
    EXPECT_EQ(0xC000, Value(panelPARA_A, PARA_A_TRIGBITS));
    EXPECT_EQ(0x0123, Value(panelPARA_A, PARA_A_TRIGLEVEL));
    EXPECT_EQ(0x4000, Value(panelPARA_B, PARA_B_TRIGBITS));
    EXPECT_EQ(0, Value(panelPARA_B, PARA_B_TRIGLEVEL));
    triglvlA = triglvlB = 0;
    GetPanelValues();
    EXPECT_EQ(0xC123, triglvlA);
    EXPECT_EQ(0x4000, triglvlB);
}

TEST_F(Binding, EveryControlShowsItsOwnVariableAndReadsBackIntoIt)
{
    // Distinct values everywhere, so a control bound to the wrong variable
    // (or two controls to one) shows.
    struct { int *panel; int control; int32_t *var; } controls[] = {
        {&panelPARA_A, PARA_A_POWER, &powerA},         {&panelPARA_B, PARA_B_POWER, &powerB},
        {&panelPARA_A, PARA_A_REF, &refA},             {&panelPARA_B, PARA_B_REF, &refB},
        {&panelPARA_A, PARA_A_TOL, &tolA},             {&panelPARA_B, PARA_B_TOL, &tolB},
        {&panelPARA_A, PARA_A_PRETRIGGER, &pretriggerA}, {&panelPARA_B, PARA_B_PRETRIGGER, &pretriggerB},
        {&panelPARA_C, PARA_C_HYSTERESIS, &hysteresis}, {&panelPARA_C, PARA_C_HWMODE, &hwmode},
        {&panelPARA_C, PARA_C_AVERAGE, &average},      {&panelPARA_C, PARA_C_POLARITY, &polarity},
        {&panelPARA_C, PARA_C_HOLD, &hold},            {&panelPARA_C, PARA_C_EVALMODE, &evalmode},
        {&panelPARA_C, PARA_C_TRIGMODE, &trigmode},    {&panelPARA_C, PARA_C_OUTMODE, &outmode},
        {&panelPARA_C, PARA_C_ANAMODE, &anamode},
    };
    static_assert(sizeof controls / sizeof controls[0] == 17, "every parameter control");
    std::vector<int> chosen;
    for (auto &c : controls) {
        chosen.push_back(101 + (int)chosen.size());
        *c.var = chosen.back();
        SetCtrlVal(*c.panel, c.control, 0);
    }

    SetPanelValues();
    for (size_t i = 0; i < chosen.size(); i++)
        EXPECT_EQ(chosen[i], Value(*controls[i].panel, controls[i].control)) << "control " << i;
    for (auto &c : controls)
        *c.var = -1;
    GetPanelValues();
    for (size_t i = 0; i < chosen.size(); i++)
        EXPECT_EQ(chosen[i], *controls[i].var) << "variable " << i;
}

TEST_F(Binding, ReadingPanelsLeavesScantimeAndReadsHiddenPanels)
{
    scantime = 77;
    HidePanel(panelPARA_B);
    SetCtrlVal(panelPARA_B, PARA_B_TOL, 333);
    GetPanelValues();
    EXPECT_EQ(77, scantime);
    EXPECT_EQ(333, tolB);
}

TEST_F(Binding, LiveDisplaysAndInputLeds)
{
    valNORMA = 1000; valNORMB = 65535; adcCHA = 4095; adcCHB = 1; Amax = 3000; Bmax = 3100;
    MAXvalA = 900; MINvalA = 100; MAXvalB = 800; MINvalB = 200; tolval = 50;
    SetPanelDATA();
    for (const auto &[control, shown] :
         {std::pair{PANEL_NORM_A, 1000}, {PANEL_NORM_B, 65535}, {PANEL_RAW_A, 4095}, {PANEL_RAW_B, 1},
          {PANEL_BMAX, 3100}, {PANEL_MAXVAL_A, 900}, {PANEL_MINVAL_A, 100}, {PANEL_MINVAL_B, 200},
          {PANEL_TOLVAL, 50}})
        EXPECT_EQ(shown, Value(panelHandle, control)) << "control " << control;

    // 3 is not one of the four input words: the lamps stay as they were.
    for (const auto &[word, in1, in2] :
         {std::tuple{0x0101, 1, 1}, {3, 1, 1}, {0x0100, 0, 1}, {0, 0, 0}}) {
        inputs = word;
        SetPanelDATA();
        EXPECT_EQ(in1, Value(panelHandle, PANEL_LED_IN1)) << "inputs " << word;
        EXPECT_EQ(in2, Value(panelHandle, PANEL_LED_IN2)) << "inputs " << word;
    }
}

} // namespace
