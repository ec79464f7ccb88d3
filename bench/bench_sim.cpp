// bench_sim.cpp - exchanges with the built-in simulated controller through the serial service.
#include "platform/serial/serial.h"
#include "platform/serial/serial_sim.h"
#include "sim/controller.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

int open_sim_port()
{
    const int port = ComSimulatedPort();
    if (OpenComConfig(port, "", 19200, 0, 8, 1, 4096, 4096) < 0)
        return -1;
    SetComTime(port, 2.0);
    return port;
}

std::string echo_request()
{
    std::string f(36, '\0');
    f[1] = 0x55;
    f[3] = 5;
    return f;
}

// Echo exchanges through the built-in port: write a request, read its answer.
void Exchanges(benchmark::State &state, bool paced)
{
    ComSimController()->faults = {};
    ComSimController()->set_paced(paced);
    const int port = open_sim_port();
    if (port < 0) {
        state.SkipWithError("cannot open the simulated port");
        return;
    }
    const std::string req = echo_request();
    char answer[36];
    for (auto _ : state) {
        ComWrt(port, req.data(), 36);
        if (ComRd(port, answer, 36) != 36) {
            state.SkipWithError("short answer");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
    CloseCom(port);
    ComSimController()->set_paced(true);
}

// One exchange on the simulated 19200 baud line: the figure the live
// scope's polling rate rests on.
void BM_ExchangeAtLineTiming(benchmark::State &state) { Exchanges(state, true); }
BENCHMARK(BM_ExchangeAtLineTiming)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// The same exchange without line timing: the cost of the service and the
// model themselves.
void BM_ExchangeUnpaced(benchmark::State &state) { Exchanges(state, false); }
BENCHMARK(BM_ExchangeUnpaced)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // Keep the port scan off the machine's own devices: only the built-in
    // controller is wanted here.
    const auto empty = std::filesystem::temp_directory_path() / ("qvar_bench_" + std::to_string(getpid()));
    std::filesystem::create_directories(empty);
    setenv("XDG_CONFIG_HOME", empty.c_str(), 1);
    ComSetScanRoots(empty.c_str(), empty.c_str());

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(empty);
    return 0;
}
