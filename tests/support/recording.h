// recording.h - test support for recordings: the program up on a fresh
// simulated controller with the recorder file in a folder of the test's own,
// the recorder panel's controls, and the lines a controller sends.
#pragma once

#include "app/app.h"
#include "link/com232.h"
#include "platform/files/files.h"
#include "platform/ui/ui.h"
#include "recorder/recorder.h"
#include "sim/controller.h"
#include "state/qvar.h"
#include "tests/support/process.h"
#include "tests/support/program.h"
#include "ui_ids.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace qvar_test {

// Words 0..3 of the first `count` live answers a fresh controller with this
// seed gives to the recorder's requests (channel A's block as the variables
// hold it), read off the wire, not through the program's decoding.
inline std::vector<std::string> AnswersSent(int count, const qvar::sim::Faults &faults = {}, uint64_t seed = 1)
{
    CopyVarsToPP(CHANNEL_A);
    FillTxBuf(ORDER_LIVE_VALUES, pp);
    unsigned char frame[FRAME_BYTES];
    std::memcpy(frame, szWriteBuf, FRAME_BYTES);
    qvar::sim::Controller c(seed);
    c.set_paced(false);
    c.faults = faults;
    std::vector<std::string> lines;
    for (int i = 0; i < count; i++) {
        c.host_write(frame, FRAME_BYTES, 0.0);
        uint8_t answer[FRAME_BYTES];
        EXPECT_EQ(size_t(FRAME_BYTES), c.host_read(answer, sizeof answer, 0.0));
        std::string line;
        for (int w = 0; w < 4; w++)
            line += (w ? "\t" : "") + std::to_string(unsigned(answer[4 + 2 * w]) << 8 | answer[5 + 2 * w]);
        lines.push_back(line);
    }
    return lines;
}

class RecordingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim = &FreshSim();
        ASSERT_TRUE(StartProgram());
        dir = TempDir();
        path = dir + "/rec.dat";
        CopyText(recfile_name, PATH_LEN, path.c_str());
        sim->reset_counters();
        StartStatusLog();
    }
    void TearDown() override
    {
        SetStatusListener(nullptr);
        StopProgram();
    }

    static void Settings(unsigned interval, unsigned samples)
    {
        SetCtrlVal(panelPopUp, POPUP_INTERVAL, interval);
        SetCtrlVal(panelPopUp, POPUP_SAMPLES, samples);
    }
    static void Start() { CC_BTNStartRecord(panelPopUp, POPUP_BTN_START, EVENT_COMMIT, nullptr, 0, 0); }

    // The recorder file's lines after its header.
    std::vector<std::string> SampleLines() const
    {
        std::vector<std::string> lines;
        std::istringstream s(ReadAll(path));
        for (std::string line; std::getline(s, line);)
            lines.push_back(line);
        if (!lines.empty())
            lines.erase(lines.begin());
        return lines;
    }
    static bool LogHas(const std::string &text)
    {
        for (const std::string &s : StatusLog())
            if (s == text)
                return true;
        return false;
    }

    qvar::sim::Controller *sim = nullptr;
    std::string dir, path;
};

} // namespace qvar_test
