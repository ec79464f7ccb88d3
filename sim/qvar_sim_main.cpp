// qvar_sim_main.cpp - qvar-sim: serves the simulated controller on a pseudo-terminal.
#include "sim/ptyserve.h"
#include "sim/controller.h"

#include <array>
#include <charconv>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

using qvar::sim::Controller;
using qvar::sim::Faults;

constexpr const char *kUsage = R"(Usage: qvar-sim [options]
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
  --help               show this text

Ends cleanly on Ctrl-C or SIGTERM.
)";

struct BadOption : std::runtime_error {
    using std::runtime_error::runtime_error;
};

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

struct Options {
    std::optional<int> port;
    bool unpaced = false;
    uint64_t seed = 1;
    std::string eeprom;
    Faults faults;
    bool help = false;
};

Options parse(const std::vector<std::string> &args)
{
    Options o;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string opt = args[i], value;
        bool hasValue = false;
        if (const auto eq = opt.find('='); opt.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = opt.substr(eq + 1);
            opt.resize(eq);
            hasValue = true;
        }
        auto arg = [&]() -> const std::string & {
            if (!hasValue) {
                if (i + 1 >= args.size())
                    throw BadOption(opt + ": missing value");
                value = args[++i];
                hasValue = true;
            }
            return value;
        };
        auto flag = [&]() {
            if (hasValue)
                throw BadOption(opt + ": takes no value");
            return true;
        };

        if (opt == "--help" || opt == "-h") {
            o.help = flag();
        } else if (opt == "--port") {
            o.port = static_cast<int>(to_int(opt, arg(), 1, 255));
        } else if (opt == "--unpaced") {
            o.unpaced = flag();
        } else if (opt == "--seed") {
            o.seed = static_cast<uint64_t>(to_int(opt, arg(), 0, LLONG_MAX));
        } else if (opt == "--eeprom") {
            o.eeprom = arg();
            if (o.eeprom.empty())
                throw BadOption("--eeprom: empty file name");
        } else if (opt == "--silent") {
            o.faults.silent = flag();
        } else if (opt == "--mute") {
            std::string_view list = arg();
            while (true) {
                const auto comma = list.find(',');
                o.faults.mute.push_back(
                    static_cast<uint16_t>(to_int(opt, list.substr(0, comma), 0, 0xFFFF)));
                if (comma == std::string_view::npos)
                    break;
                list.remove_prefix(comma + 1);
            }
        } else if (opt == "--delay") {
            o.faults.delay = to_seconds(opt, arg());
        } else if (opt == "--split") {
            const std::string &v = arg();
            const auto colon = v.find(':');
            o.faults.split = static_cast<int>(to_int(opt, std::string_view(v).substr(0, colon), 1, 36));
            o.faults.split_gap = colon == std::string::npos ? 0.05 : to_seconds(opt, v.substr(colon + 1));
        } else if (opt == "--surplus") {
            o.faults.surplus = static_cast<int>(to_int(opt, arg(), 0, 1000));
        } else if (opt == "--corrupt") {
            o.faults.corrupt_word = static_cast<int>(to_int(opt, arg(), 0, 15));
        } else if (opt == "--echo") {
            o.faults.echo_word = static_cast<uint16_t>(to_int(opt, arg(), 0, 0xFFFF));
        } else if (opt == "--firmware") {
            const std::string &v = arg();
            if (v == "short")
                o.faults.firmware = Faults::Firmware::short_text;
            else if (v == "long")
                o.faults.firmware = Faults::Firmware::long_text;
            else if (v == "unterminated")
                o.faults.firmware = Faults::Firmware::unterminated;
            else
                throw BadOption("--firmware: expected short, long or unterminated");
        } else if (opt == "--dead-after") {
            o.faults.dead_after = static_cast<long>(to_int(opt, arg(), 0, LONG_MAX));
        } else {
            throw BadOption("unknown option " + args[i]);
        }
    }
    return o;
}

} // namespace

int main(int argc, char **argv)
{
    Options o;
    try {
        o = parse(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const BadOption &e) {
        std::cerr << "qvar-sim: " << e.what() << "\n(try qvar-sim --help)\n";
        return 2;
    }
    if (o.help) {
        std::cout << kUsage;
        return 0;
    }

    Controller controller(o.seed);
    controller.set_paced(!o.unpaced);
    controller.faults = o.faults;
    std::string error;
    if (!o.eeprom.empty() && std::filesystem::exists(o.eeprom)) {
        if (!controller.load_eeprom(o.eeprom, &error)) {
            std::cerr << "qvar-sim: " << error << "\n";
            return 2;
        }
        controller.reload_ram();   // a powered-up controller starts from its EEPROM
    }

    // Signals first: a stop that comes while the pty is being set up must
    // still end the run cleanly.
    qvar::ptyserve::PtyServer::install_stop_signals();
    qvar::ptyserve::PtyServer server;
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
    if (!o.eeprom.empty() && !std::filesystem::exists(o.eeprom) && !controller.save_eeprom(o.eeprom, &error))
        std::cerr << "qvar-sim: " << error << "\n";

    const int rc = server.run(controller, keep_eeprom);
    keep_eeprom();
    if (rc != 0)
        std::cerr << "qvar-sim: the terminal failed\n";
    return rc == 0 ? 0 : 1;
}
