// Parameter files: saving from the panels, loading into the variables, and
// what a bad file does (nothing, and says so).
#define QVAR_HIDE_SYNC
#include "app/app.h"
#include "state/qvar.h"
#include "link/com232.h"
#include "params/params.h"
#include "platform/clock.h"
#include "platform/files/files.h"
#include "platform/ui/ui.h"
#include "sim/controller.h"
#include "tests/support/file_dialog.h"
#include "tests/support/process.h"
#include "tests/support/program.h"
#include "ui_ids.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using namespace qvar_test;

namespace {

// 32 lines of numbers: A block then B block, `lineEnd` after each.
std::string FileOf(const uint32_t (&words)[32], const char *lineEnd = "\n")
{
    std::string s;
    for (uint32_t w : words)
        s += "  " + std::to_string(w) + lineEnd;
    return s;
}

class ParaFile : public ProgramTest {
protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        dir = TempDir();
        chosenPath = dir + "/set.cfg";
        Dialog().result = 2;
        // As the save dialog leaves it.
        CopyText(file_name, sizeof file_name, chosenPath.c_str());
    }
    AnsweredDialogs dialogs;
    std::string &chosenPath = Dialog().path;
    std::string dir;
};

TEST_F(ParaFile, SaveWritesBothBlocksOnePerLineInFiveCharacterFields)
{
    SendParaToFile();
    std::string text = ReadAll(chosenPath);
    EXPECT_EQ("    0\n", text.substr(0, 6));     // right-aligned, as other programs read it
    std::istringstream lines(text);
    std::string line;
    int n = 0;
    uint32_t w[32] = {};
    while (std::getline(lines, line)) {
        ASSERT_LT(n, 32);
        EXPECT_EQ(5u, line.size()) << "line " << n << ": '" << line << "'";
        w[n++] = std::stoul(line);
    }
    EXPECT_EQ(32, n);
    EXPECT_EQ(0u, w[0]);
    EXPECT_EQ(1u, w[16]);
    EXPECT_EQ((uint32_t)powerA, w[1]);
    EXPECT_EQ((uint32_t)powerB, w[17]);
    for (int i = 5; i <= 14; i++)
        EXPECT_EQ(w[i], w[16 + i]) << "common word " << i;
}

TEST_F(ParaFile, SaveThenLoadRestoresEveryVariableAndSaysSo)
{
    SetCtrlVal(panelPARA_A, PARA_A_POWER, 65535);
    SetCtrlVal(panelPARA_B, PARA_B_REF, 4321);
    SetCtrlVal(panelPARA_C, PARA_C_TRIGMODE, 3);
    StartStatusLog();
    SendParaToFile();
    powerA = refB = trigmode = 0;
    ReadParaFromFile();
    EXPECT_EQ(StatusLog(), (std::vector<std::string>{"Parameter file saved - set.cfg",
                                                     "Parameter file loaded - set.cfg"}));
    EXPECT_EQ(65535, powerA);
    EXPECT_EQ(4321, refB);
    EXPECT_EQ(3, trigmode);
    EXPECT_EQ(FILE_BUTTON_LOAD, Dialog().buttonStyle);
    EXPECT_EQ("Q-VAR-RDX3 Parameter File", Dialog().title);
    EXPECT_EQ("*.cfg", Dialog().filter);
    EXPECT_EQ("RDX3para.cfg", Dialog().defaultName);
    EXPECT_EQ(chosenPath, std::string(file_name));

    // Sending the loaded set to the EEPROM names the file it came from, until
    // the panels show what the controller read back.
    const auto choose = [](int control, auto callback) {
        SetCtrlVal(panelHandle, control, 1);
        callback(panelHandle, control, EVENT_VAL_CHANGED, nullptr, 0, 0);
    };
    const auto send = [] { CC_BTNSend(panelHandle, PANEL_BTN_SEND, EVENT_LEFT_CLICK, nullptr, 0, 0); };
    choose(PANEL_RBT_FILE, CC_RBTFile);
    CC_BTNGet(panelHandle, PANEL_BTN_GET, EVENT_COMMIT, nullptr, 0, 0);
    choose(PANEL_RBT_EEPROM, CC_RBTEeprom);
    AnswerQuestions(0, 0);
    send();
    CC_ButtonTeach(panelHandle, PANEL_BTN_TEACH, EVENT_COMMIT, nullptr, 0, 0);
    send();
    const std::vector<std::string> asked = QuestionsAsked();
    ASSERT_EQ(2u, asked.size());
    EXPECT_NE(std::string::npos, asked[0].find("(loaded from " + chosenPath + ")")) << asked[0];
    EXPECT_EQ(std::string::npos, asked[1].find("loaded from")) << asked[1];
}

TEST_F(ParaFile, HalvesLoadByPositionAndBsCommonValuesWin)
{
    uint32_t w[32];
    for (int i = 0; i < 32; i++)
        w[i] = 1000 + i;
    w[0] = 1;                                     // channel words swapped
    w[16] = 0;
    w[5] = 20;                                    // hysteresis in the A half ...
    w[21] = 30;                                   // ... and in the B half
    w[17] = 65535;
    WriteText(chosenPath, FileOf(w, "\r\n"));
    ReadParaFromFile();
    EXPECT_EQ(1001, powerA);
    EXPECT_EQ(65535, powerB);
    EXPECT_EQ(30, hysteresis);
    EXPECT_EQ(1015, pretriggerA);
    EXPECT_EQ(1031, pretriggerB);
}

// Get from a file that is not exactly 32 numbers of 16 bits changes no
// variable and names the file and the place; qvar-cli refuses the same files.
TEST_F(ParaFile, GetRefusesAnythingButThirtyTwoSixteenBitNumbers)
{
    uint32_t w[32];
    std::fill(std::begin(w), std::end(w), 5u);
    const std::string full = FileOf(w);
    w[17] = 70000;
    const std::string wide = FileOf(w);

    const std::string prefix = "Cannot load parameter file! - set.cfg: ";
    struct Case { std::string content, text; } cases[] = {
        {wide, "line 18: number 18 (70000) is above 65535"},
        {full + "  5\n", "line 33: a 33rd number (5), a parameter file holds 32"},
        {full + "\r\n\r\n  # saved by hand\n", "line 35: text after the 32nd number (#)"},
        {full.substr(0, full.size() / 2), "holds fewer than 32 numbers (16)"},
        {"  12\n  abc\n" + full, "line 2: number 2 (abc) is not a number"},
    };
    target = DATFILE;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        WriteText(chosenPath, c.content);
        powerA = powerB = 4242;
        hysteresis = 4343;
        SetPanelValues();
        StartStatusLog();
        CC_BTNGet(panelHandle, PANEL_BTN_GET, EVENT_LEFT_CLICK, nullptr, 0, 0);
        CC_BTNGet(panelHandle, PANEL_BTN_GET, EVENT_COMMIT, nullptr, 0, 0);
        EXPECT_EQ(4242, powerA);
        EXPECT_EQ(4242, powerB);
        EXPECT_EQ(4343, hysteresis);
        EXPECT_EQ(4242, Value(panelPARA_B, PARA_B_POWER));
        EXPECT_EQ(StatusLog(), (std::vector<std::string>{"Receive...", prefix + c.text}));
    }

    chosenPath = dir + "/missing.cfg";
    StartStatusLog();
    ReadParaFromFile();
    EXPECT_EQ(4242, powerA);
    EXPECT_EQ(StatusLog(), std::vector<std::string>{"Cannot load parameter file! - missing.cfg: not a readable regular file"});
}

TEST_F(ParaFile, CancelledLoadChangesNothing)
{
    Dialog().result = 0;
    powerA = 1234;
    ReadParaFromFile();
    EXPECT_EQ(1234, powerA);
    EXPECT_TRUE(StatusLog().empty());
}

TEST_F(ParaFile, SaveReplacesAnExistingFileAndReportsAFailedWrite)
{
    WriteText(chosenPath, std::string(4000, 'x'));
    SendParaToFile();
    EXPECT_EQ(32u * 6u, ReadAll(chosenPath).size());

    chosenPath = dir + "/set.cfg/below-a-file.cfg";   // cannot be created
    std::strcpy(file_name, chosenPath.c_str());
    StartStatusLog();
    SendParaToFile();
    EXPECT_EQ(StatusLog(), std::vector<std::string>{"Cannot write parameter file! - below-a-file.cfg: Not a directory"});
}

} // namespace
