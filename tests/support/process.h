// process.h - test support for the programs built beside the tests: spawning
// one with its output on pipes, reading what it says, and small file reads.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace qvar_test {

// Path of a program built beside the test programs (qvar-sim, qvar-cli).
std::string Beside(const char *program);

// Call before the GUI run-time starts: on the offscreen platform, a screen
// of a desktop's size (Qt's own is smaller than the main panel, which would
// scroll there). A platform chosen otherwise, or a screen file given, stays.
void UseDesktopScreen();
// The offscreen platform with the screens of `jsonFile`, for QT_QPA_PLATFORM.
std::string OffscreenWith(const std::string &jsonFile);

// A spawned program; killed and reaped if the test leaves it running.
struct Child {
    pid_t pid = -1;
    int out = -1;      // standard output, read end
    int err = -1;      // standard error, read end (-1 when it went elsewhere)
    std::string firstLine;

    int Wait();        // exit status, 128 + signal when killed
    int Terminate();   // SIGTERM, then Wait()
    ~Child();
};

// Starts args[0] with `env` (the test's own environment when empty). Standard
// error goes to `errFd` when given (a terminal), else to a pipe.
bool Spawn(Child &c, std::vector<std::string> args, const std::vector<std::string> &env = {},
           int errFd = -1);

// Reads the child's first output line into c.firstLine; false if it closed
// or `seconds` passed first.
bool ReadFirstLine(Child &c, double seconds);

// Everything on `fd` until it closes (the child ended) or `seconds` passed.
std::string Drain(int fd, double seconds);

// A fresh folder under /tmp, removed with everything in it at the end.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// A whole file as bytes ("" if it cannot be read), and a file written whole.
std::string ReadAll(const std::string &path);
void WriteText(const std::string &path, const std::string &text);

// The names in a folder, sorted.
std::vector<std::string> Entries(const std::string &dir);

// An environment variable set (or, given nullptr, unset) for a scope.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const char *value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    const char *name_;
    std::optional<std::string> old_;
};

} // namespace qvar_test
