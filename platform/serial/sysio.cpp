// sysio.cpp - the system-call table behind the serial backend and the port scan, with fault injection.
#include "platform/serial/sysio.h"

#include "platform/serial/serial.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace qvar::sysio {
namespace {

// ::open and ::ioctl are variadic; the table wants plain signatures.
int real_open(const char *path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int real_ioctl(int fd, unsigned long request, void *arg) { return ::ioctl(fd, request, arg); }
int real_tcsetattr(int fd, int when, const struct termios *t) { return ::tcsetattr(fd, when, t); }
int real_access(const char *path, int mode) { return ::faccessat(AT_FDCWD, path, mode, AT_EACCESS); }

Table real_table()
{
    return Table{real_open, ::close, ::read, ::write, ::poll, ::tcgetattr, real_tcsetattr,
                 ::tcflush, real_ioctl, ::flock, ::readlink, ::stat, ::lstat, ::fstat,
                 real_access, ::opendir, ::readdir, ::closedir};
}

constexpr size_t kKinds = static_cast<size_t>(Call::Count_);

struct Fault {
    long at = 0;      // call number (1-based, counted from when it was set) that fails first
    int times = 0;
    int err = 0;
    long seen = 0;
};

struct State {
    Table table = real_table();
    std::array<long, kKinds> calls{};
    std::array<Fault, kKinds> faults{};
};

State &state()
{
    static State s;
    return s;
}

// Counts the call and says which errno, if any, a test wants it to fail with.
int injected(Call kind)
{
    State &s = state();
    const size_t k = static_cast<size_t>(kind);
    ++s.calls[k];
    Fault &f = s.faults[k];
    if (f.times <= 0)
        return 0;
    ++f.seen;
    if (f.seen < f.at)
        return 0;
    --f.times;
    return f.err;
}

// The single place where an interrupted call is repeated. `call` returns the
// raw result and leaves errno as the system set it; an injected fault stands
// in for errno without touching the kernel.
template <typename F>
long invoke(Call kind, F call)
{
    for (;;) {
        long r;
        int err;
        if (int fake = injected(kind)) {
            r = -1;
            err = fake;
        } else {
            errno = 0;
            r = static_cast<long>(call());
            err = errno;
        }
        if (r >= 0)
            return r;
        if (err == EINTR)
            continue;
        return -(err ? err : EIO);
    }
}

} // namespace

Table &table() { return state().table; }

void reset_table()
{
    state() = State{};
}

void fail_nth(Call kind, int nth, int err, int times)
{
    Fault &f = state().faults[static_cast<size_t>(kind)];
    f = Fault{};
    f.at = nth < 1 ? 1 : nth;
    f.times = times;
    f.err = err;
}

long call_count(Call kind) { return state().calls[static_cast<size_t>(kind)]; }

int open(const std::string &path, int flags)
{
    return static_cast<int>(invoke(Call::Open, [&] { return table().open(path.c_str(), flags, 0); }));
}

// Linux releases the descriptor whatever close reports, so an injected
// failure must not leave it (and the lock on the device) behind either.
int close(int fd)
{
    if (int fake = injected(Call::Close)) {
        table().close(fd);
        return fake == EINTR ? 0 : -fake;
    }
    errno = 0;
    const int r = table().close(fd);
    const int err = errno;
    if (r >= 0 || err == EINTR)   // interrupted: the descriptor is gone all the same
        return 0;
    return -(err ? err : EIO);
}

long read(int fd, void *buf, size_t n)
{
    return invoke(Call::Read, [&] { return table().read(fd, buf, n); });
}

long write(int fd, const void *buf, size_t n)
{
    return invoke(Call::Write, [&] { return table().write(fd, buf, n); });
}

int poll(int fd, short events, int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    long r = invoke(Call::Poll, [&] {
        int left = timeoutMs;
        if (timeoutMs > 0) {
            auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            left = rest.count() > 0 ? static_cast<int>(rest.count()) : 0;
        }
        struct pollfd p{fd, events, 0};
        int n = table().poll(&p, 1, left);
        return n > 0 ? static_cast<int>(p.revents) : n;
    });
    return static_cast<int>(r);
}

int tcgetattr(int fd, struct termios *t)
{
    return static_cast<int>(invoke(Call::TcGetAttr, [&] { return table().tcgetattr(fd, t); }));
}

int tcsetattr(int fd, const struct termios *t)
{
    return static_cast<int>(invoke(Call::TcSetAttr, [&] { return table().tcsetattr(fd, TCSANOW, t); }));
}

int tcflush(int fd, int queue)
{
    return static_cast<int>(invoke(Call::TcFlush, [&] { return table().tcflush(fd, queue); }));
}

int ioctl(int fd, unsigned long request, void *arg)
{
    return static_cast<int>(invoke(Call::Ioctl, [&] { return table().ioctl(fd, request, arg); }));
}

int flock(int fd, int op)
{
    return static_cast<int>(invoke(Call::Flock, [&] { return table().flock(fd, op); }));
}

std::optional<std::string> readlink(const std::string &path)
{
    char buf[4096];
    long n = invoke(Call::ReadLink, [&] { return table().readlink(path.c_str(), buf, sizeof buf); });
    if (n < 0 || static_cast<size_t>(n) >= sizeof buf)
        return std::nullopt;
    return std::string(buf, static_cast<size_t>(n));
}

bool exists(const std::string &path)
{
    struct stat st;
    return invoke(Call::Stat, [&] { return table().stat(path.c_str(), &st); }) == 0;
}

bool is_link(const std::string &path)
{
    struct stat st;
    if (invoke(Call::LStat, [&] { return table().lstat(path.c_str(), &st); }) != 0)
        return false;
    return S_ISLNK(st.st_mode);
}

std::optional<dev_t> char_device(const std::string &path)
{
    struct stat st;
    if (invoke(Call::Stat, [&] { return table().stat(path.c_str(), &st); }) != 0 || !S_ISCHR(st.st_mode))
        return std::nullopt;
    return st.st_rdev;
}

std::optional<dev_t> char_device(int fd)
{
    struct stat st;
    if (invoke(Call::FStat, [&] { return table().fstat(fd, &st); }) != 0 || !S_ISCHR(st.st_mode))
        return std::nullopt;
    return st.st_rdev;
}

int access_rw(const std::string &path)
{
    return static_cast<int>(invoke(Call::Access, [&] { return table().access(path.c_str(), R_OK | W_OK); }));
}

std::optional<std::string> read_small_file(const std::string &path, size_t max)
{
    // Non-blocking so that a sysfs or proc attribute can never stall the scan.
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return std::nullopt;
    struct stat st;
    bool regular = invoke(Call::Stat, [&] { return table().stat(path.c_str(), &st); }) == 0 &&
                   S_ISREG(st.st_mode);
    std::string out;
    if (regular) {
        char buf[512];
        while (out.size() < max) {
            long n = read(fd, buf, std::min(sizeof buf, max - out.size()));
            if (n <= 0)
                break;
            out.append(buf, static_cast<size_t>(n));
        }
    }
    close(fd);
    if (!regular)
        return std::nullopt;
    return out;
}

std::vector<std::string> list_dir(const std::string &path)
{
    std::vector<std::string> names;
    DIR *d = nullptr;
    invoke(Call::OpenDir, [&] {
        d = table().opendir(path.c_str());
        return d ? 0 : -1;
    });
    if (!d)
        return names;
    for (;;) {
        struct dirent *e = nullptr;
        long r = invoke(Call::ReadDir, [&] {
            e = table().readdir(d);
            // End of the folder leaves errno 0; only a real error gives -1.
            return e || errno == 0 ? 0 : -1;
        });
        if (r < 0 || !e)
            break;
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.emplace_back(e->d_name);
    }
    invoke(Call::CloseDir, [&] { return table().closedir(d); });
    return names;
}

int com_code(int err, bool opening)
{
    if (err < 0)
        err = -err;
    switch (err) {
    case 0:
        return 0;
    case EINVAL:
        return COM_ERR_PARAMETER;
    case ETIMEDOUT:
        return COM_ERR_TIMEOUT;
    case EIO: case ENXIO: case ENODEV: case EPIPE: case EBADF: case EHOSTDOWN: case ENOTCONN:
    case EBUSY: case EACCES: case EPERM: case ENOENT: case ENOTDIR: case ELOOP: case EROFS:
    case ENOTTY: case EISDIR: case EAGAIN: case ETXTBSY:
        return opening ? COM_ERR_CANNOT_OPEN : COM_ERR_IO;
    default:
        return opening ? COM_ERR_CANNOT_OPEN : COM_ERR_SYSTEM;
    }
}

} // namespace qvar::sysio
