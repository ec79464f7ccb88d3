// ptyserve.cpp - pseudo-terminal side of qvar-sim: pty pair, serving loop, stop signals, port pin link.
#include "sim/ptyserve.h"

#include "sim/controller.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <pwd.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace qvar::ptyserve {
namespace {

volatile sig_atomic_t g_stop = 0;
sigset_t g_waitMask;          // the mask ppoll waits with: stop signals let through
bool g_signalsInstalled = false;

void on_stop_signal(int) { g_stop = 1; }

double now_seconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::string sys_error(const char *what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

std::string read_link(const std::string &link)
{
    std::error_code ec;
    const auto target = std::filesystem::read_symlink(link, ec);
    return ec ? std::string() : target.string();
}

} // namespace

std::string ports_dir()
{
    const char *xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const char *home = std::getenv("HOME");
        if (!home || !*home) {
            const passwd *pw = getpwuid(getuid());
            home = pw ? pw->pw_dir : "/tmp";
        }
        base = std::string(home) + "/.config";
    }
    return base + "/qvar-scope/ports";
}

PtyServer::~PtyServer()
{
    if (!link_.empty() && read_link(link_) == path_)
        ::unlink(link_.c_str());
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
}

bool PtyServer::open(std::string *error)
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) {
        *error = sys_error("posix_openpt");
        return false;
    }
    char name[PATH_MAX];
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name, sizeof name) != 0) {
        *error = sys_error("pseudo-terminal set-up");
        return false;
    }
    path_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY);
    if (slave_ < 0) {
        *error = sys_error(name);
        return false;
    }
    // Raw from the start, so bytes a host writes before it sets up the line
    // itself are not echoed or cooked.
    termios tio{};
    if (::tcgetattr(slave_, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::cfsetspeed(&tio, B19200);
        ::tcsetattr(slave_, TCSANOW, &tio);
    }
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    return true;
}

bool PtyServer::pin_port(int number, std::string *error)
{
    namespace fs = std::filesystem;
    const std::string dir = ports_dir();
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) {
        *error = dir + ": " + ec.message();
        return false;
    }
    const std::string link = dir + "/com" + std::to_string(number);
    if (fs::is_symlink(fs::symlink_status(link, ec))) {
        // A link to a live device belongs to somebody else; one to a pty
        // that has gone is left over from a server that was killed.
        const std::string old = read_link(link);
        if (fs::exists(old, ec) && old != path_) {
            *error = "port " + std::to_string(number) + " is already pinned to " + old;
            return false;
        }
        fs::remove(link, ec);
    } else if (fs::exists(link, ec)) {
        *error = link + " exists and is not a link";
        return false;
    }
    fs::create_symlink(path_, link, ec);
    if (ec) {
        *error = link + ": " + ec.message();
        return false;
    }
    link_ = link;
    return true;
}

void PtyServer::install_stop_signals()
{
    struct sigaction sa{};
    sa.sa_handler = on_stop_signal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    // Held back everywhere except inside ppoll, so a stop can never fall
    // between the flag test and the wait.
    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    sigaddset(&block, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &block, &g_waitMask);
    sigdelset(&g_waitMask, SIGINT);
    sigdelset(&g_waitMask, SIGTERM);
    g_signalsInstalled = true;
}

void PtyServer::stop() { g_stop = 1; }

int PtyServer::run(sim::Controller &controller, const std::function<void()> &after_input)
{
    std::vector<uint8_t> pending;
    uint8_t buf[4096];
    while (!g_stop) {
        // Hand over every byte that has reached the end of the line by now.
        size_t n;
        while ((n = controller.host_read(buf, sizeof buf, now_seconds())) > 0)
            pending.insert(pending.end(), buf, buf + n);
        while (!pending.empty()) {
            const ssize_t w = ::write(master_, pending.data(), pending.size());
            if (w > 0) {
                pending.erase(pending.begin(), pending.begin() + w);
            } else if (w < 0 && errno == EINTR) {
                continue;
            } else if (w < 0 && errno == EAGAIN) {
                break;
            } else {
                return 1;
            }
        }

        pollfd p{master_, static_cast<short>(POLLIN | (pending.empty() ? 0 : POLLOUT)), 0};
        timespec ts{};
        timespec *timeout = nullptr;
        const double next = controller.next_arrival();
        if (std::isfinite(next)) {
            const double wait = std::max(0.0, next - now_seconds());
            ts.tv_sec = static_cast<time_t>(wait);
            ts.tv_nsec = static_cast<long>((wait - static_cast<double>(ts.tv_sec)) * 1e9);
            timeout = &ts;
        }
        const int r = ::ppoll(&p, 1, timeout, g_signalsInstalled ? &g_waitMask : nullptr);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return 1;
        }
        if (p.revents & POLLIN) {
            const ssize_t got = ::read(master_, buf, sizeof buf);
            if (got > 0) {
                controller.host_write(buf, static_cast<size_t>(got), now_seconds());
                if (after_input)
                    after_input();
            } else if (got < 0 && errno != EAGAIN && errno != EINTR) {
                return 1;
            }
        } else if (p.revents & (POLLERR | POLLNVAL)) {
            return 1;
        }
    }
    return 0;
}

} // namespace qvar::ptyserve
