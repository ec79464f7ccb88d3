// process.cpp - spawning the programs built beside the tests.
#include "tests/support/process.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace qvar_test {

namespace {

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace

std::string Beside(const char *program)
{
    namespace fs = std::filesystem;
    return (fs::read_symlink("/proc/self/exe").parent_path().parent_path() / program).string();
}

void UseDesktopScreen()
{
    const char *qpa = std::getenv("QT_QPA_PLATFORM");
    if (!qpa || std::string(qpa) == "offscreen")
        setenv("QT_QPA_PLATFORM", OffscreenWith(QVAR_DESKTOP_SCREEN).c_str(), 1);
}

std::string OffscreenWith(const std::string &jsonFile) { return "offscreen:configfile=" + jsonFile; }

int Child::Wait()
{
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid)
        pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int Child::Terminate()
{
    if (pid > 0)
        kill(pid, SIGTERM);
    return Wait();
}

Child::~Child()
{
    if (pid > 0) {
        kill(pid, SIGKILL);
        Wait();
    }
    for (int fd : {out, err})
        if (fd >= 0)
            close(fd);
}

bool Spawn(Child &c, std::vector<std::string> args, const std::vector<std::string> &env, int errFd)
{
    std::vector<char *> argv, envp;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envCopy = env;
    for (auto &e : envCopy)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    int o[2], e[2];
    if (pipe(o) != 0)
        return false;
    if (pipe(e) != 0) {
        close(o[0]);
        close(o[1]);
        return false;
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, o[1], 1);
    posix_spawn_file_actions_adddup2(&fa, errFd >= 0 ? errFd : e[1], 2);
    posix_spawn_file_actions_addclose(&fa, o[0]);
    posix_spawn_file_actions_addclose(&fa, e[0]);
    if (posix_spawn(&c.pid, argv[0], &fa, nullptr, argv.data(), env.empty() ? environ : envp.data()) != 0)
        c.pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    close(o[1]);
    close(e[1]);
    c.out = o[0];
    c.err = e[0];
    return c.pid > 0;
}

bool ReadFirstLine(Child &c, double seconds)
{
    const double end = Now() + seconds;
    char ch;
    while (c.pid > 0 && Now() < end) {
        pollfd pf{c.out, POLLIN, 0};
        if (poll(&pf, 1, 100) <= 0)
            continue;
        if (read(c.out, &ch, 1) != 1)
            return false;
        if (ch == '\n')
            return true;
        c.firstLine += ch;
    }
    return false;
}

std::string Drain(int fd, double seconds)
{
    std::string s;
    const double end = Now() + seconds;
    char buf[4096];
    while (Now() < end) {
        pollfd pf{fd, POLLIN, 0};
        if (poll(&pf, 1, 100) <= 0)
            continue;
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        s.append(buf, size_t(n));
    }
    return s;
}

ScratchDir::ScratchDir()
{
    char tmpl[] = "/tmp/qvar-scratch-XXXXXX";
    const char *made = mkdtemp(tmpl);
    path_ = made ? made : "/tmp";
}

ScratchDir::~ScratchDir()
{
    std::error_code ec;
    if (path_ != "/tmp")
        std::filesystem::remove_all(path_, ec);
}

std::string ReadAll(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

void WriteText(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> Entries(const std::string &dir)
{
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

ScopedEnv::ScopedEnv(const char *name, const char *value) : name_(name)
{
    if (const char *old = std::getenv(name))
        old_ = old;
    value ? setenv(name, value, 1) : unsetenv(name);
}

ScopedEnv::~ScopedEnv()
{
    old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_);
}

} // namespace qvar_test
