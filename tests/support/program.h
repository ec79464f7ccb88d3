// program.h - test support for the subsystems: the program brought up on
// the built-in simulated controller, with the machine's own serial ports and
// the user's pinned links kept out of sight.
#pragma once

#include "tests/support/pump_until.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace qvar::sim { class Controller; }
class QProcess;

namespace qvar_test {

// Points the port scan at empty folders and XDG_CONFIG_HOME at a fresh one,
// so the simulated controller is port 1 and no real device is ever touched.
void IsolatePorts();

// The built-in controller, unpaced, seed 1, no faults, counters cleared,
// factory memory.
qvar::sim::Controller &FreshSim();

// Start-up as the program does it, without the event loop; false if the
// panels could not be loaded. StopProgram is the shutdown. Each start has no
// kept choices, and its questions (ConfirmPopup) are answered by the test:
// "go ahead" unless AnswerQuestions says otherwise.
bool StartProgram();
void StopProgram();

// How the next questions are answered (1 go ahead, 0 cancel; whether "Do not
// ask again" is ticked), and the questions asked since the start, oldest first.
void AnswerQuestions(int answer, int dontAskAgain);
std::vector<std::string> QuestionsAsked();

void PumpFor(double seconds);

// Runs `fn` once, from the event pump, after `seconds` (or as soon as
// `when` holds, polled every millisecond). Used to press Stop inside a loop.
void After(double seconds, std::function<void()> fn);
void When(std::function<bool()> when, std::function<void()> fn, double giveUpAfter = 10.0);

// Runs `fn` at every pump until CancelEveryPump(id).
int  EveryPump(std::function<void()> fn);
void CancelEveryPump(int id);

// What a user does with the mouse: a left click in the middle of a control,
// and the close box of a panel's window. Deliver these from the pump (from
// After/When callbacks) as a user's input would be.
void Click(int panel, int control);
void CloseWindow(int panel);

// Status texts shown in the main panel's status line since the last call,
// oldest first (the status control's every change is recorded).
void StartStatusLog();
std::vector<std::string> StatusLog();

// What a control shows: its integer value, an attribute, whether it is
// dimmed or visible (a read that fails fails the test), and the main panel's
// status line as it reads now.
int  Value(int panel, int control);
bool Dimmed(int panel, int control);
bool Visible(int panel, int control);
int  Attribute(int panel, int control, int attribute);
int  PanelAttribute(int panel, int attribute);
std::string StatusLine();

// Whether assistive technology reads what a control shows, as Qt's
// accessibility interface of the control's widget gives it: the value the
// program set last (pushed to the screen first) and its text, the number or
// "on"/"off" for a lamp.
::testing::AssertionResult HeardAsShown(int panel, int control);

// The folder of pinned-port links under the test's XDG_CONFIG_HOME.
std::string PortsDir();

// Makes the running program use port `number`, after a rescan so that a pin
// made since start-up is seen.
void UsePort(int number);

// qvar-sim beside the tests serving port `number` with `args`; the path of
// its terminal, or "" if it did not start.
std::string StartQvarSim(QProcess &server, int number, const std::vector<std::string> &args);

// A temporary folder for the test's files.
std::string TempDir();

// A test with the program up on a fresh simulated controller: the start
// exchange done, the controller's counters cleared after it, and every
// status text from then on in StatusLog().
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    qvar::sim::Controller *sim = nullptr;
};

} // namespace qvar_test
