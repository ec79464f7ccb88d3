// bench_recorder.cpp - a 10 s recording at interval 0 without line timing:
// every answer drawn must be a line in the recorder file, in order, and the
// line counter on the recorder panel must agree with the file.
#define QVAR_HIDE_SYNC
#include "app/app.h"
#include "app/qvar.h"
#include "bench/support/figures.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/serial_sim.h"
#include "platform/ui.h"
#include "recorder/recorder.h"
#include "sim/controller.h"
#include "tests/support/program.h"
#include "ui_ids.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace qvar_bench;

namespace {

const std::string HEADER = "Q-VAR-RDX3-RECORDER-FILE: Time-Interval[s]: ";

// The recorder file's sample lines, each as its four numbers; `header` gets
// the first line.
std::vector<std::array<long, 4>> ReadRecording(const std::string &path, std::string *header, long *malformed)
{
    std::vector<std::array<long, 4>> rows;
    std::ifstream f(path, std::ios::binary);
    std::string line;
    std::getline(f, line);
    *header = line;
    *malformed = 0;
    while (std::getline(f, line)) {
        std::istringstream s(line);
        std::array<long, 4> row{};
        std::string rest;
        if (!(s >> row[0] >> row[1] >> row[2] >> row[3]) || (s >> rest))
            ++*malformed;
        rows.push_back(row);
    }
    return rows;
}

} // namespace

int main()
{
    std::printf("bench_recorder: interval 0, 65535 samples, stopped after 10 s, no line timing\n");
    if (!StartOnSimulator(false)) {
        Fail("the program did not start");
        return Verdict("bench_recorder");
    }
    qvar::sim::Controller &sim = *ComSimController();
    if (sim.sample() != 0) {
        Fail("the controller had already produced live samples before the recording");
        return Verdict("bench_recorder");
    }

    const std::string dir = qvar_test::TempDir();
    const std::string path = dir + "/bench.dat";
    CopyText(recfile_name, PATH_LEN, path.c_str());
    SetCtrlVal(panelPopUp, POPUP_INTERVAL, 0u);
    SetCtrlVal(panelPopUp, POPUP_SAMPLES, 65535u);
    DisplayPanel(panelPopUp);

    qvar_test::After(10.0, [] { CC_BTNStopRecord(panelPopUp, POPUP_BTN_STOP, EVENT_COMMIT, nullptr, 0, 0); });
    const double t0 = Timer();
    CC_BTNStartRecord(panelPopUp, POPUP_BTN_START, EVENT_COMMIT, nullptr, 0, 0);
    const double wall = Timer() - t0;
    const uint64_t requests = sim.requests(8);
    int counter = -1;
    GetCtrlVal(panelPopUp, POPUP_LINES, &counter);
    // Every request carried the same channel A block; it is still in the
    // transmit buffer for the replay below.
    uint8_t request[FRAME_LEN];
    std::memcpy(request, szWriteBuf, FRAME_LEN);
    qvar_test::StopProgram();

    std::string header;
    long malformed = 0;
    const auto rows = ReadRecording(path, &header, &malformed);
    std::filesystem::remove_all(dir);

    Info("recording time", wall, "s");
    Info("requests (order 8)", double(requests), "");
    Info("lines per second", rows.size() / wall, "1/s");
    if (header != HEADER + "0")
        Fail("header line is \"" + header + "\"");
    Figure("malformed sample lines", double(malformed), "", Bound::Equal, 0);
    Figure("sample lines in the file", double(rows.size()), "", Bound::Equal, double(counter));
    Info("line counter display (POPUP_LINES)", double(counter), "");
    // The request written in the pass that saw the stop is never drawn.
    Figure("sample lines vs requests - 1", double(rows.size()), "", Bound::Equal, double(requests) - 1);

    // A twin controller with the same seed, sent the same requests, gives
    // the answers the recorder drew, in order: each line must be one of them.
    qvar::sim::Controller twin(1);
    twin.set_paced(false);
    long wrong = 0, firstWrong = -1;
    for (size_t i = 0; i < rows.size(); i++) {
        uint8_t answer[36];
        twin.host_write(request, FRAME_LEN, 0.0);
        if (twin.host_read(answer, sizeof answer, 0.0) != sizeof answer) {
            Fail("the twin controller did not answer");
            break;
        }
        for (int w = 0; w < 4; w++) {
            const long v = answer[4 + 2 * w] * 256L + answer[5 + 2 * w];
            if (rows[i][w] != v) {
                ++wrong;
                if (firstWrong < 0)
                    firstWrong = long(i);
                break;
            }
        }
    }
    Figure("lines differing from the answers drawn", double(wrong), "", Bound::Equal, 0);
    if (firstWrong >= 0)
        Info("first differing line", double(firstWrong + 1), "");
    return Verdict("bench_recorder");
}
