// bench_start_exchange.cpp - the start exchange (echo check, both parameter
// reads, firmware query) with the simulated controller at line timing, from
// opening the port to the firmware text in the status line, against what the
// 19200 baud line itself needs.
#define QVAR_HIDE_SYNC
#include "app/app.h"
#include "state/qvar.h"
#include "bench/support/figures.h"
#include "link/com232.h"
#include "platform/clock.h"
#include "platform/serial/serial.h"
#include "platform/serial/serial_sim.h"
#include "sim/controller.h"
#include "tests/support/program.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using namespace qvar_bench;

int main()
{
    std::printf("bench_start_exchange: port opening to firmware text, line timing\n");
    if (!StartOnSimulator(true)) {
        Fail("the program did not start");
        return Verdict("bench_start_exchange");
    }
    qvar::sim::Controller &sim = *ComSimController();

    // Echo frame out, the fixed 0.05 s wait (longer than the echo's round
    // trip), then two 36 + 36 byte parameter exchanges and the 36 + 72 byte
    // firmware exchange, each answer after the controller's turnaround.
    const double rate = sim.byte_rate();
    const double lineMinimum = std::max(0.05, 72 / rate + qvar::sim::kDefaultTurnaround)
                               + 2 * (72 / rate + qvar::sim::kDefaultTurnaround)
                               + (36 + 72) / rate + qvar::sim::kDefaultTurnaround;
    const std::string firmware = sim.firmware_line().substr(0, 71);

    const int runs = 7;
    std::vector<double> took;
    for (int i = 0; i < runs; i++) {
        CloseCom(com);
        qvar_test::StartStatusLog();
        const uint64_t before = sim.requests_total();
        const double t0 = Timer();
        InitRS232(com);
        const double t1 = Timer();
        SetStatusListener(nullptr);
        const std::vector<std::string> log = qvar_test::StatusLog();
        if (log.empty() || log.back() != firmware) {
            Fail("run " + std::to_string(i) + ": the status line ends with \"" + (log.empty() ? "" : log.back())
                 + "\", not the firmware text");
            continue;
        }
        if (sim.requests_total() - before != 4) {
            Fail("run " + std::to_string(i) + ": expected 4 requests (echo, A, B, firmware), saw "
                 + std::to_string(sim.requests_total() - before));
            continue;
        }
        took.push_back(t1 - t0);
    }
    qvar_test::StopProgram();

    if (took.empty())
        return Verdict("bench_start_exchange");
    std::sort(took.begin(), took.end());
    Info("line's own minimum", lineMinimum, "s");
    Info("start exchange, fastest of " + std::to_string(took.size()), took.front(), "s");
    Info("start exchange, median", took[took.size() / 2], "s");
    Figure("start exchange, slowest", took.back(), "s", Bound::AtMost, 0.25);
    Info("slowest over the line's minimum", took.back() - lineMinimum, "s");
    return Verdict("bench_start_exchange");
}
