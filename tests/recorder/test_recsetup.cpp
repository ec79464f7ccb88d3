// The recorder panel apart from the recording: the total recording time and
// the choice of the recorder file.
#define QVAR_HIDE_SYNC
#include "state/qvar.h"
#include "platform/files/files.h"
#include "platform/ui/recording_viewer.h"
#include "platform/ui/ui.h"
#include "recorder/recorder.h"
#include "sim/controller.h"
#include "tests/support/file_dialog.h"
#include "tests/support/process.h"
#include "tests/support/program.h"
#include "ui_ids.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;
using namespace qvar_test;

namespace {

class RecSetup : public ProgramTest {
protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        dir = TempDir();
    }
    // days, hours, minutes, seconds after a commit on the sample-count control
    std::array<int, 4> Duration(unsigned interval, unsigned samples)
    {
        SetCtrlVal(panelPopUp, POPUP_INTERVAL, interval);
        SetCtrlVal(panelPopUp, POPUP_SAMPLES, samples);
        SetCtrlVal(panelPopUp, POPUP_LINES, 17u);
        CC_NEDITRecSamples(panelPopUp, POPUP_SAMPLES, EVENT_COMMIT, nullptr, 0, 0);
        EXPECT_EQ(0, Value(panelPopUp, POPUP_LINES)) << "the line counter starts over with new settings";
        for (int c : {POPUP_LINES, POPUP_DAYS, POPUP_HOURS, POPUP_MINUTES, POPUP_SECONDS})
            EXPECT_TRUE(HeardAsShown(panelPopUp, c));
        return {Value(panelPopUp, POPUP_DAYS), Value(panelPopUp, POPUP_HOURS),
                Value(panelPopUp, POPUP_MINUTES), Value(panelPopUp, POPUP_SECONDS)};
    }
    static std::string FileName()
    {
        char text[FILE_PATH_MAX + 8] = "";
        GetCtrlString(panelPopUp, POPUP_FILENAME, text, sizeof text);
        return text;
    }
    AnsweredDialogs dialogs;
    DialogAnswers &script = Dialog();
    std::string dir;
};

using Days = std::array<int, 4>;

TEST_F(RecSetup, RecordingTimeIsSplitIntoDaysHoursMinutesSeconds)
{
    EXPECT_EQ((Days{1, 3, 46, 40}), Duration(10, 10000));
    // The largest product needs all 32 bits and a day count past 16 bits signed.
    EXPECT_EQ((Days{49708, 18, 3, 45}), Duration(65535, 65535));
    EXPECT_EQ((Days{0, 0, 0, 59}), Duration(59, 1));
    EXPECT_EQ((Days{0, 0, 0, 0}), Duration(0, 5000));
    EXPECT_EQ((Days{0, 0, 0, 0}), Duration(7, 0));
    EXPECT_EQ((Days{1, 0, 0, 0}), Duration(2, 43200));
}

TEST_F(RecSetup, IntervalCommitRecomputesButOtherEventsDoNot)
{
    SetCtrlVal(panelPopUp, POPUP_INTERVAL, 3600u);
    SetCtrlVal(panelPopUp, POPUP_SAMPLES, 2u);
    CC_NEDITRecTime(panelPopUp, POPUP_INTERVAL, EVENT_VAL_CHANGED, nullptr, 0, 0);
    CC_NEDITRecTime(panelPopUp, POPUP_INTERVAL, EVENT_LEFT_CLICK, nullptr, 0, 0);
    EXPECT_EQ(0, Value(panelPopUp, POPUP_HOURS));
    CC_NEDITRecTime(panelPopUp, POPUP_INTERVAL, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_EQ(2, Value(panelPopUp, POPUP_HOURS));
    EXPECT_EQ(0, Value(panelPopUp, POPUP_DAYS));
}

// The file is replaced when a recording starts, not when it is chosen.
TEST_F(RecSetup, ChoosingAnExistingFileOnlyChoosesIt)
{
    const std::string chosen = dir + "/old.dat";
    std::ofstream(chosen) << "an earlier recording\n";
    script.result = 1;
    script.path = chosen;

    CC_RecordFileNameBtn(panelPopUp, POPUP_BTN_FILE, EVENT_COMMIT, nullptr, 0, 0);

    EXPECT_EQ(1, script.calls);
    EXPECT_EQ("Q-VAR-Series Recorder-File:", script.title);
    EXPECT_EQ("*.dat", script.filter);
    EXPECT_EQ("QVARrecord.dat", script.defaultName);
    EXPECT_EQ(std::string(proj_dir), script.startDir);
    EXPECT_EQ("an earlier recording\n", ReadAll(chosen));
    EXPECT_EQ(chosen, recfile_name);
    EXPECT_EQ(chosen, FileName());
}

TEST_F(RecSetup, NewNameIsShownAndCancelChangesNothing)
{
    const std::string before = FileName();

    CC_RecordFileNameBtn(panelPopUp, POPUP_BTN_FILE, EVENT_LEFT_CLICK, nullptr, 0, 0);
    EXPECT_EQ(0, script.calls) << "only a commit opens the dialog";

    script.result = 0;
    CC_RecordFileNameBtn(panelPopUp, POPUP_BTN_FILE, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_EQ(1, script.calls);
    EXPECT_EQ(before, FileName());

    const std::string fresh = dir + "/fresh.dat";
    script.result = 2;
    script.path = fresh;
    CC_RecordFileNameBtn(panelPopUp, POPUP_BTN_FILE, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_EQ(fresh, FileName());
    EXPECT_EQ(fresh, recfile_name);
    EXPECT_FALSE(fs::exists(fresh)) << "a new name creates no file before a recording";
}

// The viewer windows open now, newest last.
std::vector<qvar::ui::RecordingViewer *> Viewers()
{
    std::vector<qvar::ui::RecordingViewer *> out;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *v = dynamic_cast<qvar::ui::RecordingViewer *>(w))
            out.push_back(v);
    return out;
}

TEST_F(RecSetup, OpenRecordingShowsTheChosenFileAndLeavesTheRecorderFileAlone)
{
    const std::string rec = dir + "/earlier.dat";
    std::ofstream(rec) << "Q-VAR-RDX3-RECORDER-FILE: Time-Interval[s]: 5\n1\t2\t3\t4\n5\t6\t7\t8\n";
    const std::string recorderFile = recfile_name;
    const size_t before = Viewers().size();

    // While a loop polls (Run dimmed) no dialog may hold up its requests.
    SetCtrlAttribute(panelHandle, PANEL_BTN_RUN, ATTR_DIMMED, 1);
    CC_BTNOpenRecording(panelPopUp, POPUP_BTN_OPEN, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_EQ(0, script.calls);
    SetCtrlAttribute(panelHandle, PANEL_BTN_RUN, ATTR_DIMMED, 0);

    CC_BTNOpenRecording(panelPopUp, POPUP_BTN_OPEN, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_EQ(1, script.calls);
    EXPECT_EQ(before, Viewers().size()) << "a cancelled dialog opens nothing";

    script.result = 1;
    script.path = rec;
    CC_BTNOpenRecording(panelPopUp, POPUP_BTN_OPEN, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_EQ("*.dat", script.filter);
    EXPECT_EQ(std::string(proj_dir), script.startDir);
    const auto viewers = Viewers();
    ASSERT_EQ(before + 1, viewers.size());
    qvar::ui::RecordingViewer *v = viewers.back();
    EXPECT_TRUE(v->isVisible());
    PumpUntil([v] { return !v->reading(); }, 10.0);
    EXPECT_EQ(2u, v->recording().samples());
    EXPECT_TRUE(fs::exists(rec)) << "opening a recording never deletes it";
    EXPECT_EQ(recorderFile, recfile_name);
    delete v;
}

} // namespace
