// bench_idle_process.cpp - qvar-scope itself, idle with its port open: CPU
// over 10 s after start-up, and its peak memory, read from /proc. Port 1 must
// be the built-in simulated controller, so the program never reaches a real
// device; this is checked before it is started.
#include "bench/support/figures.h"
#include "platform/serial/serial.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace qvar_bench;
namespace fs = std::filesystem;

namespace {

// utime + stime of the whole process, in seconds.
double ProcessCpu(pid_t pid)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    // The command name may hold blanks; the fields proper start after its ')'.
    const size_t close = text.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream s(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && s >> field; i++) {
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15)
            stime = std::stoull(field);
    }
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

// A line of /proc/<pid>/status in kB ("VmHWM:  12345 kB"), -1 if missing.
long StatusKb(pid_t pid, const std::string &key)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(f, line);)
        if (line.rfind(key + ":", 0) == 0)
            return std::stol(line.substr(key.size() + 1));
    return -1;
}

// Any terminal device the process holds open (it should hold none: its port
// is the simulated one).
std::string OpenTerminal(pid_t pid)
{
    std::error_code ec;
    for (const auto &e : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        const std::string target = fs::read_symlink(e.path(), ec).string();
        if (target.rfind("/dev/tty", 0) == 0 || target.rfind("/dev/pts", 0) == 0)
            return target;
    }
    return "";
}

bool Alive(pid_t pid)
{
    int status = 0;
    return waitpid(pid, &status, WNOHANG) == 0;
}

} // namespace

int main()
{
    std::printf("bench_idle_process: qvar-scope idle on the simulated controller\n");
    const fs::path program = fs::read_symlink("/proc/self/exe").parent_path() / "qvar-scope";
    if (!fs::exists(program)) {
        Fail(program.string() + " is not built");
        return Verdict("bench_idle_process");
    }

    // An empty configuration folder: no pinned links. Port 1 is then the
    // first port the scan finds, or the simulated controller if it finds none.
    char pattern[] = "/tmp/qvar-bench-XXXXXX";
    const char *home = mkdtemp(pattern);
    if (!home) {
        Fail("no temporary folder");
        return Verdict("bench_idle_process");
    }
    setenv("XDG_CONFIG_HOME", home, 1);
    ComSetScanRoots("/dev", "/sys");
    if (ComSimulatedPort() != 1) {
        Fail("port 1 on this machine is a real device, not the simulated controller; not started");
        fs::remove_all(home);
        return Verdict("bench_idle_process");
    }

    const pid_t pid = fork();
    if (pid == 0) {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);   // on X when the bench runs there
        setenv("XDG_CONFIG_HOME", home, 1);
        if (chdir(home) != 0)
            _exit(126);
        execl(program.c_str(), program.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    if (pid < 0) {
        Fail("fork failed");
        return Verdict("bench_idle_process");
    }

    std::this_thread::sleep_for(std::chrono::seconds(2));
    if (!Alive(pid)) {
        Fail("qvar-scope ended during start-up");
        fs::remove_all(home);
        return Verdict("bench_idle_process");
    }
    const double cpu0 = ProcessCpu(pid);
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const double cpu1 = ProcessCpu(pid);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const long hwm = StatusKb(pid, "VmHWM");
    const long threads = StatusKb(pid, "Threads");
    const std::string tty = OpenTerminal(pid);
    const bool alive = Alive(pid);

    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    fs::remove_all(home);

    if (!alive) {
        Fail("qvar-scope ended during the measurement");
        return Verdict("bench_idle_process");
    }
    if (!tty.empty())
        Fail("qvar-scope holds a terminal device open: " + tty);
    Info("start-up CPU (first 2 s)", cpu0, "s");
    Info("CPU over the idle period", cpu1 - cpu0, "s");
    Info("idle period", wall, "s");
    Figure("idle CPU, share of one core", 100.0 * (cpu1 - cpu0) / wall, "%", Bound::AtMost, 1.0);
    Figure("peak memory (VmHWM)", hwm / 1024.0, "MB", Bound::AtMost, 80.0);
    Info("threads", double(threads), "");
    return Verdict("bench_idle_process");
}
