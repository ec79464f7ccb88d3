// qvar-sim: serves the simulated controller on a pseudo-terminal.
#include "sim/ptyserve.h"
#include "sim/controller.h"

#include <array>
#include <iostream>
#include <string>
#include <vector>

using qvar::sim::Controller;
namespace ps = qvar::ptyserve;

int main(int argc, char **argv)
{
    ps::Options o;
    try {
        o = ps::parse_options(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const ps::BadOption &e) {
        std::cerr << "qvar-sim: " << e.what() << "\n(try qvar-sim --help)\n";
        return 2;
    }
    if (o.help) {
        std::cout << ps::kUsage;
        return 0;
    }

    Controller controller(o.seed);
    controller.set_paced(!o.unpaced);
    controller.faults = o.faults;
    std::string error;
    bool missing = false;
    if (!o.eeprom.empty()) {
        // A file that is not there yet starts from the factory set; one that
        // cannot be made either is said now, not after a session's changes
        // failed to be kept.
        if (ps::load_eeprom_file(o.eeprom, controller, &missing, &error)) {
            controller.reload_ram();   // a powered-up controller starts from its EEPROM
        } else if (!missing || !ps::create_eeprom_file(o.eeprom, controller, &error)) {
            std::cerr << "qvar-sim: " << error << "\n";
            return 2;
        }
    }

    // Signals first: a stop that comes while the pty is being set up must
    // still end the run cleanly.
    ps::PtyServer::install_stop_signals();
    ps::PtyServer server;
    if (!server.open(&error)) {
        std::cerr << "qvar-sim: " << error << "\n";
        return 1;
    }
    if (o.port && !server.pin_port(*o.port, &error)) {
        std::cerr << "qvar-sim: " << error << "\n";
        return 1;
    }
    std::cout << server.path() << std::endl;
    if (o.port)
        std::cerr << "qvar-sim: serving as port " << *o.port << " (" << server.pin_path() << ")\n";

    // The EEPROM is written through as soon as the host changes it, so a
    // killed server loses nothing.
    auto saved = std::array{controller.eeprom(0), controller.eeprom(1)};
    auto keep_eeprom = [&] {
        const auto now = std::array{controller.eeprom(0), controller.eeprom(1)};
        if (o.eeprom.empty() || now == saved)
            return;
        if (controller.save_eeprom(o.eeprom, &error))
            saved = now;
        else
            std::cerr << "qvar-sim: " << error << "\n";
    };
    const int rc = server.run(controller, keep_eeprom);
    keep_eeprom();
    if (server.dropped_requests() > 0)
        std::cerr << "qvar-sim: dropped " << server.dropped_requests()
                  << " request bytes: the host sent faster than the line answers\n";
    if (rc != 0)
        std::cerr << "qvar-sim: the terminal failed\n";
    return rc == 0 ? 0 : 1;
}
