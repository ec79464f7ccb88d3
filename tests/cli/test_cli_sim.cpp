// qvar-cli's commands run inside the test process against the built-in
// simulated controller, whose counters show what went over the line.
#define QVAR_HIDE_SYNC
#include "cli/cli.h"

#include "platform/clock.h"
#include "sim/controller.h"
#include "tests/support/full_disk.h"
#include "tests/support/process.h"
#include "tests/support/program.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace qvar_test;
using qvar::sim::Controller;
using ::testing::HasSubstr;

namespace {

struct Result {
    int code;
    std::string out, err;
};

std::string Slurp(FILE *f)
{
    std::string s;
    std::rewind(f);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        s.append(buf, n);
    std::fclose(f);
    return s;
}

Result Cli(std::vector<std::string> args)
{
    args.insert(args.begin(), "qvar-cli");
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    FILE *out = std::tmpfile(), *err = std::tmpfile();
    Result r;
    r.code = CliRun(int(args.size()), argv.data(), out, err);
    r.out = Slurp(out);
    r.err = Slurp(err);
    return r;
}

std::string Numbers(int n, unsigned base)
{
    std::string s;
    for (int i = 0; i < n; i++)
        s += std::to_string(base + unsigned(i)) + "\n";
    return s;
}

class CliSim : public ::testing::Test {
protected:
    void SetUp() override
    {
        IsolatePorts();
        sim = &FreshSim();
        dir = TempDir();
    }
    Controller *sim = nullptr;
    std::string dir;
};

} // namespace

// The start exchange of info is the tool's own: the same orders, as many
// frames and bytes as the tool's start-up sends.
TEST_F(CliSim, InfoRunsTheToolsStartExchange)
{
    ASSERT_TRUE(StartProgram());
    const uint64_t toolBytes = sim->bytes_received();
    const uint64_t toolFrames = sim->requests_total();
    StopProgram();
    sim = &FreshSim();

    Result r = Cli({"info"});
    EXPECT_EQ(r.code, CLI_OK) << r.err;
    EXPECT_EQ(r.out, sim->firmware_line() + "\n");
    EXPECT_THAT(r.err, HasSubstr("Echo Check - Line Ok!"));
    EXPECT_THAT(r.err, testing::EndsWith("Waiting for firmware info ...\n" + sim->firmware_line() + "\n"))
        << "the firmware text once";
    EXPECT_EQ(sim->requests(5), 1u);
    EXPECT_EQ(sim->requests(2), 2u);
    EXPECT_EQ(sim->requests(7), 1u);
    EXPECT_EQ(sim->requests_total(), toolFrames);
    EXPECT_EQ(sim->bytes_received(), toolBytes);

    // At line timing the fixed 0.05 s after the echo frame outlasts the
    // echo's own round trip, so the exchange cannot be shorter than this.
    sim = &FreshSim();
    sim->set_paced(true);
    const double exchange = 72 / sim->byte_rate();
    const double lineMinimum = 0.05 + 2 * exchange + 108 / sim->byte_rate();
    const double t0 = Timer();
    EXPECT_EQ(Cli({"info", "-q"}).code, CLI_OK);
    EXPECT_GE(Timer() - t0, lineMinimum);
    sim->set_paced(false);

    r = Cli({"info", "--json", "-q"});
    EXPECT_EQ(r.code, CLI_OK);
    EXPECT_EQ(r.err, "");
    EXPECT_THAT(r.out, HasSubstr("\"firmware\": \"" + sim->firmware_line() + "\""));
}

TEST_F(CliSim, SilentOrWrongControllerEndsWithTheStatusText)
{
    sim->faults.silent = true;
    const double t0 = Timer();
    Result r = Cli({"info", "-q"});
    // The echo read waits the port's 2 s time-out after the 0.05 s delay.
    EXPECT_LT(Timer() - t0, 2.05 + 3.0);
    EXPECT_EQ(r.code, CLI_LINK);
    EXPECT_EQ(r.err, "Timeout < 36 Bytes\n");
    EXPECT_EQ(sim->requests(2), 0u);

    sim = &FreshSim();
    sim->faults.echo_word = 0x00AB;
    r = Cli({"get", "--from", "ram"});
    EXPECT_EQ(r.code, CLI_LINK);
    EXPECT_THAT(r.err, HasSubstr("read error - not sync byte 0xAA!"));
    EXPECT_EQ(r.out, "");

    sim = &FreshSim();
    sim->faults.mute = {7};
    r = Cli({"info", "-q"});
    EXPECT_EQ(r.code, CLI_LINK);
    EXPECT_EQ(r.err, "Error reading firmware-info!\n");

    // A parameter read without an answer is named, whatever comes after it;
    // -v tells what the link met.
    sim = &FreshSim();
    sim->faults.mute = {2};
    r = Cli({"info", "-q", "-v"});
    EXPECT_EQ(r.code, CLI_LINK);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "qvar-cli: no answer to the parameter read of channel A (Timeout-RS-232...)\n"
                     "qvar-cli: link: 1 frames taken, 0 dropped, 2 time-outs, 0 bytes discarded, "
                     "0 requests repeated\n");
    r = Cli({"get", "--from", "ram", "-q"});
    EXPECT_EQ(r.code, CLI_LINK);
    EXPECT_THAT(r.err, HasSubstr("no answer to the parameter read of channel A"));
}

TEST_F(CliSim, SendVerifyThenGetRoundTripsTheFile)
{
    // Common words equal in both halves, as every file the tool saves has them.
    const std::string file = dir + "/set.cfg";
    Result got = Cli({"get", "--from", "eeprom", "-q", "-o", file});
    ASSERT_EQ(got.code, CLI_OK) << got.err;
    std::string text = ReadAll(file);
    // Change power and reference of both channels, keep the layout.
    text.replace(text.find("\n  500\n"), 7, "\n  777\n");
    text.replace(text.rfind("\n  500\n"), 7, "\n  888\n");
    WriteText(file, text);

    sim->reset_counters();
    Result sent = Cli({"send", "--to", "eeprom", "--verify", file});
    EXPECT_EQ(sent.code, CLI_OK) << sent.err;
    EXPECT_THAT(sent.err, HasSubstr("Transmit para B OK!"));
    EXPECT_EQ(sim->requests(3), 2u);
    EXPECT_EQ(sim->requests(4), 2u);
    EXPECT_EQ(sim->eeprom(0)[1], 777);
    EXPECT_EQ(sim->eeprom(1)[1], 888);

    Result back = Cli({"get", "--from", "eeprom", "-q"});
    EXPECT_EQ(back.code, CLI_OK);
    EXPECT_EQ(back.out, text);

    // What the controller holds otherwise is named word by word.
    sim->faults.corrupt_word = 3;
    Result bad = Cli({"send", "--to", "ram", "--verify", "-q", file});
    EXPECT_EQ(bad.code, CLI_LINK);
    EXPECT_THAT(bad.err, HasSubstr("channel A word 3 (tol)"));
    EXPECT_THAT(bad.err, HasSubstr("channel B word 3 (tol)"));
}

TEST_F(CliSim, BadParameterFilesAreRefusedBeforeAnythingIsSent)
{
    const std::string p = dir + "/p.cfg";
    struct Case {
        std::string text;
        const char *why;
    } cases[] = {
        {Numbers(31, 1), "holds fewer than 32 numbers (31)"},
        {Numbers(16, 1) + "12x\n" + Numbers(15, 1), "line 17: number 17 (12x) is not a number"},
        {Numbers(20, 1) + "65536\n" + Numbers(11, 1), "line 21: number 21 (65536) is above 65535"},
        {Numbers(33, 1), "line 33: a 33rd number (33)"},
        {Numbers(32, 1) + "end\n", "line 33: text after the 32nd number (end)"},
    };
    for (const Case &c : cases) {
        WriteText(p, c.text);
        Result r = Cli({"send", "--to", "eeprom", p});
        EXPECT_EQ(r.code, CLI_FILE) << c.why;
        EXPECT_THAT(r.err, HasSubstr(p + ": " + c.why));
    }
    const std::string fifo = dir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(Cli({"send", "--to", "ram", fifo}).code, CLI_FILE);
    EXPECT_EQ(Cli({"send", "--to", "ram", dir + "/missing.cfg"}).code, CLI_FILE);

    // Output files that cannot be written: named, before the port is opened.
    const std::string longName = dir + "/" + std::string(300, 'n') + ".cfg";
    const struct {
        std::vector<std::string> args;
        std::string why;
    } outputs[] = {
        {{"get", "--from", "ram", "-o", fifo}, fifo + ": not a regular file"},
        {{"get", "--from", "ram", "-o", "/nonexistent/x"}, "/nonexistent/x: No such file or directory"},
        {{"curve", "--source", "norm-a", "-o", p + "/x.csv"}, p + "/x.csv: Not a directory"},
        {{"record", "--interval", "1", "--samples", "3", "-o", longName}, longName + ": name too long"},
    };
    for (const auto &c : outputs) {
        Result r = Cli(c.args);
        EXPECT_EQ(r.code, CLI_FILE) << c.why;
        EXPECT_EQ(r.err, "qvar-cli: " + c.why + "\n");
    }

    // Usage errors, likewise before the port.
    EXPECT_EQ(Cli({"send", "--to", "flash", p}).code, CLI_USAGE);
    EXPECT_EQ(Cli({"get"}).code, CLI_USAGE);
    EXPECT_EQ(Cli({"watch", "--count", "0"}).code, CLI_USAGE);
    EXPECT_EQ(Cli({"record", "--interval", "1.5", "--samples", "3", "-o", p}).code, CLI_USAGE);
    EXPECT_EQ(Cli({"teach", "--json"}).code, CLI_USAGE);
    EXPECT_EQ(sim->bytes_received(), 0u);

    Result help = Cli({"send", "--help"});
    EXPECT_EQ(help.code, CLI_OK);
    EXPECT_THAT(help.out, HasSubstr("Usage: qvar-cli send"));
}

// On a full disk every file qvar-cli writes keeps what it held, the exit
// status is 4 and standard error says why.
TEST_F(CliSim, OutputsOnAFullDiskKeepTheFilesThere)
{
    FullDisk disk;
    const std::string earlier = "an earlier file\n";
    for (const char *name : {"set.cfg", "curve.csv", "rec.dat"})
        WriteText(disk.file(name), earlier);
    disk.Fill();
    const std::vector<std::string> commands[] = {
        {"get", "--from", "ram", "-q", "-o", disk.file("set.cfg")},
        {"curve", "--source", "norm-a", "-q", "-o", disk.file("curve.csv")},
        {"record", "--interval", "0", "--samples", "3", "-q", "-o", disk.file("rec.dat")},
    };
    for (const auto &args : commands) {
        SCOPED_TRACE(args[0] + (disk.mounted() ? " on tmpfs" : " through the file service"));
        Result r = Cli(args);
        EXPECT_EQ(r.code, CLI_FILE);
        EXPECT_THAT(r.err, HasSubstr(args.back() + ": "));
        EXPECT_THAT(r.err, HasSubstr("No space left on device"));
        EXPECT_EQ(ReadAll(args.back()), earlier);
    }
    EXPECT_EQ(disk.Entries(), (std::vector<std::string>{"curve.csv", "rec.dat", "set.cfg"}));
}

TEST_F(CliSim, CommandsCarryTheirOrderAndPrintChannelAReadBack)
{
    const struct {
        const char *command;
        uint16_t order;
    } commands[] = {{"teach", 6}, {"reset", 10}, {"refresh", 11}};
    for (auto c : commands) {
        sim = &FreshSim();
        Result r = Cli({c.command, "-q"});
        EXPECT_EQ(r.code, CLI_OK) << c.command << r.err;
        EXPECT_EQ(sim->requests(c.order), 1u) << c.command;
        // Two reads in the start exchange, one read-back.
        EXPECT_EQ(sim->requests(2), 3u) << c.command;
        std::string expect;
        for (int i = 0; i < 16; i++)
            expect += std::to_string(sim->ram(0)[size_t(i)]) + (i == 15 ? "\n" : "\t");
        EXPECT_EQ(r.out, expect) << c.command;
    }
    sim = &FreshSim();
    sim->faults.mute = {6};
    EXPECT_EQ(Cli({"teach", "-q"}).code, CLI_LINK);
}

TEST_F(CliSim, WatchPrintsTheAskedLinesAndRecordKeepsItsFormat)
{
    Result r = Cli({"watch", "--count", "100", "-q"});
    EXPECT_EQ(r.code, CLI_OK) << r.err;
    std::istringstream lines(r.out);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line.rfind("valNORMA\tvalNORMB\tadcCHA\tadcCHB\t", 0), 0u);
    int n = 0;
    std::string last;
    while (std::getline(lines, line)) {
        n++;
        last = line;
        EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 15) << line;
    }
    EXPECT_EQ(n, 100);
    EXPECT_EQ(sim->requests(8), 100u);
    // The last line is the controller's last answer.
    std::string expect;
    for (size_t i = 0; i < 16; i++)
        expect += std::to_string(sim->live_values()[i]) + (i == 15 ? "" : "\t");
    EXPECT_EQ(last, expect);

    // Every S seconds: one request each, S apart.
    sim->reset_counters();
    const double t0 = Timer();
    r = Cli({"watch", "--count", "3", "--interval", "0.3", "-q"});
    EXPECT_EQ(r.code, CLI_OK);
    EXPECT_GE(Timer() - t0, 0.6);
    EXPECT_EQ(sim->requests(8), 3u);

    const std::string file = dir + "/rec.dat";
    r = Cli({"record", "--interval", "0", "--samples", "5", "-o", file, "-q"});
    EXPECT_EQ(r.code, CLI_OK) << r.err;
    std::string text = ReadAll(file);
    EXPECT_EQ(text.rfind("Q-VAR-RDX3-RECORDER-FILE: Time-Interval[s]: 0\n", 0), 0u);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6);
}

TEST_F(CliSim, CurveFollowsTheDataButtonsTable)
{
    // The factory set's trigger mode takes the NORM curves only.
    Result r = Cli({"curve", "--source", "norm-b", "-q"});
    ASSERT_EQ(r.code, CLI_OK) << r.err;
    const auto points = sim->curve(1);
    std::istringstream lines(r.out);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "point,value,maximum,minimum,reference,trigger step");
    int i = 0;
    while (std::getline(lines, line)) {
        std::string start = std::to_string(i) + "," + std::to_string(points[size_t(i)]) + ",";
        EXPECT_EQ(line.rfind(start, 0), 0u) << line;
        i++;
    }
    EXPECT_EQ(i, 128);
    EXPECT_EQ(sim->requests(9), 8u);

    sim = &FreshSim();
    r = Cli({"curve", "--source", "max-a"});
    EXPECT_EQ(r.code, CLI_LINK);
    EXPECT_THAT(r.err, HasSubstr("No valid DATA available for this source."));
    EXPECT_EQ(sim->requests(9), 0u);
}
