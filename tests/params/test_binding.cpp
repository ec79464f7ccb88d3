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

using namespace qvar_test;

namespace {

class Binding : public ::testing::Test {
protected:
    void SetUp() override
    {
        FreshSim().faults.silent = false;
        ASSERT_TRUE(StartProgram());
    }
    void TearDown() override { StopProgram(); }
    int Get(int panel, int control)
    {
        int v = -1;
        GetCtrlVal(panel, control, &v);
        return v;
    }
};

TEST_F(Binding, TriggerWordSplitsIntoSelectorAndLevelAndJoinsBack)
{
    triglvlA = 0xC123;
    triglvlB = 0x4000;
    SetPanelValues();
    EXPECT_EQ(0xC000, Get(panelPARA_A, PARA_A_TRIGBITS));
    EXPECT_EQ(0x0123, Get(panelPARA_A, PARA_A_TRIGLEVEL));
    EXPECT_EQ(0x4000, Get(panelPARA_B, PARA_B_TRIGBITS));
    EXPECT_EQ(0, Get(panelPARA_B, PARA_B_TRIGLEVEL));
    triglvlA = triglvlB = 0;
    GetPanelValues();
    EXPECT_EQ(0xC123, triglvlA);
    EXPECT_EQ(0x4000, triglvlB);
}

TEST_F(Binding, EveryVariableRoundTripsThroughItsOwnControl)
{
    // Distinct values everywhere, so a swapped pair of controls shows.
    int32_t *vars[] = {&powerA, &powerB, &refA, &refB, &tolA, &tolB, &pretriggerA, &pretriggerB,
                       &hysteresis, &hwmode, &average, &polarity, &hold, &evalmode, &trigmode,
                       &outmode, &anamode};
    int v = 101;
    for (int32_t *p : vars)
        *p = v++;
    SetPanelValues();
    EXPECT_EQ(101, Get(panelPARA_A, PARA_A_POWER));
    EXPECT_EQ(102, Get(panelPARA_B, PARA_B_POWER));
    EXPECT_EQ(108, Get(panelPARA_B, PARA_B_PRETRIGGER));
    EXPECT_EQ(109, Get(panelPARA_C, PARA_C_HYSTERESIS));
    EXPECT_EQ(117, Get(panelPARA_C, PARA_C_ANAMODE));
    for (int32_t *p : vars)
        *p = 0;
    GetPanelValues();
    v = 101;
    for (int32_t *p : vars)
        EXPECT_EQ(v++, *p);
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
    EXPECT_EQ(1000, Get(panelHandle, PANEL_NORM_A));
    EXPECT_EQ(65535, Get(panelHandle, PANEL_NORM_B));
    EXPECT_EQ(4095, Get(panelHandle, PANEL_RAW_A));
    EXPECT_EQ(1, Get(panelHandle, PANEL_RAW_B));
    EXPECT_EQ(3100, Get(panelHandle, PANEL_BMAX));
    EXPECT_EQ(900, Get(panelHandle, PANEL_MAXVAL_A));
    EXPECT_EQ(100, Get(panelHandle, PANEL_MINVAL_A));
    EXPECT_EQ(200, Get(panelHandle, PANEL_MINVAL_B));
    EXPECT_EQ(50, Get(panelHandle, PANEL_TOLVAL));
    EXPECT_EQ(1, Get(panelHandle, PANEL_LED_IN1));
    EXPECT_EQ(1, Get(panelHandle, PANEL_LED_IN2));

    inputs = 3;                                   // not one of the four: LEDs unchanged
    SetPanelDATA();
    EXPECT_EQ(1, Get(panelHandle, PANEL_LED_IN1));
    EXPECT_EQ(1, Get(panelHandle, PANEL_LED_IN2));

    inputs = 0x0100;
    SetPanelDATA();
    EXPECT_EQ(0, Get(panelHandle, PANEL_LED_IN1));
    EXPECT_EQ(1, Get(panelHandle, PANEL_LED_IN2));

    inputs = 0;
    SetPanelDATA();
    EXPECT_EQ(0, Get(panelHandle, PANEL_LED_IN2));
}

} // namespace
