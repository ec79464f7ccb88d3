// cli.h - qvar-cli: the controller from a shell. The commands run the tool's
// own link procedures (start exchange, Get, Send, Teach/Reset/Refresh, the
// live-value loop, the Data button's curve) and report through exit codes,
// standard output and, for the link's status texts, standard error.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

enum {
    CLI_OK          = 0,
    CLI_LINK        = 1,     // the controller did not answer, or answered wrongly
    CLI_USAGE       = 2,
    CLI_PORT        = 3,     // the port cannot be opened
    CLI_FILE        = 4,     // a file cannot be read or written, or holds no parameter set
    CLI_INTERRUPTED = 130,   // stopped by Ctrl-C (SIGINT)
};

struct CliOptions {
    std::string command;           // "" when only --help or --version was asked
    int port = 1;
    bool json = false;
    bool quiet = false;
    bool verbose = false;          // the link's counters on standard error at the end
    bool help = false;
    bool version = false;
    bool verify = false;
    int32_t memory = 0;            // RAM or EEPROM for get / send; 0 when not given
    std::string input;             // send's parameter file
    std::string output;            // -o FILE; "" for standard output
    double interval = -1;          // watch: seconds between requests; record: whole seconds
    long count = -1;               // watch: lines to print, -1 for no end
    long samples = -1;             // record: lines to write
    int source = -1;               // curve: graph source 0..7
};

// The whole program. Standard output and error are passed in so tests can
// run it inside their own process.
int CliRun(int argc, char *argv[], FILE *out, FILE *err);

// Reads the command line; CLI_OK or CLI_USAGE with the reason on `err`.
int ParseCliOptions(int argc, char *argv[], CliOptions *o, FILE *err);
// The usage text of `command` ("" for the program's).
const char *CliUsage(const std::string &command);

// The commands; each returns an exit code. Arguments and files are checked
// before anything goes to the port.
int CmdPorts(const CliOptions &o, FILE *out);
int CmdInfo(const CliOptions &o, FILE *out);
int CmdGet(const CliOptions &o, FILE *out);
int CmdSend(const CliOptions &o, FILE *out);
int CmdCommand(const CliOptions &o, FILE *out);    // teach, reset, refresh
int CmdWatch(const CliOptions &o, FILE *out);
int CmdRecord(const CliOptions &o, FILE *out);
int CmdCurve(const CliOptions &o, FILE *out);

// Shared by the commands (commands.cpp).
// Opens the port and runs the start exchange; CLI_OK when the echo check and
// both channel reads (and, with `needFirmware`, the firmware text) succeeded.
int OpenController(const CliOptions &o, bool needFirmware = false);
void CloseController(void);
// Tells the user why something failed: the link's last status text, unless it
// is already on standard error, or `text` when given.
void ReportFailure(const char *text);
// A parameter read of channel `channel` (0 A, 1 B) that got no answer.
void ReportUnansweredRead(int channel);
bool Quiet(void);
FILE *ErrorStream(void);
// The file given with -o must be one that can be written (a regular file or
// a new name, in a folder that exists and can be written); checked before
// the port is opened.
int CheckOutput(const CliOptions &o);
// `text` into the -o file, which it replaces only once the new one is whole,
// or onto `out` when there is none; CLI_OK or CLI_FILE after saying why.
int WriteOutput(const CliOptions &o, const std::string &text, FILE *out);
// Flushes `out`; CLI_OK, or CLI_FILE once it failed (said once, on standard
// error), so a full disk or a closed pipe is no silent success.
int CheckStandardOutput(FILE *out);
