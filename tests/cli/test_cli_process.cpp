// qvar-cli as a program, headless (no display, no platform plugin asked
// for), on qvar-sim's pseudo-terminal: the real termios path.
#include "cli/cli.h"

#include "platform/clock.h"
#include "tests/support/port_sandbox.h"
#include "tests/support/process.h"
#include "tests/support/program.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace fs = std::filesystem;
using namespace qvar_test;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace {

const char PORT[] = "42";

// The environment of a shell without a desktop, with the test's own pinned ports.
std::vector<std::string> HeadlessEnv(const std::string &config)
{
    std::vector<std::string> env;
    for (char **e = environ; *e; e++) {
        std::string v = *e;
        if (v.rfind("DISPLAY=", 0) == 0 || v.rfind("WAYLAND_DISPLAY=", 0) == 0 ||
            v.rfind("QT_QPA_PLATFORM=", 0) == 0 || v.rfind("XDG_CONFIG_HOME=", 0) == 0)
            continue;
        env.push_back(v);
    }
    env.push_back("XDG_CONFIG_HOME=" + config);
    return env;
}

struct Outcome {
    int code;
    std::string out, err;
};

class CliProcess : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!fs::exists(Beside("qvar-cli")) || !fs::exists(Beside("qvar-sim")))
            GTEST_SKIP() << "qvar-cli and qvar-sim are built beside the tests";
        dir = qvar_test::TempDir();
        env = HeadlessEnv(dir + "/config");
    }

    // qvar-sim serving port 42; false if it did not come up.
    bool StartSim(std::vector<std::string> extra = {})
    {
        std::vector<std::string> args = {Beside("qvar-sim"), "--port", PORT};
        args.insert(args.end(), extra.begin(), extra.end());
        return Spawn(sim, args, env) && ReadFirstLine(sim, 10.0);
    }

    Outcome Cli(std::vector<std::string> args, double seconds = 30.0)
    {
        args.insert(args.begin(), Beside("qvar-cli"));
        Child c;
        if (!Spawn(c, args, env))
            return {-1, "", ""};
        Outcome r;
        r.out = Drain(c.out, seconds);
        r.err = Drain(c.err, 1.0);
        r.code = c.Wait();
        return r;
    }

    std::string dir;
    std::vector<std::string> env;
    Child sim;
};

long CountLines(const std::string &text)
{
    return std::count(text.begin(), text.end(), '\n');
}

} // namespace

TEST_F(CliProcess, EveryCommandThroughThePseudoTerminal)
{
    ASSERT_TRUE(StartSim({"--unpaced"}));
    Outcome r = Cli({"ports"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr(std::string(PORT) + "\t" + sim.firstLine));

    r = Cli({"ports", "--json"});
    EXPECT_THAT(r.out, HasSubstr("{\"number\": " + std::string(PORT) + ", \"device\": \"" + sim.firstLine + "\""));
    // Pins through links whose names are UTF-8, and not: the first as it is,
    // the second with U+FFFD for its stray byte.
    const std::string ports = dir + "/config/qvar-scope/ports/";
    fs::create_symlink(sim.firstLine, dir + "/Ger\xc3\xa4t-\xc2\xb5");
    fs::create_symlink(dir + "/Ger\xc3\xa4t-\xc2\xb5", ports + "com43");
    fs::create_symlink(sim.firstLine, dir + "/odd-\xff");
    fs::create_symlink(dir + "/odd-\xff", ports + "com44");
    r = Cli({"ports", "--json"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("{\"number\": 43, \"device\": \"" + dir + "/Ger\xc3\xa4t-\xc2\xb5\""));
    EXPECT_THAT(r.out, HasSubstr("{\"number\": 44, \"device\": \"" + dir + "/odd-\\ufffd\""));
    fs::remove(ports + "com43");
    fs::remove(ports + "com44");

    r = Cli({"info", "--port", PORT});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("FW"));

    const std::string file = dir + "/set.cfg";
    ASSERT_EQ(Cli({"get", "--from", "ram", "--port", PORT, "-o", file}).code, 0);
    std::string text = ReadAll(file);
    text.replace(text.find("\n  500\n"), 7, "\n  640\n");
    WriteText(file, text);
    r = Cli({"send", "--to", "eeprom", "--verify", "--port", PORT, file});
    EXPECT_EQ(r.code, 0) << r.err;
    r = Cli({"get", "--from", "eeprom", "--port", PORT, "-q"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, text);
    r = Cli({"get", "--from", "eeprom", "--port", PORT, "-q", "--json"});
    EXPECT_THAT(r.out, HasSubstr("{\"from\": \"eeprom\", \"A\": [0, 640, "));

    r = Cli({"curve", "--source", "norm-a", "--port", PORT, "-q"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(CountLines(r.out), 129);
}

TEST_F(CliProcess, RecordStoppedByCtrlCKeepsEveryLine)
{
    ASSERT_TRUE(StartSim());
    const std::string file = dir + "/rec.dat";
    // On a terminal it shows its progress.
    Pty terminal;
    Child c;
    ASSERT_TRUE(Spawn(c, {Beside("qvar-cli"), "record", "--interval", "0", "--samples", "60000",
                          "--port", PORT, "-o", file},
                      env, terminal.slave));
    close(terminal.slave);
    terminal.slave = -1;
    // Wait for a few lines on disk, then stop it as a user would.
    const double end = Timer() + 20.0;
    while (Timer() < end && CountLines(ReadAll(file)) < 6)
        usleep(20000);
    kill(c.pid, SIGINT);
    EXPECT_EQ(c.Wait(), 130);
    EXPECT_THAT(Drain(terminal.master, 1.0), HasSubstr(" of 60000 lines, "));
    std::string text = ReadAll(file);
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "Q-VAR-RDX3-RECORDER-FILE: Time-Interval[s]: 0");
    int n = 0;
    while (std::getline(lines, line)) {
        EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 3) << line;
        n++;
    }
    EXPECT_GE(n, 5);
    // Nothing half written: the file ends with a whole line.
    EXPECT_EQ(text.back(), '\n');
}

// Standard output on a full disk: exit 4 with the reason, watch stops, and
// nothing is left in the temporary folder.
TEST_F(CliProcess, StandardOutputThatCannotBeWrittenEndsWithStatus4)
{
    ASSERT_TRUE(StartSim({"--unpaced"}));
    const std::string tmp = dir + "/tmp";
    fs::create_directory(tmp);
    std::vector<std::string> full = env;
    full.push_back("TMPDIR=" + tmp);
    for (const char *command : {"info", "get", "watch"}) {
        SCOPED_TRACE(command);
        std::vector<std::string> args = {"/bin/sh", "-c", "exec \"$0\" \"$@\" >/dev/full", Beside("qvar-cli"),
                                         command, "--port", PORT, "-q"};
        if (std::string(command) == "get")
            args.insert(args.end(), {"--from", "ram"});
        Child c;
        ASSERT_TRUE(Spawn(c, args, full));
        const std::string err = Drain(c.err, 10.0);
        EXPECT_EQ(c.Terminate(), 4);
        EXPECT_EQ(err, "qvar-cli: standard output: No space left on device\n");
    }
    EXPECT_TRUE(fs::is_empty(tmp));
}

TEST_F(CliProcess, APortHeldByAnotherProgramAndASilentLine)
{
    ASSERT_TRUE(StartSim({"--silent"}));
    const double t0 = Timer();
    Outcome r = Cli({"info", "--port", PORT, "-q"});
    EXPECT_LT(Timer() - t0, 2.05 + 5.0);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "Timeout < 36 Bytes\n");

    // Another program holds the line the way the serial service itself does.
    int fd = open(sim.firstLine.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    r = Cli({"ports", "--json"});
    EXPECT_THAT(r.out, HasSubstr("{\"number\": " + std::string(PORT) + ", \"device\": \"" + sim.firstLine + "\""));

    r = Cli({"info", "--port", PORT});
    close(fd);
    EXPECT_EQ(r.code, 3);
    EXPECT_THAT(r.err, HasSubstr("Cannot open port"));
    EXPECT_THAT(r.err, StartsWith("qvar-cli: cannot open "));
    EXPECT_THAT(r.err, HasSubstr(" (in use): "));
    EXPECT_THAT(r.err, Not(HasSubstr("qvar-scope:")));
}

// A command straight after a killed watch: the watch's last request was
// written as it printed its last line, and its answer is still on the line
// while the next command starts its exchange.
TEST_F(CliProcess, CommandRightAfterAKilledWatch)
{
    ASSERT_TRUE(StartSim());
    for (int round = 1; round <= 5; round++) {
        Child watch;
        ASSERT_TRUE(Spawn(watch, {Beside("qvar-cli"), "watch", "--port", PORT, "-q"}, env));
        ASSERT_TRUE(ReadFirstLine(watch, 20.0));   // the header
        for (int line = 0; line < 3; line++) {
            watch.firstLine.clear();
            ASSERT_TRUE(ReadFirstLine(watch, 10.0));
        }
        kill(watch.pid, SIGKILL);
        EXPECT_EQ(watch.Wait(), 128 + SIGKILL);
        Outcome r = Cli({"info", "--port", PORT, "-q"});
        EXPECT_EQ(r.code, 0) << "round " << round << ": " << r.err;
        EXPECT_THAT(r.out, HasSubstr("FW")) << "round " << round;
    }
}
