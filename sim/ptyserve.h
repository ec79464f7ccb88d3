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
//   `after_input` runs after each batch of bytes the host wrote. For 1 ms
//   after each answer it watches the line without sleeping, so a request
//   sent right behind the answer is taken as a UART would take it; after that
//   it sleeps until a byte is due or the host writes.
// - pin_port() makes the pty show up as port number N for the host (a link
//   com<N> in $XDG_CONFIG_HOME/qvar-scope/ports/, default
//   ~/.config/qvar-scope/ports/); the destructor removes that link again if
//   it still points at this pty. The link folder is the serial service's
//   (ComPinnedPortsDir), so the host reads the pin where it is written.
// - The host's bytes reach the controller as the line carries them: at most
//   kLineInput bytes are on the line at a time, and at most kMaxQueuedInput
//   more wait behind them. A host that writes faster than the line carries
//   loses its oldest bytes beyond that, so the controller never answers a
//   request older than a few frames. Unpaced, the line carries everything at
//   once.
// - The controller's answers under way are bounded (kMaxBacklog bytes): a
//   host that floods requests faster than the line carries answers loses the
//   surplus requests instead of growing the server's memory without end.
//   dropped_requests() counts the bytes lost either way.
// - parse_options() reads qvar-sim's command line; load_eeprom_file() reads
//   its EEPROM file only if it is a regular file of sane size.
#pragma once

#include "sim/controller.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

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

    static constexpr size_t kMaxBacklog = 64 * 1024;
    static constexpr size_t kLineInput = 2 * sim::kFrameBytes;
    static constexpr size_t kMaxQueuedInput = 2 * sim::kFrameBytes;
    unsigned long long dropped_requests() const { return dropped_; }

private:
    bool take_request(sim::Controller &controller, const uint8_t *data, size_t n);
    bool feed(sim::Controller &controller);
    double feed_due(const sim::Controller &controller) const;
    bool hand_over(sim::Controller &controller, std::vector<uint8_t> &pending, bool *handed);

    unsigned long long dropped_ = 0;
    std::vector<uint8_t> input_;          // the host's bytes the line has not taken yet
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
    std::string link_;
};

// The folder of pinned port links; "" when the user has no home folder.
std::string ports_dir();

// qvar-sim's command line.
struct Options {
    std::optional<int> port;
    bool unpaced = false;
    uint64_t seed = 1;
    std::string eeprom;
    sim::Faults faults;
    bool help = false;
};

struct BadOption : std::runtime_error {
    using std::runtime_error::runtime_error;
};

extern const char *const kUsage;

// Throws BadOption with a message for the user.
Options parse_options(const std::vector<std::string> &args);

// An EEPROM file larger than this is refused: the real one is two lines.
constexpr long kMaxEepromFile = 64 * 1024;

// Loads `path` into the controller's EEPROM. Opened without blocking and
// refused unless it is a regular file of at most kMaxEepromFile bytes (a
// FIFO, a device such as /dev/zero, a huge file). `*missing` tells a file
// that does not exist (not an error: create_eeprom_file makes it).
bool load_eeprom_file(const std::string &path, sim::Controller &controller, bool *missing,
                      std::string *error);

// Creates the EEPROM file `path` that load_eeprom_file found missing, with
// the controller's EEPROM; false with the reason when it cannot be created.
bool create_eeprom_file(const std::string &path, const sim::Controller &controller, std::string *error);

} // namespace qvar::ptyserve
