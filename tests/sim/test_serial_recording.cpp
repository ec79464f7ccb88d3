// Recordings on lines that add bytes of their own: surplus behind every answer
// and stray bytes between answers, on the built-in simulated port, through
// qvar-sim on a pseudo-terminal and through a far end of the test's own. Every
// recorded line must be an answer the controller sent, in order.
#define QVAR_HIDE_SYNC
#include "platform/clock.h"
#include "platform/serial/serial.h"
#include "tests/support/recording.h"

#include <QCoreApplication>
#include <QProcess>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace qvar_test;

namespace {

// A far end on a pseudo-terminal: a paced controller, and one stray byte
// after each answer, alternately right behind it and a few milliseconds later.
class StrayLine {
public:
    StrayLine()
    {
        char name[128];
        if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
            return;
        path = name;
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        c_.set_paced(true);
        thread_ = std::thread([this] { serve(); });
    }
    ~StrayLine()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        close(master_);
        close(slave_);
    }
    std::string path;
    std::atomic<int> strays{0};

private:
    void serve()
    {
        double strayAt = -1;
        bool early = true;
        while (!stop_) {
            uint8_t buf[256];
            const double now = Timer();
            ssize_t n = read(master_, buf, sizeof buf);
            if (n > 0)
                c_.host_write(buf, size_t(n), now);
            const size_t got = c_.host_read(buf, sizeof buf, now);
            if (got > 0) {
                (void)!write(master_, buf, got);
                if (!std::isfinite(c_.next_arrival())) {   // the answer is complete
                    strayAt = now + (early ? 0.0003 : 0.006);
                    early = !early;
                }
            }
            // A stray is meant to fall between answers; one this thread could
            // only send much later (a loaded machine held it up) might land
            // anywhere, even where the timing rules cannot tell it from the
            // answer's first byte, and is left out.
            if (strayAt >= 0 && Timer() >= strayAt + 0.001)
                strayAt = -1;
            if (strayAt >= 0 && now >= strayAt) {
                const uint8_t stray = 0x55;   // a sync byte: the worst head for a frame
                (void)!write(master_, &stray, 1);
                strayAt = -1;
                ++strays;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(150));
        }
    }

    int master_ = -1, slave_ = -1;
    qvar::sim::Controller c_{1};
    std::thread thread_;
    std::atomic<bool> stop_{false};
};

class NoisyLine : public RecordingTest {
protected:
    // Records `samples` lines at interval 0; the lines written.
    std::vector<std::string> Record(unsigned samples)
    {
        Settings(0, samples);
        Start();
        return SampleLines();
    }

    // Every line is an answer sent, in the order sent; some may be missing.
    static void ExpectAnswersInOrder(const std::vector<std::string> &lines, const std::vector<std::string> &sent)
    {
        size_t next = 0;
        for (size_t i = 0; i < lines.size(); i++) {
            while (next < sent.size() && sent[next] != lines[i])
                ++next;
            ASSERT_LT(next, sent.size()) << "line " << i + 1 << " was never sent: " << lines[i];
            ++next;
        }
    }
};

TEST_F(NoisyLine, SurplusByteBehindEveryAnswerOnTheBuiltInPort)
{
    sim->set_paced(true);
    sim->faults.surplus = 1;
    const std::vector<std::string> lines = Record(30);
    // Nothing may be lost here: the surplus never touches an answer.
    EXPECT_EQ(AnswersSent(30), lines);
    EXPECT_FALSE(LogHas("Timeout RS232-Line!"));
}

TEST_F(NoisyLine, DeadLineStillEndsTheRecordingByTimeOut)
{
    sim->set_paced(true);
    sim->faults.surplus = 3;
    sim->faults.dead_after = 5;
    const double t0 = Timer();
    const std::vector<std::string> lines = Record(100);
    EXPECT_TRUE(LogHas("Timeout RS232-Line!"));
    EXPECT_LT(Timer() - t0, 30.0);
    EXPECT_GE(lines.size(), 3u);
    EXPECT_LT(lines.size(), 6u);
    ExpectAnswersInOrder(lines, AnswersSent(6));
}

TEST_F(NoisyLine, StrayBytesBetweenAnswersThroughATerminal)
{
    StrayLine far;
    ASSERT_FALSE(far.path.empty());
    fs::create_directories(PortsDir());
    fs::create_symlink(far.path, PortsDir() + "/com6");
    UsePort(6);
    const std::vector<std::string> lines = Record(40);
    EXPECT_GT(far.strays.load(), 20);
    // The strays fall where no answer is under way: none is lost.
    EXPECT_EQ(40u, lines.size());
    ExpectAnswersInOrder(lines, AnswersSent(80));
    CloseCom(com);
}

TEST_F(NoisyLine, QvarSimWithSurplusAndUnpacedAtFullRate)
{
    QProcess surplus;
    ASSERT_NE("", StartQvarSim(surplus, 5, {"--surplus", "1"}));
    UsePort(5);
    std::vector<std::string> lines = Record(25);
    EXPECT_EQ(AnswersSent(25), lines);
    CloseCom(com);
    surplus.terminate();
    ASSERT_TRUE(surplus.waitForFinished(5000));

    // Unpaced, a request is answered before it could have crossed a real
    // line: nothing may hold the answers back to the baud rate. A paced line
    // needs 37.5 ms an exchange.
    QProcess unpaced;
    ASSERT_NE("", StartQvarSim(unpaced, 4, {"--unpaced"}));
    UsePort(4);
    const double t0 = Timer();
    lines = Record(150);
    const double took = Timer() - t0;
    EXPECT_EQ(AnswersSent(150), lines);
    EXPECT_LT(took, 150 * 0.0375 / 2);
    EXPECT_EQ(0, ComDroppedBytes(com));
    CloseCom(com);
    unpaced.terminate();
    ASSERT_TRUE(unpaced.waitForFinished(5000));
}

// qvar-sim numbers its live answers in word 3 and adds noise: 36 or 40 bytes
// behind every answer, bursts ahead of answers that open with a frame head
// of another device, and answers whose head a burst damaged. The start
// exchange must read the true parameter sets, no burst may end the recording,
// and every line must be the answer whose number it carries, in the order
// sent.
TEST_F(NoisyLine, NoiseNeverBecomesARecordedLine)
{
    const std::vector<std::vector<std::string>> setups = {
        {"--surplus", "36"},
        {"--surplus", "40", "--garbage", "72:0.15"},
        {"--garbage", "40:0.1"},
        {"--hit", "0.3"},
    };
    qvar::sim::Faults numbered;
    numbered.number_word = 3;
    const std::vector<std::string> sent = AnswersSent(400, numbered);
    const qvar::sim::Controller factory;
    for (std::vector<std::string> args : setups) {
        SCOPED_TRACE(args[0] + " " + args[1] + (args.size() > 2 ? " " + args[2] + " " + args[3] : ""));
        args.insert(args.end(), {"--number", "3"});
        QProcess server;
        ASSERT_NE("", StartQvarSim(server, 5, args));
        StartStatusLog();
        UsePort(5);
        EXPECT_EQ(factory.ram(0)[PB_POWER], powerA);
        EXPECT_EQ(factory.ram(1)[PB_REF], refB);
        EXPECT_EQ(factory.ram(1)[PB_SCANTIME], scantime);
        const std::vector<std::string> recorded = Record(50);
        EXPECT_FALSE(LogHas("Timeout RS232-Line!"));
        EXPECT_EQ(50u, recorded.size());
        long last = 0;
        for (size_t i = 0; i < recorded.size(); i++) {
            const long number = std::strtol(recorded[i].substr(recorded[i].rfind('\t') + 1).c_str(), nullptr, 10);
            ASSERT_GT(number, last) << "line " << i + 1 << ": " << recorded[i];
            ASSERT_LE(number, long(sent.size()));
            ASSERT_EQ(sent[size_t(number - 1)], recorded[i]) << "line " << i + 1;
            last = number;
        }
        LinkCounters met;
        GetLinkCounters(&met);
        EXPECT_GE(met.framesTaken, 50 + 3);
        if (args[0] == "--garbage" || args.size() > 4) {
            EXPECT_GT(met.framesDropped, 0);
        }
        // A lost answer is asked for again, not waited out to the time-out.
        if (args[0] == "--hit") {
            EXPECT_GT(met.requestsRepeated, 0);
        }
        CloseCom(com);
        server.terminate();
        ASSERT_TRUE(server.waitForFinished(5000));
    }
}

} // namespace
