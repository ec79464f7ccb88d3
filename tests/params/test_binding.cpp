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
    inputs = 0x0101;
    SetPanelDATA();
    EXPECT_EQ(1000, Value(panelHandle, PANEL_NORM_A));
    EXPECT_EQ(65535, Value(panelHandle, PANEL_NORM_B));
    EXPECT_EQ(4095, Value(panelHandle, PANEL_RAW_A));
    EXPECT_EQ(1, Value(panelHandle, PANEL_RAW_B));
    EXPECT_EQ(3100, Value(panelHandle, PANEL_BMAX));
    EXPECT_EQ(900, Value(panelHandle, PANEL_MAXVAL_A));
    EXPECT_EQ(100, Value(panelHandle, PANEL_MINVAL_A));
    EXPECT_EQ(200, Value(panelHandle, PANEL_MINVAL_B));
    EXPECT_EQ(50, Value(panelHandle, PANEL_TOLVAL));
    EXPECT_EQ(1, Value(panelHandle, PANEL_LED_IN1));
    EXPECT_EQ(1, Value(panelHandle, PANEL_LED_IN2));

    inputs = 3;                                   // not one of the four: LEDs unchanged
    SetPanelDATA();
    EXPECT_EQ(1, Value(panelHandle, PANEL_LED_IN1));
    EXPECT_EQ(1, Value(panelHandle, PANEL_LED_IN2));

    inputs = 0x0100;
    SetPanelDATA();
    EXPECT_EQ(0, Value(panelHandle, PANEL_LED_IN1));
    EXPECT_EQ(1, Value(panelHandle, PANEL_LED_IN2));

    inputs = 0;
    SetPanelDATA();
    EXPECT_EQ(0, Value(panelHandle, PANEL_LED_IN2));
}

} // namespace
