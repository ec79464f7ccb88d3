// options.cpp - qvar-cli's command line: commands, options and usage texts.
// Every value is checked here, so a bad command line never reaches the port.
#include "cli/cli.h"

#include "state/qvar.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cctype>
#include <cstring>

namespace {

const char *const COMMANDS[] = {"ports", "info",  "get",   "send",  "teach",
                                "reset", "refresh", "watch", "record", "curve"};

const char USAGE[] =
    "Usage: qvar-cli COMMAND [options]\n"
    "The Q-VAR-RDX3 controller from a shell, over the same link as qvar-scope.\n"
    "\n"
    "Commands:\n"
    "  ports                     list the serial ports by number\n"
    "  info                      start exchange; print the firmware text\n"
    "  get --from ram|eeprom     both channels' parameters as a parameter file\n"
    "  send --to ram|eeprom FILE send a parameter file (--verify reads it back)\n"
    "  teach | reset | refresh   the command, then channel A read back\n"
    "  watch                     live values, one tab-separated line each\n"
    "  record                    live values into a recorder file\n"
    "  curve --source NAME       the 128-point data curve as CSV\n"
    "\n"
    "Options for every command:\n"
    "  --port N     serial port number, as qvar-scope numbers them (default 1)\n"
    "  --json       machine-readable output (ports, info, get)\n"
    "  -q, --quiet  no status texts or progress on standard error\n"
    "  -v, --verbose  at the end, what the link met on the line: frames taken\n"
    "               and dropped, time-outs, bytes discarded (standard error)\n"
    "  --help       this text, or the command's with a command\n"
    "  --version    the program's version\n"
    "\n"
    "Exit status: 0 success; 1 the controller did not answer or answered wrongly;\n"
    "2 usage error; 3 the port cannot be opened; 4 file error; 130 Ctrl-C.\n";

struct CommandUsage {
    const char *command;
    const char *text;
};

const CommandUsage COMMAND_USAGE[] = {
    {"ports", "Usage: qvar-cli ports [--json]\n"
              "Lists the serial ports as qvar-scope's port selector does: number, device,\n"
              "description. The built-in simulated controller is the last number.\n"},
    {"info", "Usage: qvar-cli info [--port N] [--json]\n"
             "Runs the start exchange (echo check, both channels from RAM, firmware text)\n"
             "and prints the firmware text.\n"},
    {"get", "Usage: qvar-cli get --from ram|eeprom [-o FILE] [--port N] [--json]\n"
            "Reads both channels' parameter blocks and writes them as a parameter file\n"
            "(.cfg, as qvar-scope saves it) to FILE or standard output.\n"},
    {"send", "Usage: qvar-cli send --to ram|eeprom [--verify] FILE [--port N]\n"
             "Sends a parameter file: channel A, then channel B 0.1 s later. With --verify\n"
             "reads both back and names every word the controller holds otherwise.\n"},
    {"teach", "Usage: qvar-cli teach|reset|refresh [--port N]\n"
              "Sends the command with channel A's parameters as read by the start\n"
              "exchange, then reads channel A back from RAM and prints it.\n"},
    {"watch", "Usage: qvar-cli watch [--interval S] [--count N] [--port N]\n"
              "Prints the live values (channel A) as tab-separated lines under a header,\n"
              "as fast as the line allows or every S seconds, until N lines or Ctrl-C.\n"},
    {"record", "Usage: qvar-cli record --interval S --samples N -o FILE [--port N]\n"
               "Writes a recorder file as qvar-scope's data recorder does: one line every\n"
               "S whole seconds, N lines. Ctrl-C keeps every line written (exit 130).\n"},
    {"curve", "Usage: qvar-cli curve --source NAME [-o FILE] [--port N]\n"
              "Fetches the 128-point data curve as the Data button does and writes CSV:\n"
              "point, value, maximum, minimum, reference, trigger step.\n"
              "NAME: norm-a, norm-b, norm-ab, norm-t, max-a, max-b, min-a, min-b or 0..7.\n"},
};

const char *const SOURCE_NAMES[] = {"norm-a", "norm-b", "norm-ab", "norm-t",
                                    "max-a",  "max-b",  "min-a",   "min-b"};

bool SameWord(const char *a, const char *b)
{
    for (; *a && *b; a++, b++)
        if (std::tolower((unsigned char)*a) != std::tolower((unsigned char)*b))
            return false;
    return *a == *b;
}

bool IsCommand(const char *word)
{
    for (const char *c : COMMANDS)
        if (std::strcmp(c, word) == 0)
            return true;
    return false;
}

bool ToLong(const char *text, long lo, long hi, long *value)
{
    if (!text || !*text)
        return false;
    errno = 0;
    char *end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (errno != 0 || *end != 0 || v < lo || v > hi)
        return false;
    *value = v;
    return true;
}

bool ToSeconds(const char *text, double *value)
{
    if (!text || !*text)
        return false;
    char *end = nullptr;
    double v = std::strtod(text, &end);
    if (*end != 0 || !std::isfinite(v) || v < 0 || v > 86400)
        return false;
    *value = v;
    return true;
}

int SourceFromName(const char *name)
{
    long n = 0;
    if (ToLong(name, 0, 7, &n))
        return int(n);
    for (int i = 0; i < 8; i++)
        if (SameWord(name, SOURCE_NAMES[i]))
            return i;
    return -1;
}

int Bad(FILE *err, const char *what, const char *value)
{
    std::fprintf(err, "qvar-cli: %s%s%s\n(try qvar-cli --help)\n", what, value ? ": " : "",
                 value ? value : "");
    return CLI_USAGE;
}

// What each command takes beyond --port, --json, -q, -v and --help.
bool Takes(const std::string &command, const char *option)
{
    auto is = [&](const char *c) { return command == c; };
    if (!std::strcmp(option, "--from"))
        return is("get");
    if (!std::strcmp(option, "--to") || !std::strcmp(option, "--verify"))
        return is("send");
    if (!std::strcmp(option, "-o"))
        return is("get") || is("record") || is("curve");
    if (!std::strcmp(option, "--interval"))
        return is("watch") || is("record");
    if (!std::strcmp(option, "--count"))
        return is("watch");
    if (!std::strcmp(option, "--samples"))
        return is("record");
    if (!std::strcmp(option, "--source"))
        return is("curve");
    return false;
}

// Whether the options the command needs are all there.
int CheckComplete(const CliOptions &o, FILE *err)
{
    const std::string &c = o.command;
    if (o.json && c != "ports" && c != "info" && c != "get")
        return Bad(err, "--json goes with ports, info and get", nullptr);
    if (c == "get" && o.memory == 0)
        return Bad(err, "get needs --from ram or --from eeprom", nullptr);
    if (c == "send" && o.memory == 0)
        return Bad(err, "send needs --to ram or --to eeprom", nullptr);
    if (c == "send" && o.input.empty())
        return Bad(err, "send needs a parameter file", nullptr);
    if (c == "record") {
        if (o.interval < 0 || o.samples < 0 || o.output.empty())
            return Bad(err, "record needs --interval, --samples and -o FILE", nullptr);
        if (o.interval != std::floor(o.interval) || o.interval > 65535)
            return Bad(err, "record's --interval is whole seconds, 0..65535", nullptr);
    }
    if (c == "curve" && o.source < 0)
        return Bad(err, "curve needs --source", nullptr);
    return CLI_OK;
}

} // namespace

const char *CliUsage(const std::string &command)
{
    std::string key = (command == "reset" || command == "refresh") ? "teach" : command;
    for (const CommandUsage &u : COMMAND_USAGE)
        if (key == u.command)
            return u.text;
    return USAGE;
}

int ParseCliOptions(int argc, char *argv[], CliOptions *o, FILE *err)
{
    for (int i = 1; i < argc; i++) {
        const char *a = argv[i];
        auto value = [&](const char *name) -> const char * {
            if (i + 1 >= argc) {
                Bad(err, "missing value after", name);
                return nullptr;
            }
            return argv[++i];
        };
        if (!std::strcmp(a, "--help") || !std::strcmp(a, "-h")) {
            o->help = true;
        } else if (!std::strcmp(a, "--version")) {
            o->version = true;
        } else if (!std::strcmp(a, "--json")) {
            o->json = true;
        } else if (!std::strcmp(a, "-q") || !std::strcmp(a, "--quiet")) {
            o->quiet = true;
        } else if (!std::strcmp(a, "-v") || !std::strcmp(a, "--verbose")) {
            o->verbose = true;
        } else if (!std::strcmp(a, "--port")) {
            const char *v = value(a);
            long n = 0;
            if (!v)
                return CLI_USAGE;
            if (!ToLong(v, 1, 255, &n))
                return Bad(err, "--port: expected a port number 1..255, got", v);
            o->port = int(n);
        } else if (a[0] == '-' && a[1] != 0) {
            if (o->command.empty() || !Takes(o->command, a))
                return Bad(err, o->command.empty() ? "unknown option" : "option not taken by this command",
                           a);
            if (!std::strcmp(a, "--verify")) {
                o->verify = true;
                continue;
            }
            const char *v = value(a);
            if (!v)
                return CLI_USAGE;
            long n = 0;
            if (!std::strcmp(a, "--from") || !std::strcmp(a, "--to")) {
                if (SameWord(v, "ram"))
                    o->memory = RAM;
                else if (SameWord(v, "eeprom"))
                    o->memory = EEPROM;
                else
                    return Bad(err, "expected ram or eeprom, got", v);
            } else if (!std::strcmp(a, "-o")) {
                o->output = v;
            } else if (!std::strcmp(a, "--interval")) {
                if (!ToSeconds(v, &o->interval))
                    return Bad(err, "--interval: expected seconds 0..86400, got", v);
            } else if (!std::strcmp(a, "--count")) {
                if (!ToLong(v, 1, 1000000000L, &n))
                    return Bad(err, "--count: expected a number of lines, got", v);
                o->count = n;
            } else if (!std::strcmp(a, "--samples")) {
                // The recorder counts its lines in 16 bits.
                if (!ToLong(v, 1, 65535, &n))
                    return Bad(err, "--samples: expected 1..65535, got", v);
                o->samples = n;
            } else if (!std::strcmp(a, "--source")) {
                if ((o->source = SourceFromName(v)) < 0)
                    return Bad(err, "--source: unknown graph source", v);
            }
        } else if (o->command.empty()) {
            if (!IsCommand(a))
                return Bad(err, "unknown command", a);
            o->command = a;
        } else if (o->command == "send" && o->input.empty()) {
            o->input = a;
        } else {
            return Bad(err, "unexpected argument", a);
        }
    }
    if (o->help || o->version)
        return CLI_OK;
    if (o->command.empty())
        return Bad(err, "no command given", nullptr);
    return CheckComplete(*o, err);
}
