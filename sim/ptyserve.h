// ptyserve.h - serves a simulated controller on a pseudo-terminal (for qvar-sim).
//
// Contract
// - open() creates a pty pair and sets the slave side raw; path() is the
//   slave's device path, which the host opens like any serial port. The server
//   keeps its own slave descriptor open so the line does not hang up while no
//   host has it open.
// - run() moves bytes between the master side and the controller, on the
//   controller's line timing, until SIGINT or SIGTERM arrives (or stop() is
//   called from a handler) and returns 0; nonzero after an I/O failure.
//   `after_input` runs after each batch of bytes the host wrote.
// - pin_port() makes the pty show up as port number N for the host (a link
//   com<N> in $XDG_CONFIG_HOME/qvar-scope/ports/, default
//   ~/.config/qvar-scope/ports/); the destructor removes that link again if
//   it still points at this pty.
#pragma once

#include <functional>
#include <string>

namespace qvar::sim { class Controller; }

namespace qvar::ptyserve {

class PtyServer {
public:
    PtyServer() = default;
    ~PtyServer();
    PtyServer(const PtyServer &) = delete;
    PtyServer &operator=(const PtyServer &) = delete;

    bool open(std::string *error);
    const std::string &path() const { return path_; }
    bool pin_port(int number, std::string *error);
    const std::string &pin_path() const { return link_; }
    int  run(sim::Controller &controller, const std::function<void()> &after_input = {});

    static void install_stop_signals();   // SIGINT and SIGTERM end run()
    static void stop();                   // async-signal-safe

private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
    std::string link_;
};

// The folder of pinned port links, from the environment.
std::string ports_dir();

} // namespace qvar::ptyserve
