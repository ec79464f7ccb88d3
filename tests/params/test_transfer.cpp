// The source radio buttons and the send and get commands, with the orders
// they put on the wire.
#define QVAR_HIDE_SYNC
#include "app/app.h"
#include "state/qvar.h"
#include "params/params.h"
#include "platform/clock.h"
#include "platform/files/files.h"
#include "platform/ui/ui.h"
#include "sim/controller.h"
#include "tests/support/program.h"
#include "ui_ids.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace qvar_test;

namespace {

class Transfer : public ProgramTest {
protected:
    static void Send() { CC_BTNSend(panelHandle, PANEL_BTN_SEND, EVENT_LEFT_CLICK, nullptr, 0, 0); }

    // What a user's click on a radio button does to its value, then its callback.
    void Click(int control, CtrlCallbackPtr cb)
    {
        SetCtrlVal(panelHandle, control, Value(panelHandle, control) ? 0 : 1);
        cb(panelHandle, control, EVENT_VAL_CHANGED, nullptr, 0, 0);
    }
};

TEST_F(Transfer, RadioButtonsKeepExactlyOneOnAndFallBackToRam)
{
    EXPECT_EQ(1, Value(panelHandle, PANEL_RBT_RAM));
    Click(PANEL_RBT_EEPROM, CC_RBTEeprom);
    EXPECT_EQ(EEPROM, target);
    EXPECT_EQ(0, Value(panelHandle, PANEL_RBT_RAM));
    EXPECT_EQ(1, Value(panelHandle, PANEL_RBT_EEPROM));
    Click(PANEL_RBT_FILE, CC_RBTFile);
    EXPECT_EQ(DATFILE, target);
    EXPECT_EQ(0, Value(panelHandle, PANEL_RBT_EEPROM));
    Click(PANEL_RBT_FILE, CC_RBTFile);            // clicked while on: back to RAM
    EXPECT_EQ(RAM, target);
    EXPECT_EQ(1, Value(panelHandle, PANEL_RBT_RAM));
    EXPECT_EQ(0, Value(panelHandle, PANEL_RBT_FILE));
    Click(PANEL_RBT_RAM, CC_RBTRam);              // RAM switched off stays RAM
    EXPECT_EQ(RAM, target);
    EXPECT_EQ(1, Value(panelHandle, PANEL_RBT_RAM));
}

TEST_F(Transfer, SendToEepromAsksOnceThenWritesBothChannelsATenthApart)
{
    Click(PANEL_RBT_EEPROM, CC_RBTEeprom);
    SetCtrlVal(panelPARA_A, PARA_A_REF, 600);
    SetCtrlVal(panelPARA_B, PARA_B_REF, 700);

    // Cancelled: nothing goes to the controller.
    AnswerQuestions(0, 0);
    Send();
    PumpFor(0.01);
    EXPECT_EQ(0u, sim->requests_total());
    ASSERT_EQ(1u, QuestionsAsked().size());
    EXPECT_NE(std::string::npos, QuestionsAsked()[0].find("EEPROM of the controller on COM1 - simulated controller"));
    EXPECT_NE(std::string::npos, QuestionsAsked()[0].find("parameter panels"));
    std::vector<std::string> expected = {"Transmit...", "Transmit cancelled - nothing sent"};
    EXPECT_EQ(expected, StatusLog());

    // Confirmed with "Do not ask again": sent, and never asked again.
    AnswerQuestions(1, 1);
    StartStatusLog();
    double t0 = Timer();
    Send();
    double took = Timer() - t0;
    PumpFor(0.01);
    EXPECT_GE(took, 0.1);
    EXPECT_EQ(2u, sim->requests(ORDER_WRITE_EEPROM));
    EXPECT_EQ(0u, sim->requests(ORDER_WRITE_RAM));
    EXPECT_EQ(600, sim->eeprom(0)[2]);
    EXPECT_EQ(700, sim->eeprom(1)[2]);
    expected = {"Transmit...", "Transmit para A OK!", "Transmit para B OK!"};
    EXPECT_EQ(expected, StatusLog());
    Send();
    PumpFor(0.01);
    EXPECT_EQ(4u, sim->requests(ORDER_WRITE_EEPROM));
    EXPECT_EQ(2u, QuestionsAsked().size());
}

TEST_F(Transfer, VerifyAfterSendSaysVerifiedOrNamesTheFirstDifferingWord)
{
    // Off unless the user chose it; the choice is kept for the next start.
    EXPECT_EQ(0, Value(panelHandle, PANEL_CHK_VERIFY));
    Send();
    PumpFor(0.01);
    EXPECT_EQ(0u, sim->requests(ORDER_READ_RAM));
    SetCtrlVal(panelHandle, PANEL_CHK_VERIFY, 1);
    CC_CHKVerifySend(panelHandle, PANEL_CHK_VERIFY, EVENT_VAL_CHANGED, nullptr, 0, 0);
    StopProgram();
    static char name[] = "qvar-test";
    static char *argv[] = {name, nullptr};
    ASSERT_EQ(0, StartUp(1, argv));
    EXPECT_EQ(1, Value(panelHandle, PANEL_CHK_VERIFY));

    // Read back from the memory just written.
    Click(PANEL_RBT_EEPROM, CC_RBTEeprom);
    SetCtrlVal(panelPARA_A, PARA_A_TOL, 90);
    sim->reset_counters();
    StartStatusLog();
    Send();
    EXPECT_EQ(2u, sim->requests(ORDER_WRITE_EEPROM));
    EXPECT_EQ(2u, sim->requests(ORDER_READ_EEPROM));
    EXPECT_EQ(0u, sim->requests(ORDER_READ_RAM));
    EXPECT_EQ("Send verified: the controller holds what was sent", StatusLog().back());

    // A controller that answers otherwise: the first word that differs is named.
    sim->faults.corrupt_word = PB_TOL;
    Click(PANEL_RBT_RAM, CC_RBTRam);
    Send();
    EXPECT_EQ(2u, sim->requests(ORDER_READ_RAM));
    EXPECT_EQ("Verify failed: channel A word 3 (tol): sent 90, the controller holds 65445 (and 1 more)",
              StatusLog().back());
    EXPECT_EQ(90, Value(panelPARA_A, PARA_A_TOL));   // the user's entry stays to be sent again
}

TEST_F(Transfer, SendToRamUsesOrderOneAndOnlyOnThePress)
{
    SetCtrlVal(panelPARA_A, PARA_A_POWER, 123);
    CC_BTNSend(panelHandle, PANEL_BTN_SEND, EVENT_COMMIT, nullptr, 0, 0);
    PumpFor(0.01);
    EXPECT_EQ(0u, sim->requests_total());         // a commit alone sends nothing
    CC_BTNSend(panelHandle, PANEL_BTN_SEND, EVENT_LEFT_CLICK, nullptr, 0, 0);
    PumpFor(0.01);
    EXPECT_EQ(2u, sim->requests(ORDER_WRITE_RAM));
    EXPECT_EQ(123, sim->ram(0)[PB_POWER]);
}

TEST_F(Transfer, GetFromEepromReadsAThenBAndShowsThem)
{
    qvar::sim::Block a = sim->eeprom(0), b = sim->eeprom(1);
    a[1] = 111;
    b[1] = 222;
    b[5] = 33;
    sim->set_eeprom(0, a);
    sim->set_eeprom(1, b);
    Click(PANEL_RBT_EEPROM, CC_RBTEeprom);
    CC_BTNGet(panelHandle, PANEL_BTN_GET, EVENT_LEFT_CLICK, nullptr, 0, 0);
    CC_BTNGet(panelHandle, PANEL_BTN_GET, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_EQ(2u, sim->requests(ORDER_READ_EEPROM));
    EXPECT_EQ(111, powerA);
    EXPECT_EQ(222, powerB);
    EXPECT_EQ(33, hysteresis);
    EXPECT_EQ(222, Value(panelPARA_B, PARA_B_POWER));
    EXPECT_EQ("Receive...", StatusLog().front());
}

TEST_F(Transfer, GetWithoutAnswerPutsTheVariablesBackOnThePanels)
{
    sim->faults.silent = true;
    int kept = powerA;
    SetCtrlVal(panelPARA_A, PARA_A_POWER, kept + 5);  // an edit not sent
    CC_BTNGet(panelHandle, PANEL_BTN_GET, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_EQ(kept, Value(panelPARA_A, PARA_A_POWER));
    EXPECT_EQ(2u, sim->requests(ORDER_READ_RAM));
}

} // namespace
