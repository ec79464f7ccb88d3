// A session's end: SIGTERM, SIGHUP and SIGINT close the main panel through
// the pump, and once the program is closing a further signal cannot cut its
// orderly end short.
#include "ui_testing.h"

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace uitest;

namespace {

// Runs `body` in a child process and returns how it ended: its exit code, or
// 128 plus the signal that killed it.
template <typename Body>
int InChild(Body body)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        body();
        ::_exit(7);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

TEST_F(UiTest, TerminationSignalsCloseThePanelOnlyInsideThePump)
{
    DisplayPanel(main_);
    CloseOnTermination(main_);
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) {
        SCOPED_TRACE(sig);
        seen().clear();
        ::raise(sig);
        EXPECT_TRUE(seen().empty());
        EXPECT_TRUE(PumpUntil([] { return !seen().empty(); }));
        EXPECT_EQ(seen(), (std::vector<Seen>{{main_, 0, EVENT_CLOSE}}));
    }

    // Closing: the signals are absorbed, no second close comes.
    CloseOnTermination(0);
    seen().clear();
    ::raise(SIGTERM);
    ::raise(SIGTERM);
    PumpUntil([] { return false; }, 0.1);
    EXPECT_TRUE(seen().empty());
    HidePanel(main_);
}

TEST(UiTermination, SignalsAreHeldFromTheStartAndWhileTheProgramCloses)
{
    // Before any panel exists (the start exchange) and after the last one
    // closed (ShutDown), a signal must neither kill the process nor be lost
    // for good; the child reaching its own exit shows it survived both.
    EXPECT_EQ(7, InChild([] {
        CatchTermination();
        ::raise(SIGTERM);
        CloseOnTermination(0);
        ::raise(SIGTERM);
        ::raise(SIGHUP);
    }));
    // The control: without them, the same signal ends the child.
    EXPECT_EQ(128 + SIGTERM, InChild([] {
        struct sigaction sa {};
        sa.sa_handler = SIG_DFL;
        ::sigaction(SIGTERM, &sa, nullptr);
        ::raise(SIGTERM);
    }));
}
