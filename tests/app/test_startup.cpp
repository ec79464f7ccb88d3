// Start-up and shutdown: the state the program comes up in, the defaults, and
// how the whole program ends, in-process and as its own process.
#define QVAR_HIDE_SYNC
#include "app/app.h"
#include "state/qvar.h"
#include "platform/clock.h"
#include "platform/files/files.h"
#include "platform/files/files_internal.h"
#include "platform/ui/ui.h"
#include "platform/ui/ui_qt.h"
#include "recorder/recorder.h"
#include "scope/scope.h"
#include "sim/controller.h"
#include "tests/support/process.h"
#include "tests/support/program.h"
#include "ui_ids.h"

#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>
#include <sys/wait.h>

namespace fs = std::filesystem;
using namespace qvar_test;

namespace {

std::string Text(int panel, int control)
{
    char text[FILE_PATH_MAX + 8] = "";
    GetCtrlString(panel, control, text, sizeof text);
    return text;
}

class StartUpState : public ::testing::Test {
protected:
    void TearDown() override { StopProgram(); }
};

TEST_F(StartUpState, MainPanelWithChannelAPanelAndRecorderHidden)
{
    FreshSim();
    ASSERT_TRUE(StartProgram());
    for (const auto &[panel, shown] : {std::pair{panelHandle, 1}, {panelPARA_A, 1}, {panelPARA_B, 0},
                                       {panelPARA_C, 0}, {panelPopUp, 0}})
        EXPECT_EQ(shown, PanelAttribute(panel, ATTR_VISIBLE)) << "panel " << panel;
    // All three share one spot, so switching never moves the panel.
    for (int panel : {panelPARA_A, panelPARA_B, panelPARA_C}) {
        EXPECT_EQ(10, PanelAttribute(panel, ATTR_LEFT));
        EXPECT_EQ(105, PanelAttribute(panel, ATTR_TOP));
    }
    for (const auto &[control, on] : {std::pair{PANEL_SEL_CHA, 1}, {PANEL_SEL_CHB, 0}, {PANEL_SEL_COM, 0},
                                      {PANEL_TOG_RECORDER, 0}})
        EXPECT_EQ(on, Value(panelHandle, control)) << "control " << control;
}

TEST_F(StartUpState, SilentControllerLeavesTheDefaultsAndThePanelsValues)
{
    qvar::sim::Controller &sim = FreshSim();
    sim.faults.silent = true;
    // Only a controller answer or a parameter file sets the scan time; the
    // defaults and the panels leave whatever it held (0 in a fresh process).
    scantime = 777;
    const double t0 = Timer();
    ASSERT_TRUE(StartProgram());
    // The line check waits out the port's 2 s time-out, and no more.
    const double took = Timer() - t0;
    EXPECT_GT(took, 1.9);
    EXPECT_LT(took, 3.5);

    // Only the line check went out, and its failure is what the user reads.
    EXPECT_EQ(1u, sim.requests(ORDER_ECHO));
    EXPECT_EQ(sim.requests_total(), sim.requests(ORDER_ECHO));
    EXPECT_EQ("Timeout < 36 Bytes", Text(panelHandle, PANEL_STATUS));
    EXPECT_EQ(1, PanelAttribute(panelHandle, ATTR_VISIBLE));
    EXPECT_EQ(1, PanelAttribute(panelPARA_A, ATTR_VISIBLE));

    const fs::path rec(recfile_name);
    EXPECT_TRUE(rec.is_absolute()) << recfile_name;
    EXPECT_EQ("QVarRecord.dat", rec.filename());
    EXPECT_EQ(fs::path(proj_dir).lexically_normal(), rec.parent_path().lexically_normal());
    EXPECT_EQ(std::string(recfile_name), Text(panelPopUp, POPUP_FILENAME));
    EXPECT_STREQ("RDX3para.cfg", file_name);
    EXPECT_EQ(777, scantime);
    EXPECT_EQ(1, com);
    EXPECT_EQ(RAM, target);
    EXPECT_EQ(1, stop_flag);

    // The panels' own initial values rule the variables, not the built-in
    // defaults: one of each parameter panel (every control's binding is the
    // binding test's part).
    EXPECT_EQ(Value(panelPARA_A, PARA_A_TRIGBITS) | Value(panelPARA_A, PARA_A_TRIGLEVEL), triglvlA);
    EXPECT_EQ(Value(panelPARA_B, PARA_B_POWER), powerB);
    EXPECT_EQ(Value(panelPARA_C, PARA_C_HYSTERESIS), hysteresis);

    // Idle charts: the band around 2048 +- 512, nothing drawn in it yet.
    for (int p = 0; p < 100; p += 33) {
        EXPECT_EQ(2560.0, arrayNORM[6 * p + 0]);
        EXPECT_EQ(1536.0, arrayNORM[6 * p + 1]);
        EXPECT_EQ(2048.0, arrayNORM[6 * p + 2]);
        EXPECT_EQ(0.0, arrayNORM[6 * p + 5]);
        EXPECT_EQ(0.0, arrayRAW[2 * p]);
    }
    EXPECT_EQ(200, xArray[200]);
    EXPECT_EQ(0, yArrayA[17]);
}

TEST_F(StartUpState, WithoutAnyHomeTheRecorderSaysSoAndWritesNowhere)
{
    // No HOME, no XDG_DATA_HOME, no home in the password database and a
    // program folder that cannot be written.
    bool up = false;
    {
        ScopedEnv noHome("HOME", nullptr), noXdg("XDG_DATA_HOME", nullptr);
        qvar::files::sys().access = [](const char *, int) { return errno = EACCES, -1; };
        qvar::files::sys().passwdHome = [] { return static_cast<const char *>(nullptr); };
        FreshSim();
        up = StartProgram();
        qvar::files::resetSys();
    }
    ASSERT_TRUE(up);

    EXPECT_STREQ("", recfile_name);
    EXPECT_EQ("", Text(panelPopUp, POPUP_FILENAME));
    EXPECT_NE(std::string::npos, Text(panelPopUp, POPUP_STATUS).find("no folder for the recorder file"))
        << Text(panelPopUp, POPUP_STATUS);

    // A recording started anyway lands nowhere, the working directory included.
    const auto before = Entries(fs::current_path());
    SetCtrlVal(panelPopUp, POPUP_SAMPLES, 1u);
    CC_BTNStartRecord(panelPopUp, POPUP_BTN_START, EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_EQ("DATA-RECORDER - cannot write the recorder file!", Text(panelPopUp, POPUP_STATUS));
    EXPECT_EQ(before, Entries(fs::current_path()));
}

// QvarMain's whole life in this process: start-up, the event loop, a close
// box click, shutdown.
class WholeProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim = &FreshSim();
        IsolatePorts();
    }
    static int Run()
    {
        static char name[] = "qvar-scope";
        static char *argv[] = {name, nullptr};
        return QvarMain(1, argv);
    }
    // The start exchange pumps events too; this holds only once it is over.
    static bool MainPanelUp()
    {
        QWidget *w = panelHandle > 0 ? UiPanelWidget(panelHandle) : nullptr;
        return w && w->isVisible();
    }
    static void CloseMainPanel() { UiPanelWidget(panelHandle)->close(); }
    qvar::sim::Controller *sim = nullptr;
};

TEST_F(WholeProgram, ClosingWhileTheScopeRunsEndsTheScopeAndTheProgram)
{
    uint64_t atClose = 0;
    bool closed = false;
    When(MainPanelUp, [] { CC_BTNRun(panelHandle, PANEL_BTN_RUN, EVENT_COMMIT, nullptr, 0, 0); });
    When([this] { return sim->requests(ORDER_LIVE_VALUES) >= 20; }, [&] {
        atClose = sim->requests(ORDER_LIVE_VALUES);
        closed = true;
        CloseMainPanel();
    });
    EXPECT_EQ(0, Run());
    ASSERT_TRUE(closed);
    EXPECT_EQ(atClose, sim->requests(ORDER_LIVE_VALUES)) << "the scope went on polling after the close";
    EXPECT_EQ(1, stop_flag);
}

TEST_F(WholeProgram, ClosingWhileRecordingKeepsTheLinesAndEndsWithZero)
{
    const std::string rec = TempDir() + "/rec.dat";
    int linesAtClose = -1;
    When(MainPanelUp, [&rec] {
        SetCtrlVal(panelPopUp, POPUP_INTERVAL, 0u);
        SetCtrlVal(panelPopUp, POPUP_SAMPLES, 65535u);
        CopyText(recfile_name, PATH_LEN, rec.c_str());
        CC_BTNStartRecord(panelPopUp, POPUP_BTN_START, EVENT_COMMIT, nullptr, 0, 0);
    });
    When([] { return Value(panelPopUp, POPUP_LINES) >= 5; }, [&linesAtClose] {
        linesAtClose = Value(panelPopUp, POPUP_LINES);
        CloseMainPanel();
    });
    EXPECT_EQ(0, Run());
    ASSERT_GE(linesAtClose, 5);
    const std::string text = ReadAll(rec);
    EXPECT_EQ(linesAtClose + 1, std::count(text.begin(), text.end(), '\n')) << "header and every line counted";
}

// The real program as a process of its own, run from a folder that holds a
// copy of it and whatever resource file the case needs.
class ProgramProcess : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = TempDir();
        const fs::path self = fs::read_symlink("/proc/self/exe");
        const fs::path program = self.parent_path().parent_path() / "qvar-scope";
        ASSERT_TRUE(fs::exists(program)) << program;
        fs::copy_file(program, dir + "/qvar-scope");
        uir = (self.parent_path() / "QVARRDX3V20.uir").string();
        fs::create_directories(dir + "/home");
    }
    // Exit status of the program run with exactly `env` (plus a private
    // HOME); stderr lands in `err`. A program that does not end within 20 s
    // reports 124.
    int Launch(const std::string &env, const std::string &timeout = "timeout 20")
    {
        // A sanitizer build's child needs the same sanitizer settings.
        std::string keep;
        for (const char *name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"})
            if (const char *v = std::getenv(name))
                keep += std::string(name) + "='" + v + "' ";
        const std::string cmd = "cd '" + dir + "' && env -i PATH=/usr/bin:/bin HOME='" + dir +
                                "/home' XDG_CONFIG_HOME='" + dir + "/home' " + keep + env +
                                " " + timeout + " ./qvar-scope </dev/null >/dev/null 2>'" + dir + "/err.txt'";
        const int status = std::system(cmd.c_str());
        err = ReadAll(dir + "/err.txt");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1000;
    }
    std::string dir, uir, err;
};

TEST_F(ProgramProcess, MissingResourceFileExitsWithMinusOneNamingTheFoldersSearched)
{
    EXPECT_EQ(255, Launch("QT_QPA_PLATFORM=offscreen")) << err;
    EXPECT_NE(std::string::npos, err.find("QVARRDX3V20.uir")) << err;
    EXPECT_NE(std::string::npos, err.find(fs::canonical(dir).string())) << err;
    EXPECT_NE(std::string::npos, err.find(fs::canonical(dir).parent_path().string() + "/share/qvar-scope"))
        << err;
}

TEST_F(ProgramProcess, InstalledTheResourceFileIsFoundInTheShareFolder)
{
    // <prefix>/bin/qvar-scope reads <prefix>/share/qvar-scope: a broken copy
    // there is what it reports, so it is the one it found.
    fs::create_directories(dir + "/bin");
    fs::create_directories(dir + "/share/qvar-scope");
    fs::rename(dir + "/qvar-scope", dir + "/bin/qvar-scope");
    std::ofstream(dir + "/share/qvar-scope/QVARRDX3V20.uir") << "<ui version=\"4.0\"><widget class=";
    fs::create_symlink("bin/qvar-scope", dir + "/qvar-scope");
    EXPECT_EQ(255, Launch("QT_QPA_PLATFORM=offscreen")) << err;
    EXPECT_NE(std::string::npos, err.find(fs::canonical(dir).string() + "/share/qvar-scope/QVARRDX3V20.uir"))
        << err;
}

// A resource file whose main panel loads but not the common parameter panel,
// or one that lacks the Data button: the program gives up before it shows
// anything or opens a port, naming what it missed.
TEST_F(ProgramProcess, ResourceFileWithoutAPanelOrAControlExitsWithMinusOne)
{
    const std::string text = ReadAll(uir);
    const std::string data = "<widget class=\"QPushButton\" name=\"PANEL_BTN_DATA\">";
    const size_t paraC = text.find("\n  <widget class=\"QWidget\" name=\"PARA_C\">");
    const size_t button = text.find(data);
    ASSERT_NE(std::string::npos, paraC);
    ASSERT_NE(std::string::npos, button);
    const size_t paraCEnd = text.find("\n  </widget>", paraC + 1) + std::strlen("\n  </widget>");
    for (const auto &[edited, missing] :
         {std::pair<std::string, std::string>{text.substr(0, paraC) + text.substr(paraCEnd),
                                              "cannot load panel " + std::to_string(PARA_C) + " "},
          {text.substr(0, button) + "<widget class=\"QPushButton\" name=\"DATA_BUTTON\">" +
               text.substr(button + data.size()), "PANEL_BTN_DATA"}}) {
        std::ofstream(dir + "/QVARRDX3V20.uir") << edited;
        EXPECT_EQ(255, Launch("QT_QPA_PLATFORM=offscreen")) << err;
        EXPECT_NE(std::string::npos, err.find(missing)) << err;
    }
}

TEST_F(ProgramProcess, TerminationSignalClosesLikeTheCloseBox)
{
    // A session that ends sends SIGTERM: the program closes its main panel
    // and exits 0, as the close box makes it do, instead of dying mid-work.
    const fs::path here = fs::path(uir).parent_path();
    for (const auto &entry : fs::directory_iterator(here))
        if (entry.path().extension() == ".uir" || entry.path().extension() == ".bmp")
            fs::copy_file(entry.path(), dir + "/" + entry.path().filename().string());
    // During the start exchange the signal waits for the event loop; after
    // it, the loop takes it at once.
    for (const char *after : {"0.3", "3"}) {
        SCOPED_TRACE(after);
        EXPECT_EQ(0, Launch("QT_QPA_PLATFORM=offscreen", std::string("timeout --preserve-status -s TERM ") + after))
            << err;
    }
}

TEST_F(ProgramProcess, WithoutADisplayItSaysSoAndFails)
{
    // No resource file either: should the display check let it through, it
    // still stops before it touches a serial port.
    const int rc = Launch("");
    EXPECT_NE(0, rc);
    EXPECT_NE(124, rc) << "it hung instead of giving up";
    EXPECT_NE(std::string::npos, err.find("DISPLAY")) << err;
}

} // namespace
