// Teach, reset and refresh, and the curve block reads, against the simulated
// controller.
#define QVAR_HIDE_SYNC
#include "state/qvar.h"
#include "link/com232.h"
#include "params/params.h"
#include "platform/clock.h"
#include "platform/serial/serial.h"
#include "platform/ui/ui.h"
#include "sim/controller.h"
#include "tests/support/program.h"
#include "ui_ids.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace qvar_test;

namespace {

class Commands : public ProgramTest {};

TEST_F(Commands, TeachAnsweredReadsChannelABackOntoThePanels)
{
    // The panel holds values the controller does not: teach sends them, the
    // controller teaches its own reference, and the read-back brings that.
    SetCtrlVal(panelPARA_A, PARA_A_POWER, 321);
    SetCtrlVal(panelPARA_A, PARA_A_REF, 1000);
    CC_ButtonTeach(panelHandle, PANEL_BTN_TEACH, EVENT_LEFT_CLICK, nullptr, 0, 0);
    CC_ButtonTeach(panelHandle, PANEL_BTN_TEACH, EVENT_COMMIT, nullptr, 0, 0);

    std::vector<std::string> expected = {
        "Teach new Reference-Value ...", "Line Ok!", "New setpoint value teached!",
        "Waiting for parameter-frame ...", "Parameter-frame received! - Line Ok!",
    };
    EXPECT_EQ(expected, StatusLog());
    EXPECT_EQ(1u, sim->requests(ORDER_TEACH));
    EXPECT_EQ(1u, sim->requests(ORDER_READ_RAM));
    const int taught = sim->ram(0)[PB_REF];
    ASSERT_NE(1000, taught);
    EXPECT_EQ(taught, refA);
    EXPECT_EQ(sim->ram(0)[PB_POWER], powerA);
    // Taught in RAM only: the EEPROM and channel B keep the factory reference.
    EXPECT_EQ(qvar::sim::Controller::factory_block(0)[PB_REF], sim->eeprom(0)[PB_REF]);
    EXPECT_EQ(qvar::sim::Controller::factory_block(1)[PB_REF], sim->ram(1)[PB_REF]);

    // The panels show what was read back, so the next Send keeps the taught
    // reference instead of writing the old one over it.
    EXPECT_EQ(taught, Value(panelPARA_A, PARA_A_REF));
    EXPECT_EQ(powerA, Value(panelPARA_A, PARA_A_POWER));
    CC_BTNSend(panelHandle, PANEL_BTN_SEND, EVENT_LEFT_CLICK, nullptr, 0, 0);
    PumpFor(0.01);
    EXPECT_EQ(2u, sim->requests(ORDER_WRITE_RAM));
    EXPECT_EQ(taught, sim->ram(0)[PB_REF]);
}

TEST_F(Commands, ResetOnSilentControllerTimesOut)
{
    sim->faults.silent = true;
    double t0 = Timer();
    CC_ButtonReset(panelHandle, PANEL_BTN_RESET, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_GT(Timer() - t0, 1.45);
    std::vector<std::string> expected = {"Line Ok!", "Timeout RS-232!!"};
    EXPECT_EQ(expected, StatusLog());
    EXPECT_EQ(0u, sim->requests(ORDER_READ_RAM));
}

TEST_F(Commands, RefreshAnsweredButReadBackSilentIsATimeout)
{
    sim->faults.mute = {ORDER_READ_RAM};
    const int panelPower = Value(panelPARA_A, PARA_A_POWER);
    CC_ButtonRefresh(panelHandle, PANEL_BTN_REFRESH, EVENT_COMMIT, nullptr, 0, 0);
    std::vector<std::string> expected = {"Line Ok!", "Waiting for parameter-frame ...",
                                         "Timeout-RS-232...", "Timeout RS-232!!"};
    EXPECT_EQ(expected, StatusLog());
    EXPECT_EQ(1u, sim->requests(ORDER_REFRESH));
    EXPECT_EQ(panelPower, powerA);                // the panel values taken for the request
}

TEST_F(Commands, ResetReloadsRamFromEeprom)
{
    qvar::sim::Block changed = sim->ram(0);
    changed[2] = 999;
    sim->set_ram(0, changed);
    CC_ButtonReset(panelHandle, PANEL_BTN_RESET, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_EQ(sim->eeprom(0)[2], refA);
    EXPECT_NE(999, refA);
}

TEST_F(Commands, OtherEventsLeaveTheLineAlone)
{
    CC_ButtonReset(panelHandle, PANEL_BTN_RESET, EVENT_LEFT_CLICK, nullptr, 0, 0);
    CC_ButtonRefresh(panelHandle, PANEL_BTN_REFRESH, EVENT_VAL_CHANGED, nullptr, 0, 0);
    CC_ButtonTeach(panelHandle, PANEL_BTN_TEACH, EVENT_VAL_CHANGED, nullptr, 0, 0);
    PumpFor(0.02);
    EXPECT_EQ(0u, sim->requests_total());
    EXPECT_TRUE(StatusLog().empty());
}

class CurveBlocks : public Commands {
protected:
    void SetUp() override
    {
        Commands::SetUp();
        // As the data curve does: the block reads take the answers themselves.
        InstallComCallback(com, 0, 36, 0x55, nullptr, nullptr);
        for (int i = 0; i < 256; i++)
            yArrayA[i] = yArrayB[i] = 7;   // what a read must keep or overwrite
    }
};

TEST_F(CurveBlocks, ChannelBSourceLandsInCurveB)
{
    EXPECT_EQ(0, ReadData256(1, 5, 9));
    const unsigned char request[36] = {0x00, 0x55, 0x00, 0x09, 0x00, 0x00, 0x00, 0x05};   // zeros behind
    EXPECT_EQ(0, memcmp(szWriteBuf, request, sizeof request));
    auto curve = sim->curve(5);
    for (int i = 0; i < 16; i++)
        EXPECT_EQ(curve[i], yArrayB[i]) << i;
    EXPECT_EQ(7, yArrayA[0]);
    EXPECT_EQ(7, yArrayB[16]);
    EXPECT_STREQ("Waiting for data package 1 ... received!", szStatus);
}

TEST_F(CurveBlocks, SourceNineStoresNothing)
{
    EXPECT_EQ(0, ReadData256(2, 9, 9));
    for (int i = 0; i < 128; i++) {
        ASSERT_EQ(7, yArrayA[i]);
        ASSERT_EQ(7, yArrayB[i]);
    }
}

TEST_F(CurveBlocks, TimeoutClearsBothCurves)
{
    sim->faults.mute = {ORDER_CURVE_BLOCK};
    EXPECT_EQ(-1, ReadData256(3, 0, 9));
    EXPECT_STREQ("Timeout while reading data package!", szStatus);
    for (int i = 0; i < 128; i++) {
        ASSERT_EQ(0, yArrayA[i]);
        ASSERT_EQ(0, yArrayB[i]);
    }
    EXPECT_EQ(7, yArrayA[200]);                   // beyond the curve: untouched
}

TEST_F(CurveBlocks, MoreThanOneAnswerQueuedStoresNothingButGoesOn)
{
    sim->faults.surplus = 10;
    EXPECT_EQ(0, ReadData256(1, 0, 9));
    EXPECT_EQ(46, nBytesR);
    EXPECT_EQ(7, yArrayA[0]);
    EXPECT_STREQ("Waiting for data package 1 ...", szStatus);
}

} // namespace
