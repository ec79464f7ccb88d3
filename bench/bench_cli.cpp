// bench_cli.cpp - qvar-cli as a program on qvar-sim's pseudo-terminal at line
// timing: the wall time of `info` against what the start exchange needs on a
// 19200 baud line, and `watch` against the line's exchange rate, with the CPU
// it takes.
#include "bench/support/figures.h"
#include "sim/controller.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace fs = std::filesystem;
using namespace qvar_bench;

namespace {

const char PORT[] = "43";

double Now()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

std::string Beside(const char *program)
{
    return (fs::read_symlink("/proc/self/exe").parent_path() / program).string();
}

pid_t Spawn(std::vector<std::string> args, int outFd)
{
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, outFd, 1);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

struct Timed {
    int code = -1;
    double wall = 0, cpu = 0;
};

// Runs qvar-cli to its end, output discarded.
Timed RunCli(std::vector<std::string> args)
{
    args.insert(args.begin(), Beside("qvar-cli"));
    int null = open("/dev/null", O_WRONLY);
    Timed t;
    const double t0 = Now();
    pid_t pid = Spawn(args, null);
    close(null);
    if (pid < 0)
        return t;
    int status = 0;
    rusage ru{};
    wait4(pid, &status, 0, &ru);
    t.wall = Now() - t0;
    t.cpu = double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
            double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
    t.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return t;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main()
{
    std::printf("bench_cli: qvar-cli on qvar-sim's pseudo-terminal, line timing\n");
    const std::string config = fs::temp_directory_path() / ("qvar_bench_cli_" + std::to_string(getpid()));
    fs::create_directories(config);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    unsetenv("DISPLAY");
    unsetenv("QT_QPA_PLATFORM");

    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        Fail("no pipe");
        return Verdict("bench_cli");
    }
    pid_t sim = Spawn({Beside("qvar-sim"), "--port", PORT}, pipeFds[1]);
    close(pipeFds[1]);
    pollfd pf{pipeFds[0], POLLIN, 0};
    if (sim < 0 || poll(&pf, 1, 10000) <= 0) {
        Fail("qvar-sim did not come up");
        return Verdict("bench_cli");
    }

    // Echo frame, the fixed 0.05 s, two 36 + 36 byte parameter exchanges, the
    // 36 + 72 byte firmware exchange; each answer after the turnaround.
    const double rate = qvar::sim::kDefaultByteRate, turn = qvar::sim::kDefaultTurnaround;
    const double exchange = 72 / rate + turn;
    const double startMinimum = std::max(0.05, exchange) + 2 * exchange + (36 + 72) / rate + turn;

    // The process's own start (run-time, port scan) is what `ports` takes.
    std::vector<double> info, ports;
    for (int i = 0; i < 7; i++) {
        Timed p = RunCli({"ports"});
        Timed t = RunCli({"info", "--port", PORT, "-q"});
        if (p.code != 0 || t.code != 0) {
            Fail("qvar-cli info or ports failed");
            break;
        }
        ports.push_back(p.wall);
        info.push_back(t.wall);
    }
    Info("start exchange, the line's minimum", startMinimum, "s");
    Info("qvar-cli ports (process start), median", Median(ports), "s");
    Info("qvar-cli info, median", Median(info), "s");
    Figure("info less process start, over the line's minimum", (Median(info) - Median(ports)) / startMinimum,
           "x", Bound::AtMost, 1.10);

    // Two runs that differ only in their line count: the difference is the
    // loop alone, without start-up and start exchange.
    const int shortRun = 50, lines = 300;
    Timed s = RunCli({"watch", "--count", std::to_string(shortRun), "--port", PORT, "-q"});
    Timed w = RunCli({"watch", "--count", std::to_string(shortRun + lines), "--port", PORT, "-q"});
    if (s.code != 0 || w.code != 0) {
        Fail("qvar-cli watch failed");
    } else {
        const double loop = w.wall - s.wall;
        Info("watch, lines per second", lines / loop, "1/s");
        Info("the line's exchanges per second", 1 / exchange, "1/s");
        Figure("watch rate, of the line's", lines / loop * exchange, "", Bound::AtLeast, 0.995);
        Figure("watch CPU, of one core", (w.cpu - s.cpu) / loop * 100, "%", Bound::AtMost, 1.0);
    }

    kill(sim, SIGTERM);
    waitpid(sim, nullptr, 0);
    fs::remove_all(config);
    return Verdict("bench_cli");
}
