// qvar-sim's line timing as a host on its pseudo-terminal sees it: an answer
// is never complete before a 19200 baud line could have carried the request
// and the answer, and it is complete soon after, since every exchange of the
// tool through qvar-sim carries whatever qvar-sim adds. The watch for the next
// request that follows each answer ends by itself.
#include "platform/clock.h"
#include "sim/controller.h"
#include "tests/support/process.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <ctime>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// CPU seconds a process of ours has used so far.
double CpuOf(qint64 pid)
{
    clockid_t clock;
    timespec ts{};
    if (clock_getcpuclockid(pid_t(pid), &clock) != 0 || clock_gettime(clock, &ts) != 0)
        return -1;
    return double(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

// Reads one 36-byte answer; the moment its last byte was read, or a negative
// value when it did not come within a second.
double AnswerCompleteAt(int fd)
{
    size_t got = 0;
    unsigned char buf[64];
    const double giveUp = Timer() + 1.0;
    while (got < 36 && Timer() < giveUp) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0)
            got += size_t(n);
    }
    return got == 36 ? Timer() : -1.0;
}

TEST(QvarSimLine, AnswerEndsWhenTheLineCouldCarryItAndNotBeforeAndASilentLineCostsNothing)
{
    if (!std::filesystem::exists(qvar_test::Beside("qvar-sim")))
        GTEST_SKIP() << "qvar-sim is not built beside the tests";
    QProcess sim;
    sim.start(QString::fromStdString(qvar_test::Beside("qvar-sim")), {});
    ASSERT_TRUE(sim.waitForReadyRead(5000));
    const std::string tty = sim.readLine().trimmed().toStdString();
    const int fd = open(tty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0) << tty;
    termios tio{};
    ASSERT_EQ(0, tcgetattr(fd, &tio));
    cfmakeraw(&tio);
    ASSERT_EQ(0, tcsetattr(fd, TCSANOW, &tio));

    // Request out, turnaround, answer back: the least an echo exchange takes.
    const double line = 72.0 / qvar::sim::kDefaultByteRate + qvar::sim::kDefaultTurnaround;
    const unsigned char echo[36] = {0x00, 0x55, 0x00, 0x05};
    std::vector<double> beyond;
    for (int round = 0; round < 25; ++round) {
        const double sent = Timer();
        ASSERT_EQ(36, write(fd, echo, sizeof echo));
        const double done = AnswerCompleteAt(fd);
        ASSERT_GT(done, 0) << "round " << round << ": no whole answer";
        // qvar-sim took the request no earlier than it was written, so an
        // answer complete before `line` had passed was sent ahead of its time.
        EXPECT_GE(done - sent, line - 1e-6) << "round " << round;
        beyond.push_back(done - sent - line);
    }
    std::sort(beyond.begin(), beyond.end());
    // About 0.1 ms on a quiet machine; a timer-paced server that wakes late
    // for every byte, or a coarse one, is over this in most rounds.
    EXPECT_LT(beyond[beyond.size() / 2], 3e-3);

    // After the last answer the line stays silent: a watch for the next
    // request that never ended would keep a core busy.
    const double cpu0 = CpuOf(sim.processId());
    ASSERT_GE(cpu0, 0);
    Delay(0.5);
    EXPECT_LT(CpuOf(sim.processId()) - cpu0, 0.05);
    close(fd);
    sim.terminate();
    ASSERT_TRUE(sim.waitForFinished(5000));
}

} // namespace
