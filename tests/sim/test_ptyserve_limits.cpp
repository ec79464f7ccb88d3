// qvar-sim under abuse: a host that floods requests and garbage and never
// reads, and EEPROM files that are not files (a FIFO, /dev/zero, a huge
// file) or cannot be made.
#include "link/protocol.h"
#include "sim/controller.h"
#include "tests/support/full_disk.h"
#include "tests/support/process.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace fs = std::filesystem;

namespace {

QString QvarSim() { return QString::fromStdString(qvar_test::Beside("qvar-sim")); }

long ResidentKiB(qint64 pid)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(f, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

class QvarSimLimits : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!fs::exists(QvarSim().toStdString()))
            GTEST_SKIP() << "qvar-sim is not built beside the tests";
    }
    // Runs qvar-sim to its end; its exit code, standard error in `err`.
    int Run(const QStringList &args, std::string *err)
    {
        QProcess p;
        p.start(QvarSim(), args);
        if (!p.waitForFinished(10000)) {
            p.kill();
            p.waitForFinished();
            return -1;
        }
        *err = p.readAllStandardError().toStdString();
        return p.exitCode();
    }
    qvar_test::ScratchDir scratch;
    const fs::path dir = scratch.path();
};

TEST_F(QvarSimLimits, EepromThatIsNoFileIsRefusedAtOnce)
{
    const fs::path fifo = dir / "fifo", zero = dir / "zero", huge = dir / "huge";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    fs::create_symlink("/dev/zero", zero);
    std::ofstream(huge) << std::string(10 << 20, '#');
    std::string err;
    for (const auto &[p, why] : {std::pair{fifo, "not a regular file"}, {zero, "not a regular file"},
                                 {huge, "larger than 64 KiB"}}) {
        EXPECT_EQ(2, Run({"--eeprom", QString::fromStdString(p.string())}, &err)) << p;
        EXPECT_NE(std::string::npos, err.find(why)) << err;
    }
    // Not there and not to be made either: said before anything is served.
    const fs::path nowhere = dir / "no-such-folder" / "eeprom.txt";
    EXPECT_EQ(2, Run({"--eeprom", QString::fromStdString(nowhere.string())}, &err));
    EXPECT_EQ(0u, err.find("qvar-sim: " + nowhere.string() + ": cannot create the EEPROM file: ")) << err;
}

TEST_F(QvarSimLimits, EepromFileIsKeptAndABrokenOneNamed)
{
    const fs::path file = dir / "eeprom.txt";
    QProcess p;
    p.start(QvarSim(), {"--eeprom", QString::fromStdString(file.string())});
    ASSERT_TRUE(p.waitForReadyRead(5000));
    p.terminate();
    ASSERT_TRUE(p.waitForFinished(5000));
    EXPECT_EQ(0, p.exitCode());
    ASSERT_TRUE(fs::is_regular_file(file));      // created with the factory set

    std::ofstream(file, std::ios::app) << "C 1 2 3\n";
    std::string err;
    EXPECT_EQ(2, Run({"--eeprom", QString::fromStdString(file.string())}, &err));
    EXPECT_EQ(0u, err.find("qvar-sim: " + file.string() + ": line 4")) << err;
}

// A full disk refuses the new EEPROM: the one the file held stays, and
// nothing else is left beside it.
TEST_F(QvarSimLimits, EepromThatCannotBeWrittenKeepsTheFileAsItWas)
{
    qvar_test::FullDisk disk;
    if (!disk.mounted())
        GTEST_SKIP() << "no file system of its own may be mounted here to fill";
    const std::string file = disk.file("eeprom.txt");
    qvar::sim::Controller c;
    ASSERT_TRUE(c.save_eeprom(file));
    const std::string before = qvar_test::ReadAll(file);
    disk.Fill();
    qvar::sim::Block b = qvar::sim::Controller::factory_block(0);
    b[PB_REF] = 4321;
    c.set_eeprom(0, b);
    std::string err;
    EXPECT_FALSE(c.save_eeprom(file, &err));
    EXPECT_EQ("cannot write " + file, err);
    EXPECT_EQ(before, qvar_test::ReadAll(file));
    EXPECT_EQ(std::vector<std::string>{"eeprom.txt"}, disk.Entries());
}

// The host floods requests and garbage faster than any line carries them and
// reads nothing. The server stays small; at line timing it keeps only the
// newest few frames of the flood, so a request sent right behind it is
// answered at once, after no more than those few.
TEST_F(QvarSimLimits, AFloodIsDroppedAndTheNewestRequestAnswered)
{
    for (const char *pace : {"--unpaced", "--seed=1"}) {
        QProcess sim;
        sim.start(QvarSim(), {pace});
        ASSERT_TRUE(sim.waitForReadyRead(5000));
        const std::string tty = sim.readLine().trimmed().toStdString();
        const int fd = open(tty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd, 0) << tty;
        const unsigned char live[36] = {0x00, 0x55, 0x00, 0x08};
        std::string burst;
        for (int i = 0; i < 100; ++i)
            burst.append(reinterpret_cast<const char *>(live), sizeof live);
        burst.append(1000, '\xe5');
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
        long written = 0;
        while (std::chrono::steady_clock::now() < end) {
            const ssize_t n = write(fd, burst.data(), burst.size());
            if (n > 0)
                written += n;
            else
                std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        const long rss = ResidentKiB(sim.processId());
        EXPECT_GT(written, 1L << 20) << pace;      // a flood indeed: over a MiB
        EXPECT_GT(rss, 0);
        EXPECT_LT(rss, 48 * 1024) << pace;        // unbounded, this passes 100 MiB

        if (std::string(pace) != "--unpaced") {
            tcflush(fd, TCIFLUSH);   // what was answered so far
            // A frame's worth of noise first: the flood ended inside a frame,
            // which on any line would take the request's first bytes as its own.
            unsigned char echo[72] = {};
            std::fill(echo, echo + 36, 0xe5);
            echo[37] = 0x55, echo[39] = 0x05;
            ASSERT_EQ(ssize_t(sizeof echo), write(fd, echo, sizeof echo));
            const auto sent = std::chrono::steady_clock::now();
            const std::string echoAnswer("\x00\x55\x00\x05\x00\xaa", 6), liveAnswer("\x00\x55\x00\x08", 4);
            std::string in;
            char buf[4096];
            while (in.find(echoAnswer) == std::string::npos &&
                   std::chrono::steady_clock::now() - sent < std::chrono::seconds(2)) {
                const ssize_t n = read(fd, buf, sizeof buf);
                if (n > 0)
                    in.append(buf, size_t(n));
                else
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            const size_t at = in.find(echoAnswer);
            ASSERT_NE(std::string::npos, at) << "the newest request is answered within 2 s";
            int stale = 0;
            for (size_t p = in.find(liveAnswer); p < at; p = in.find(liveAnswer, p + 1))
                ++stale;
            EXPECT_LE(stale, 5) << "answers to the flood before the newest request's";
        }
        sim.terminate();
        ASSERT_TRUE(sim.waitForFinished(5000));
        EXPECT_EQ(0, sim.exitCode());
        EXPECT_NE(std::string::npos, sim.readAllStandardError().toStdString().find("dropped")) << pace;
        close(fd);
    }
}

} // namespace
