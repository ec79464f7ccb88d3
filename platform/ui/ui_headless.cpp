// ui_headless.cpp - the event pump for programs without windows (qvar-cli):
// a QCoreApplication instead of the widget run-time, so nothing needs a
// display; Ctrl-C taken as a request to stop; whether a stream is a terminal.
#include "platform/ui/ui.h"

#include <QCoreApplication>

#include <csignal>
#include <unistd.h>

#include <vector>

int InitHeadless(int argc, char *argv[])
{
    // A test program may already run the widget application; it pumps the
    // same way, so it is simply used.
    if (QCoreApplication::instance())
        return 1;
    // The application keeps references to both for its whole life.
    static int s_argc = 0;
    static std::vector<char *> s_argv;
    for (int i = 0; i < argc && argv && argv[i]; ++i)
        s_argv.push_back(argv[i]);
    if (s_argv.empty())
        s_argv.push_back(const_cast<char *>("qvar-cli"));
    s_argc = int(s_argv.size());
    s_argv.push_back(nullptr);
    new QCoreApplication(s_argc, s_argv.data());
    return 1;
}

namespace {
volatile std::sig_atomic_t interruptCaught = 0;

void OnInterrupt(int) { interruptCaught = 1; }
} // namespace

void CatchInterrupt(int on)
{
    interruptCaught = 0;
    struct sigaction sa {};
    sa.sa_handler = on ? OnInterrupt : SIG_DFL;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
}

int InterruptCaught(void)
{
    return interruptCaught != 0;
}

int IsTerminal(int stream)
{
    return ::isatty(stream) == 1;
}
