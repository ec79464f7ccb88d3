// serial_posix.cpp - the termios backend: one open serial device, raw, exclusive, non-blocking.
#include "platform/serial/serial.h"
#include "platform/serial/serial_backend.h"
#include "platform/serial/serial_internal.h"
#include "platform/serial/sysio.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>
#include <cmath>
#include <cstdio>

namespace qvar::serial {
namespace {

// The one list of baud rates: what the service accepts is what termios can set.
constexpr struct { long baud; speed_t speed; } kBauds[] = {
    {110, B110},       {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},
    {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
    {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

speed_t speed_of(long baud)
{
    for (const auto &b : kBauds)
        if (b.baud == baud)
            return b.speed;
    return B0;
}

tcflag_t size_of(int dataBits)
{
    switch (dataBits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
    }
}

class PosixBackend final : public Backend {
public:
    explicit PosixBackend(int fd) : fd_(fd) {}
    ~PosixBackend() override { sysio::close(fd_); }

    int receive(uint8_t *out, size_t max) override
    {
        if (max == 0)
            return 0;
        long n = sysio::read(fd_, out, max);
        if (n == -EAGAIN)
            return 0;
        if (n < 0)
            return sysio::com_code(static_cast<int>(n), false);
        return static_cast<int>(n);
    }

    int send(const uint8_t *data, size_t count) override
    {
        if (count == 0)
            return 0;
        long n = sysio::write(fd_, data, count);
        if (n == -EAGAIN)
            return 0;
        if (n < 0)
            return sysio::com_code(static_cast<int>(n), false);
        return static_cast<int>(n);
    }

    int wait_readable(double seconds) override
    {
        int ms = seconds <= 0 ? 0 : static_cast<int>(std::ceil(seconds * 1000.0));
        int r = sysio::poll(fd_, POLLIN, ms);
        if (r < 0)
            return sysio::com_code(r, false);
        // A hung-up line without data would make every later wait return at
        // once; callers would spin until their time-out.
        if ((r & (POLLERR | POLLNVAL)) || ((r & POLLHUP) && !(r & POLLIN)))
            return COM_ERR_IO;
        return 0;
    }

    void flush_input() override { sysio::tcflush(fd_, TCIFLUSH); }
    void flush_output() override { sysio::tcflush(fd_, TCOFLUSH); }

    int output_pending() const override
    {
        int n = 0;
        if (sysio::ioctl(fd_, TIOCOUTQ, &n) < 0)
            return 0;
        return n;
    }

    int poll_fd() const override { return fd_; }

    int set_handshake(bool on)
    {
        struct termios t;
        int r = sysio::tcgetattr(fd_, &t);
        if (r < 0)
            return sysio::com_code(r, false);
        if (on)
            t.c_cflag |= CRTSCTS;
        else
            t.c_cflag &= ~CRTSCTS;
        r = sysio::tcsetattr(fd_, &t);
        return r < 0 ? sysio::com_code(r, false) : 0;
    }

private:
    int fd_;
};

// Raw bytes both ways: no line editing, no echo, no translation, no software
// or hardware flow control, modem lines ignored (a bare three-wire cable has
// no carrier). Reads return at once with whatever is there.
int configure(int fd, long baud, int parity, int dataBits, int stopBits)
{
    struct termios t;
    int r = sysio::tcgetattr(fd, &t);
    if (r < 0)
        return r;
    cfmakeraw(&t);
    t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL);
    t.c_cflag |= CLOCAL | CREAD | size_of(dataBits);
    if (parity == 1)
        t.c_cflag |= PARENB | PARODD;
    else if (parity == 2)
        t.c_cflag |= PARENB;
    if (parity != 0)
        t.c_iflag |= INPCK;
    if (stopBits == 2)
        t.c_cflag |= CSTOPB;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, speed_of(baud));
    cfsetospeed(&t, speed_of(baud));
    return sysio::tcsetattr(fd, &t);
}

// Tells the user on standard error why a port cannot be had and what
// to do about it, and remembers it for the port selector. The tool and
// qvar-cli share this service: the text names whichever of them runs.
void refused(const std::string &device, int err)
{
    PortAccess access = PortAccess::Ok;
    if (err == -EACCES || err == -EPERM)
        access = PortAccess::Denied;
    else if (err == -EBUSY || err == -EWOULDBLOCK)
        access = PortAccess::InUse;
    note_access(device, access);
    if (access != PortAccess::Ok)
        std::fprintf(stderr, "%s: cannot open %s (%s): %s\n", program_invocation_short_name, device.c_str(),
                     access == PortAccess::Denied ? "no permission" : "in use",
                     ComAccessRemedy(access == PortAccess::Denied ? COM_ACCESS_DENIED : COM_ACCESS_IN_USE));
}

} // namespace

bool baud_supported(long baud) { return speed_of(baud) != B0; }

std::unique_ptr<Backend> open_posix(const std::string &device, long baud, int parity,
                                    int dataBits, int stopBits, int *code)
{
    *code = 0;
    if (speed_of(baud) == B0 || parity < 0 || parity > 2 || dataBits < 5 || dataBits > 8 ||
        stopBits < 1 || stopBits > 2) {
        *code = COM_ERR_PARAMETER;
        return nullptr;
    }
    // The console guard holds at every open, not only at the scan: a pinned
    // link can be re-pointed while the program runs. Checked on the name
    // before, and on what was really opened after, before any set-up.
    if (auto dev = sysio::char_device(device); dev && is_console_device(*dev)) {
        std::fprintf(stderr, "%s: %s is a console; not opened\n", program_invocation_short_name, device.c_str());
        *code = COM_ERR_CANNOT_OPEN;
        return nullptr;
    }
    int fd = sysio::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        refused(device, fd);
        *code = sysio::com_code(fd, true);
        return nullptr;
    }
    // From here on the backend owns fd and closes it on every failure path.
    auto backend = std::make_unique<PosixBackend>(fd);
    if (auto dev = sysio::char_device(fd); dev && is_console_device(*dev)) {
        std::fprintf(stderr, "%s: %s is a console; not opened\n", program_invocation_short_name, device.c_str());
        *code = COM_ERR_CANNOT_OPEN;
        return nullptr;
    }

    // TIOCEXCL keeps other programs out, but not a privileged one; the flock
    // also catches a second open from this process or a root-run tool that
    // plays by the same rules.
    int r = sysio::ioctl(fd, TIOCEXCL);
    if (r >= 0)
        r = sysio::flock(fd, LOCK_EX | LOCK_NB);
    if (r >= 0)
        r = configure(fd, baud, parity, dataBits, stopBits);
    if (r >= 0)
        r = sysio::tcflush(fd, TCIOFLUSH);   // bytes from before we owned the line
    if (r < 0) {
        refused(device, r);
        *code = sysio::com_code(r, true);
        return nullptr;
    }
    note_access(device, PortAccess::Ok);
    return backend;
}

int set_cts_handshake(Backend &backend, bool on)
{
    if (auto *posix = dynamic_cast<PosixBackend *>(&backend))
        return posix->set_handshake(on);
    return 0;
}

} // namespace qvar::serial
