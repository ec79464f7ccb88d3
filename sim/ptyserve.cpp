// ptyserve.cpp - pseudo-terminal side of qvar-sim: pty pair, serving loop, stop signals, port pin link,
// the command line and the EEPROM file.
#include "sim/ptyserve.h"

#include "platform/clock.h"
#include "platform/serial/serial.h"
#include "sim/controller.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <limits>
#include <poll.h>
#include <sched.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <string_view>
#include <vector>

namespace qvar::ptyserve {
namespace {

// How long before an answer's last byte is due the server wakes for it:
// beyond what a timer is usually late by, short enough to cost little CPU.
constexpr double kPunctualLead = 150e-6;

// How long after an answer's last byte the server keeps watching the line
// without going to sleep. A controller's UART takes a request's first byte
// the moment it arrives; a server asleep in ppoll first has to be woken,
// and on an idle virtual CPU that adds 50-150 us to every exchange, a time
// no real line has. Hosts send their next request within a fraction of a
// millisecond of an answer or not for a long while, so the watch is short.
constexpr double kListenAfterAnswer = 1e-3;

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
    char dir[PATH_MAX];
    return ComPinnedPortsDir(dir, sizeof dir) < 0 ? std::string() : std::string(dir);
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
    if (dir.empty()) {
        *error = "no home folder to pin the port in (set HOME or XDG_CONFIG_HOME)";
        return false;
    }
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

// Requests reach the controller only while its answers under way stay below
// the bound; beyond it the host is flooding and the request is dropped whole
// (the controller resynchronises on the next 00 55).
bool PtyServer::take_request(sim::Controller &controller, const uint8_t *data, size_t n)
{
    if (std::isfinite(controller.arrival_of(kMaxBacklog))) {
        dropped_ += n;
        return false;
    }
    controller.host_write(data, n, now_seconds());
    return true;
}

// The model stamps every byte it is given with the moment the line delivers
// it, so bytes handed over faster than the line carries them would wait in
// it for as long as the line needs: a flood of a megabyte is answered for
// minutes. They wait here instead, where the oldest can go. True when the
// controller took any.
bool PtyServer::feed(sim::Controller &controller)
{
    bool took = false;
    while (!input_.empty()) {
        const size_t busy = controller.host_output_pending(now_seconds());
        if (busy >= kLineInput)
            break;
        const size_t n = std::min(input_.size(), kLineInput - busy);
        took = take_request(controller, input_.data(), n) || took;
        input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(n));
    }
    if (input_.size() > kMaxQueuedInput) {
        const size_t old = input_.size() - kMaxQueuedInput;
        dropped_ += old;
        input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(old));
    }
    return took;
}

// When the line will have room for all that waits; +inf when nothing does.
double PtyServer::feed_due(const sim::Controller &controller) const
{
    if (input_.empty())
        return std::numeric_limits<double>::infinity();
    const double now = now_seconds();
    const double over = static_cast<double>(controller.host_output_pending(now) + input_.size()) -
                        static_cast<double>(kLineInput);
    return now + std::max(0.0, over) / controller.byte_rate();
}

// Hands over every byte that has reached the end of the line by now, as far
// as the terminal takes them; the rest waits in `pending` or in the model.
// *handed tells whether the model gave any. False on a failed write.
bool PtyServer::hand_over(sim::Controller &controller, std::vector<uint8_t> &pending, bool *handed)
{
    uint8_t buf[4096];
    size_t n;
    while (pending.size() < kMaxBacklog && (n = controller.host_read(buf, sizeof buf, now_seconds())) > 0) {
        pending.insert(pending.end(), buf, buf + n);
        *handed = true;
    }
    while (!pending.empty()) {
        const ssize_t w = ::write(master_, pending.data(), pending.size());
        if (w > 0)
            pending.erase(pending.begin(), pending.begin() + w);
        else if (w < 0 && errno == EAGAIN)
            return true;
        else if (!(w < 0 && errno == EINTR))
            return false;
    }
    return true;
}

int PtyServer::run(sim::Controller &controller, const std::function<void()> &after_input)
{
    // A line's bytes come when they are due, not up to the kernel's default
    // 50 us of timer slack later: that slack, taken on every answer's last
    // byte, was a measurable share of each exchange's time.
    PreciseWakeups();
    std::vector<uint8_t> pending;
    uint8_t buf[4096];
    double listen_until = 0;
    while (!g_stop) {
        bool handed = false;
        if (!hand_over(controller, pending, &handed))
            return 1;

        if (feed(controller) && after_input)
            after_input();

        pollfd p{master_, static_cast<short>(POLLIN | (pending.empty() ? 0 : POLLOUT)), 0};
        timespec ts{};
        timespec *timeout = nullptr;
        const double next = controller.next_arrival();
        if (handed && pending.empty() && !std::isfinite(next))
            listen_until = now_seconds() + kListenAfterAnswer;
        // The last byte queued ends an answer, and the host's next request
        // waits for it: that one is woken for a little early and then waited
        // for to the microsecond, where a timer alone often fires 30-100 us
        // late on a virtual machine and every exchange would carry that.
        const bool last = std::isfinite(next) && !std::isfinite(controller.arrival_of(2));
        if (last && next - now_seconds() <= kPunctualLead) {
            while (now_seconds() < next) {
            }
            continue;
        }
        double wait = std::numeric_limits<double>::infinity();
        if (std::isfinite(next)) {
            wait = next - now_seconds() - (last ? kPunctualLead : 0.0);
        } else if (now_seconds() < listen_until) {
            // Zero: look, and come straight back. The yield lets the
            // terminal's kernel worker, which carries bytes between the two
            // ends, run on this CPU instead of queueing behind the watch.
            wait = 0;
            sched_yield();
        }
        wait = std::min(wait, feed_due(controller) - now_seconds());
        if (std::isfinite(wait)) {
            wait = std::max(0.0, wait);
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
                input_.insert(input_.end(), buf, buf + got);
                if (feed(controller) && after_input)
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

// ---------------------------------------------------------------- command line

const char *const kUsage = R"(Usage: qvar-sim [options]
Serves a simulated Q-VAR-RDX3 controller on a pseudo-terminal. The first line
printed is the terminal's path; open it like a serial port (19200 8N1).

  --port N             also show the terminal to the host as serial port N
  --unpaced            deliver answers at once instead of at 19200 baud
  --seed N             seed of the simulated signals (default 1)
  --eeprom FILE        keep the EEPROM in FILE across runs
  --silent             take requests, answer none
  --mute ORDER[,...]   leave these orders unanswered
  --delay S            start every answer S seconds late
  --split N[:GAP]      send every answer in N pieces, GAP seconds apart (0.05)
  --surplus N          add N bytes of noise behind every answer frame
  --corrupt WORD       invert data word WORD (0..15) of every answer frame
  --echo 0xHHHH        answer the echo check with this word instead of 0x00AA
  --firmware KIND      firmware text: short (40 bytes), long (80), unterminated
  --dead-after N       stop taking requests after N of them
  --number WORD        put the answer's running number (1, 2, ...) into live
                       value word WORD (0..15) of every live-value answer
  --garbage N[:S]      put N bytes of noise on the line every S seconds (1),
                       ahead of a live-value answer; each burst opens with a
                       frame head of another device (AA 55)
  --hit S              every S seconds a live-value answer arrives with its
                       first four bytes damaged (that answer is lost)
  --help               show this text

Ends cleanly on Ctrl-C or SIGTERM.
)";

namespace {

long long to_int(std::string_view opt, std::string_view s, long long lo, long long hi)
{
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        s.remove_prefix(2);
        base = 16;
    }
    long long v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
    if (ec != std::errc() || end != s.data() + s.size() || s.empty() || v < lo || v > hi)
        throw BadOption(std::string(opt) + ": expected a whole number " + std::to_string(lo) +
                        ".." + std::to_string(hi));
    return v;
}

double to_seconds(std::string_view opt, const std::string &s)
{
    size_t used = 0;
    double v = -1;
    try {
        v = std::stod(s, &used);
    } catch (const std::exception &) {
        used = 0;
    }
    if (used != s.size() || s.empty() || !(v >= 0) || v > 3600)
        throw BadOption(std::string(opt) + ": expected seconds, 0..3600");
    return v;
}

// One option word and its value, given as --opt=value or as the next word.
class OptionWord {
public:
    OptionWord(const std::vector<std::string> &args, size_t &i) : args_(args), i_(i), opt_(args[i])
    {
        if (const auto eq = opt_.find('='); opt_.rfind("--", 0) == 0 && eq != std::string::npos) {
            value_ = opt_.substr(eq + 1);
            opt_.resize(eq);
            hasValue_ = true;
        }
    }
    const std::string &name() const { return opt_; }
    const std::string &value()
    {
        if (!hasValue_) {
            if (i_ + 1 >= args_.size())
                throw BadOption(opt_ + ": missing value");
            value_ = args_[++i_];
            hasValue_ = true;
        }
        return value_;
    }
    bool flag() const
    {
        if (hasValue_)
            throw BadOption(opt_ + ": takes no value");
        return true;
    }

private:
    const std::vector<std::string> &args_;
    size_t &i_;
    std::string opt_, value_;
    bool hasValue_ = false;
};

std::vector<uint16_t> order_list(const std::string &opt, std::string_view list)
{
    std::vector<uint16_t> orders;
    while (true) {
        const auto comma = list.find(',');
        orders.push_back(static_cast<uint16_t>(to_int(opt, list.substr(0, comma), 0, 0xFFFF)));
        if (comma == std::string_view::npos)
            return orders;
        list.remove_prefix(comma + 1);
    }
}

sim::Faults::Firmware firmware_kind(const std::string &v)
{
    if (v == "short")
        return sim::Faults::Firmware::short_text;
    if (v == "long")
        return sim::Faults::Firmware::long_text;
    if (v == "unterminated")
        return sim::Faults::Firmware::unterminated;
    throw BadOption("--firmware: expected short, long or unterminated");
}

// The fault options; false if `w` is none of them.
bool fault_option(OptionWord &w, sim::Faults &f)
{
    const std::string &opt = w.name();
    if (opt == "--silent") {
        f.silent = w.flag();
    } else if (opt == "--mute") {
        f.mute = order_list(opt, w.value());
    } else if (opt == "--delay") {
        f.delay = to_seconds(opt, w.value());
    } else if (opt == "--split") {
        const std::string &v = w.value();
        const auto colon = v.find(':');
        f.split = static_cast<int>(to_int(opt, std::string_view(v).substr(0, colon), 1, 36));
        f.split_gap = colon == std::string::npos ? 0.05 : to_seconds(opt, v.substr(colon + 1));
    } else if (opt == "--surplus") {
        f.surplus = static_cast<int>(to_int(opt, w.value(), 0, 1000));
    } else if (opt == "--corrupt") {
        f.corrupt_word = static_cast<int>(to_int(opt, w.value(), 0, 15));
    } else if (opt == "--echo") {
        f.echo_word = static_cast<uint16_t>(to_int(opt, w.value(), 0, 0xFFFF));
    } else if (opt == "--firmware") {
        f.firmware = firmware_kind(w.value());
    } else if (opt == "--dead-after") {
        f.dead_after = static_cast<long>(to_int(opt, w.value(), 0, LONG_MAX));
    } else if (opt == "--number") {
        f.number_word = static_cast<int>(to_int(opt, w.value(), 0, 15));
    } else if (opt == "--garbage") {
        const std::string &v = w.value();
        const auto colon = v.find(':');
        f.garbage = static_cast<int>(to_int(opt, std::string_view(v).substr(0, colon), 1, 4096));
        f.garbage_every = colon == std::string::npos ? 1.0 : to_seconds(opt, v.substr(colon + 1));
    } else if (opt == "--hit") {
        f.hit_every = to_seconds(opt, w.value());
    } else {
        return false;
    }
    return true;
}

} // namespace

Options parse_options(const std::vector<std::string> &args)
{
    Options o;
    for (size_t i = 0; i < args.size(); ++i) {
        OptionWord w(args, i);
        const std::string &opt = w.name();
        if (opt == "--help" || opt == "-h") {
            o.help = w.flag();
        } else if (opt == "--port") {
            o.port = static_cast<int>(to_int(opt, w.value(), 1, 255));
        } else if (opt == "--unpaced") {
            o.unpaced = w.flag();
        } else if (opt == "--seed") {
            o.seed = static_cast<uint64_t>(to_int(opt, w.value(), 0, LLONG_MAX));
        } else if (opt == "--eeprom") {
            o.eeprom = w.value();
            if (o.eeprom.empty())
                throw BadOption("--eeprom: empty file name");
        } else if (!fault_option(w, o.faults)) {
            throw BadOption("unknown option " + opt);
        }
    }
    return o;
}
// ---------------------------------------------------------------- EEPROM file

bool create_eeprom_file(const std::string &path, const sim::Controller &controller, std::string *error)
{
    // Tried first on its own, so the message can say why: the stream that
    // writes it keeps the system's reason to itself.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        *error = path + ": cannot create the EEPROM file: " + std::strerror(errno);
        return false;
    }
    ::close(fd);
    return controller.save_eeprom(path, error);
}

bool load_eeprom_file(const std::string &path, sim::Controller &controller, bool *missing,
                      std::string *error)
{
    *missing = false;
    // Non-blocking, so a FIFO cannot hang the start; the controller then
    // reads what this descriptor has open, not whatever the name means by then.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *missing = errno == ENOENT;
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st{};
    bool ok = false;
    if (::fstat(fd, &st) != 0)
        *error = path + ": " + std::strerror(errno);
    else if (!S_ISREG(st.st_mode))
        *error = path + ": not a regular file";
    else if (st.st_size > kMaxEepromFile)
        *error = path + ": larger than " + std::to_string(kMaxEepromFile / 1024) + " KiB, not an EEPROM file";
    else
        ok = controller.load_eeprom("/proc/self/fd/" + std::to_string(fd), error);
    ::close(fd);
    if (!ok && error->rfind("/proc/self/fd/", 0) == 0)
        *error = path + error->substr(error->find(':'));
    return ok;
}

} // namespace qvar::ptyserve
