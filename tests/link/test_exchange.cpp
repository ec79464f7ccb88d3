// The start exchange, parameter reads and the firmware query against the
// built-in simulated controller, with its fault knobs.
#define QVAR_HIDE_SYNC
#include "app/app.h"
#include "state/qvar.h"
#include "link/com232.h"
#include "platform/clock.h"
#include "platform/ui/ui.h"
#include "sim/controller.h"
#include "tests/support/program.h"
#include "ui_ids.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using qvar::sim::Faults;
using namespace qvar_test;

namespace {

class Exchange : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim = &FreshSim();
        StartStatusLog();
    }
    void TearDown() override
    {
        SetStatusListener(nullptr);
        StopProgram();
    }
    qvar::sim::Controller *sim = nullptr;
};

TEST_F(Exchange, StartReadsBothChannelsAndShowsFirmwareText)
{
    ASSERT_TRUE(StartProgram());

    std::string fw = sim->firmware_line().substr(0, 71);
    std::vector<std::string> expected = {
        "InitVars",
        "Echo Check - Line Ok!",
        "Waiting for parameter-frame ...", "Parameter-frame received! - Line Ok!",
        "Waiting for parameter-frame ...", "Parameter-frame received! - Line Ok!",
        "Waiting for firmware info ...", fw, fw,
    };
    EXPECT_EQ(expected, StatusLog());
    EXPECT_EQ(fw, StatusLine());

    EXPECT_EQ(1u, sim->requests(ORDER_ECHO));
    EXPECT_EQ(2u, sim->requests(ORDER_READ_RAM));
    EXPECT_EQ(1u, sim->requests(ORDER_FIRMWARE));
    EXPECT_EQ(sim->requests_total(), 4u);

    // The controller's RAM, not the panels' initial values, now rules both
    // the variables and the panels.
    EXPECT_EQ(sim->ram(0)[PB_REF], refA);
    EXPECT_EQ(sim->ram(1)[PB_TOL], tolB);
    EXPECT_EQ(refA, Value(panelPARA_A, PARA_A_REF));
    EXPECT_EQ(triglvlA & 0x3FFF, Value(panelPARA_A, PARA_A_TRIGLEVEL));
    EXPECT_EQ(triglvlA & 0xC000, Value(panelPARA_A, PARA_A_TRIGBITS));
    EXPECT_EQ(RAM, target);
    EXPECT_EQ(0, rx_flag);
}

TEST_F(Exchange, EchoWordMustBeExactly00AA)
{
    sim->faults.echo_word = 0x01AA;
    ASSERT_TRUE(StartProgram());
    EXPECT_EQ("read error - not sync byte 0xAA!", StatusLine());
    EXPECT_EQ(0u, sim->requests(ORDER_READ_RAM));
}

TEST_F(Exchange, SurplusBytesBehindFramesAreDiscarded)
{
    sim->faults.surplus = 4;                      // 40 bytes per answer
    ASSERT_TRUE(StartProgram());
    EXPECT_EQ(sim->ram(0)[PB_POWER], powerA);
    EXPECT_EQ(sim->ram(1)[PB_POWER], powerB);
    // Reading once more works on a clean queue.
    sim->set_ram(1, qvar::sim::Block{1, 77, 78, 79, 80, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15});
    PushGET(RAM, 1);
    EXPECT_EQ(77, powerB);
    EXPECT_EQ(78, refB);
}

TEST_F(Exchange, ShortFirmwareTextIsAnError)
{
    sim->faults.firmware = Faults::Firmware::short_text;
    ASSERT_TRUE(StartProgram());
    std::vector<std::string> log = StatusLog();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ("Timeout - reading firmware info!", log[log.size() - 2]);
    EXPECT_EQ("Error reading firmware-info!", log.back());
}

TEST_F(Exchange, UnterminatedFirmwareTextShowsItsFirst71Characters)
{
    sim->faults.firmware = Faults::Firmware::unterminated;
    ASSERT_TRUE(StartProgram());
    std::string shown = StatusLine();
    EXPECT_EQ(71u, shown.size());
    EXPECT_EQ(0, rx_flag);
}

TEST_F(Exchange, OverlongFirmwareAnswerKeepsThePreviousText)
{
    sim->faults.firmware = Faults::Firmware::long_text;
    ASSERT_TRUE(StartProgram());
    // 80 bytes queued: not the 72 of a text, yet enough to count as answered.
    EXPECT_EQ("Echo Check - Line Ok!", StatusLine());
    EXPECT_EQ(80, nBytesR);
}

// A read that gets no answer says so where the user looks, and leaves the
// variables alone. Answers that come too late for their read reach neither
// the variables of that read nor the firmware text behind them.
TEST_F(Exchange, UnansweredReadsSaySoAndLateFramesAreNoFirmwareText)
{
    ASSERT_TRUE(StartProgram());
    sim->faults.mute = {ORDER_READ_RAM};
    int before = refB;
    sim->set_ram(1, qvar::sim::Block{1, 9, 999, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9});
    StartStatusLog();
    double t0 = Timer();
    PushGET(RAM, 1);
    EXPECT_GT(Timer() - t0, 1.4);
    EXPECT_EQ(before, refB);
    const std::vector<std::string> timedOut = {"Waiting for parameter-frame ...", "Timeout-RS-232..."};
    EXPECT_EQ(timedOut, StatusLog());
    EXPECT_EQ("Timeout-RS-232...", StatusLine());

    // Every answer 1.6 s late: the reads run out and their frames come in
    // while the firmware text is awaited.
    sim->faults = Faults{};
    sim->set_paced(true);
    sim->faults.delay = 1.6;
    StartOutcome outcome;
    StartLink(com, &outcome);
    EXPECT_EQ(1, outcome.echoOk);
    EXPECT_EQ(0, outcome.readA);
    EXPECT_EQ(1, outcome.firmwareOk);
    EXPECT_EQ(sim->firmware_line().substr(0, 71), StatusLine());
}

TEST_F(Exchange, DatfileSourceSendsNothing)
{
    ASSERT_TRUE(StartProgram());
    sim->reset_counters();
    int before = powerA;
    PushGET(DATFILE, 0);
    ProcessSystemEvents();
    EXPECT_EQ(0u, sim->requests_total());
    EXPECT_EQ(before, powerA);
}

TEST_F(Exchange, PortThatDoesNotExistShowsItsText)
{
    ASSERT_TRUE(StartProgram());
    InitRS232(200);
    EXPECT_EQ("No serial port found", StatusLine());
    InitRS232(0);
    EXPECT_EQ("Invalid port number", StatusLine());
}

} // namespace
