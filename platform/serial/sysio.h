// sysio.h - the one doorway through which the serial backend and the port scan reach the kernel.
//
// Contract
// - Every system call of serial_posix.cpp and serial_ports.cpp goes through the
//   wrappers below, which call the entries of table(). Tests may replace an
//   entry, or make the Nth call of a kind fail with a chosen errno.
// - Wrappers return a value >= 0 on success and -errno on failure; an
//   interrupted call (EINTR) is retried inside the wrapper and never seen by
//   callers. close() is not retried: Linux frees the descriptor even then,
//   and an injected close failure still closes it, as the kernel would.
// - com_code() is the only translation from errno to the COM_ERR_ codes of
//   serial.h.
#pragma once

#include <dirent.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <termios.h>

#include <optional>
#include <string>
#include <vector>

namespace qvar::sysio {

enum class Call {
    Open, Close, Read, Write, Poll, TcGetAttr, TcSetAttr, TcFlush, Ioctl, Flock,
    ReadLink, Stat, LStat, FStat, Access, OpenDir, ReadDir, CloseDir, Count_
};

struct Table {
    int (*open)(const char *path, int flags, mode_t mode);
    int (*close)(int fd);
    ssize_t (*read)(int fd, void *buf, size_t n);
    ssize_t (*write)(int fd, const void *buf, size_t n);
    int (*poll)(struct pollfd *fds, nfds_t n, int timeoutMs);
    int (*tcgetattr)(int fd, struct termios *t);
    int (*tcsetattr)(int fd, int when, const struct termios *t);
    int (*tcflush)(int fd, int queue);
    int (*ioctl)(int fd, unsigned long request, void *arg);
    int (*flock)(int fd, int op);
    ssize_t (*readlink)(const char *path, char *buf, size_t n);
    int (*stat)(const char *path, struct stat *st);
    int (*lstat)(const char *path, struct stat *st);
    int (*fstat)(int fd, struct stat *st);
    int (*access)(const char *path, int mode);      // with the effective ids
    DIR *(*opendir)(const char *path);
    struct dirent *(*readdir)(DIR *d);
    int (*closedir)(DIR *d);
};

// The live table; entries may be swapped by tests. reset_table() restores the
// real calls and clears every injected fault and counter.
Table &table();
void reset_table();

// Makes the `nth` next call of `kind` (1 = the very next) fail with `err`,
// `times` times in a row. Calls that fail this way still count.
void fail_nth(Call kind, int nth, int err, int times = 1);
long call_count(Call kind);     // attempts made, retries included

// Wrappers: result >= 0, or -errno.
int  open(const std::string &path, int flags);
int  close(int fd);
long read(int fd, void *buf, size_t n);
long write(int fd, const void *buf, size_t n);
// Waits for `events` on fd for at most timeoutMs (< 0: no limit); returns the
// revents (0 on time-out). A retried wait only waits for what is left.
int  poll(int fd, short events, int timeoutMs);
int  tcgetattr(int fd, struct termios *t);
int  tcsetattr(int fd, const struct termios *t);
int  tcflush(int fd, int queue);
int  ioctl(int fd, unsigned long request, void *arg = nullptr);
int  flock(int fd, int op);

// Port scan helpers built on the table.
std::optional<std::string> readlink(const std::string &path);
bool exists(const std::string &path);               // follows links
bool is_link(const std::string &path);
std::optional<dev_t> char_device(const std::string &path);   // its device number, if it is one
std::optional<dev_t> char_device(int fd);                      // the same for an open descriptor
// 0 when the effective user may read and write `path`, else -errno.
int  access_rw(const std::string &path);
std::optional<std::string> read_small_file(const std::string &path, size_t max = 4096);
std::vector<std::string> list_dir(const std::string &path);   // names, no "." or ".."

// errno -> COM_ERR_ code. While opening, a refusal of any kind means the port
// exists but cannot be used (COM_ERR_CANNOT_OPEN); later the same errno
// means the line failed.
int com_code(int err, bool opening);

} // namespace qvar::sysio
