// bench_recorder.cpp - recordings at interval 0 without line timing: every
// answer drawn must be a line in the recorder file, in order, and the line
// counter on the recorder panel must agree with the file.
#define QVAR_HIDE_SYNC
#include "app/app.h"
#include "state/qvar.h"
#include "bench/support/figures.h"
#include "platform/clock.h"
#include "platform/files/files.h"
#include "platform/serial/serial_sim.h"
#include "platform/ui/ui.h"
#include "recorder/recorder.h"
#include "sim/controller.h"
#include "tests/support/program.h"
#include "ui_ids.h"

#include <algorithm>
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

struct Recording {
    double wall = 0;
    uint64_t requests = 0;
    int counter = -1;
    bool stoppedByButton = false;
    std::string header;
    long malformed = 0;
    std::vector<std::array<long, 4>> rows;
};

// One recording at interval 0 of up to `samples` lines into `path`, with the
// recorder's stop button pressed from inside the loop after `stopAfter` s.
Recording Record(const std::string &path, unsigned samples, double stopAfter)
{
    qvar::sim::Controller &sim = *ComSimController();
    sim.reset_counters();
    CopyText(recfile_name, PATH_LEN, path.c_str());
    SetCtrlVal(panelPopUp, POPUP_INTERVAL, 0u);
    SetCtrlVal(panelPopUp, POPUP_SAMPLES, samples);

    Recording r;
    bool *pressed = &r.stoppedByButton;
    const int stop = StopAfter(stopAfter, [pressed] {
        *pressed = true;
        CC_BTNStopRecord(panelPopUp, POPUP_BTN_STOP, EVENT_COMMIT, nullptr, 0, 0);
    });
    const double t0 = Timer();
    CC_BTNStartRecord(panelPopUp, POPUP_BTN_START, EVENT_COMMIT, nullptr, 0, 0);
    r.wall = Timer() - t0;
    CancelStop(stop);
    r.requests = sim.requests(8);
    GetCtrlVal(panelPopUp, POPUP_LINES, &r.counter);
    r.rows = ReadRecording(path, &r.header, &r.malformed);
    return r;
}

// Checks one recording against the line counter, the requests and the twin
// controller, which is fed the same requests the recording wrote.
void Check(const char *title, const Recording &r, qvar::sim::Controller &twin, const uint8_t *request)
{
    std::printf(" %s:\n", title);
    Info("recording time", r.wall, "s");
    Info("ended by", r.stoppedByButton ? 1 : 0, r.stoppedByButton ? "(stop button)" : "(sample count)");
    Info("requests (order 8)", double(r.requests), "");
    Info("lines per second", r.rows.size() / r.wall, "1/s");
    if (r.header != HEADER + "0")
        Fail("header line is \"" + r.header + "\"");
    Figure("malformed sample lines", double(r.malformed), "", Bound::Equal, 0);
    Figure("sample lines in the file", double(r.rows.size()), "", Bound::Equal, double(r.counter));
    Info("line counter display (POPUP_LINES)", double(r.counter), "");
    // The request written in the pass that saw the stop is never drawn.
    Figure("sample lines vs requests - 1", double(r.rows.size()), "", Bound::Equal, double(r.requests) - 1);

    // Each line must be the next answer of a controller with the same seed
    // sent the same requests: nothing lost, doubled or out of order.
    long wrong = 0, firstWrong = -1;
    for (uint64_t i = 0; i < r.requests; i++) {
        uint8_t answer[36];
        twin.host_write(request, FRAME_BYTES, 0.0);
        if (twin.host_read(answer, sizeof answer, 0.0) != sizeof answer) {
            Fail("the twin controller did not answer");
            return;
        }
        if (i >= r.rows.size())
            continue;
        for (int w = 0; w < 4; w++) {
            const long v = answer[4 + 2 * w] * 256L + answer[5 + 2 * w];
            if (r.rows[i][w] != v) {
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
}

} // namespace

int main()
{
    std::printf("bench_recorder: interval 0, no line timing\n");
    if (!StartOnSimulator(false)) {
        Fail("the program did not start");
        return Verdict("bench_recorder");
    }
    qvar::sim::Controller &sim = *ComSimController();
    if (sim.sample() != 0) {
        Fail("the controller had already produced live samples before the recording");
        return Verdict("bench_recorder");
    }
    DisplayPanel(panelPopUp);
    const std::string dir = qvar_test::TempDir();

    // The longest recording there is: 65535 samples, with the stop button
    // armed for 10 s in case the line is slower than 6554 answers a second.
    const Recording full = Record(dir + "/full.dat", 65535, 10.0);
    // Every request carried the same channel A block; it is still in the
    // transmit buffer for the replay.
    uint8_t request[FRAME_BYTES];
    std::memcpy(request, szWriteBuf, FRAME_BYTES);
    // And one ended by the stop button from inside the loop, well before the
    // count: a fast machine records 65535 samples in under a second.
    const Recording stopped = Record(dir + "/stopped.dat", 65535, 0.25);
    qvar_test::StopProgram();
    std::filesystem::remove_all(dir);

    qvar::sim::Controller twin(1);
    twin.set_paced(false);
    Check("65535 samples, stop button armed for 10 s", full, twin, request);
    Check("stop button after 0.25 s", stopped, twin, request);
    if (!stopped.stoppedByButton)
        Fail("the second recording was not ended by the stop button");
    return Verdict("bench_recorder");
}
