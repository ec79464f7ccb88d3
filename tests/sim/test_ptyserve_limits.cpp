// qvar-sim under abuse: a host that floods requests and never reads, and
// EEPROM files that are not files (a FIFO, /dev/zero, a huge file).
#include <QCoreApplication>
#include <QProcess>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace fs = std::filesystem;

namespace {

std::string QvarSim() { return QCoreApplication::applicationDirPath().toStdString() + "/../qvar-sim"; }

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
        if (!fs::exists(QvarSim()))
            GTEST_SKIP() << "qvar-sim is not built beside the tests";
        char tmpl[] = "/tmp/qvar-simlimits-XXXXXX";
        dir = mkdtemp(tmpl);
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    // Runs qvar-sim to its end; its exit code, standard error in `err`.
    int Run(const QStringList &args, std::string *err)
    {
        QProcess p;
        p.start(QString::fromStdString(QvarSim()), args);
        if (!p.waitForFinished(10000)) {
            p.kill();
            p.waitForFinished();
            return -1;
        }
        *err = p.readAllStandardError().toStdString();
        return p.exitCode();
    }
    fs::path dir;
};

TEST_F(QvarSimLimits, EepromThatIsNoFileIsRefusedAtOnce)
{
    const fs::path fifo = dir / "fifo", zero = dir / "zero", huge = dir / "huge";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    fs::create_symlink("/dev/zero", zero);
    std::ofstream(huge) << std::string(10 << 20, '#');
    for (const fs::path &p : {fifo, zero}) {
        std::string err;
        EXPECT_EQ(2, Run({"--eeprom", QString::fromStdString(p.string())}, &err)) << p;
        EXPECT_NE(std::string::npos, err.find("not a regular file")) << err;
    }
    std::string err;
    EXPECT_EQ(2, Run({"--eeprom", QString::fromStdString(huge.string())}, &err));
    EXPECT_NE(std::string::npos, err.find("larger than 64 KiB")) << err;
}

TEST_F(QvarSimLimits, EepromFileIsKeptAndABrokenOneNamed)
{
    const fs::path file = dir / "eeprom.txt";
    QProcess p;
    p.start(QString::fromStdString(QvarSim()), {"--eeprom", QString::fromStdString(file.string())});
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

TEST_F(QvarSimLimits, RequestFloodDoesNotGrowTheServer)
{
    for (const char *pace : {"--unpaced", "--seed=1"}) {
        QProcess sim;
        sim.start(QString::fromStdString(QvarSim()), {pace});
        ASSERT_TRUE(sim.waitForReadyRead(5000));
        const std::string tty = sim.readLine().trimmed().toStdString();
        const int fd = open(tty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd, 0) << tty;
        unsigned char request[36] = {0x00, 0x55, 0x00, 0x08};
        std::string burst;
        for (int i = 0; i < 100; ++i)
            burst.append(reinterpret_cast<const char *>(request), sizeof request);
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
        EXPECT_GT(written, 1L << 20) << pace;      // a flood indeed: over a MiB of requests
        EXPECT_GT(rss, 0);
        EXPECT_LT(rss, 48 * 1024) << pace;        // unbounded, this passes 100 MiB
        sim.terminate();
        ASSERT_TRUE(sim.waitForFinished(5000));
        EXPECT_EQ(0, sim.exitCode());
        EXPECT_NE(std::string::npos, sim.readAllStandardError().toStdString().find("dropped")) << pace;
        close(fd);
    }
}

} // namespace
