// ui_desktop.cpp - the program's place on a desktop: windows take the
// desktop entry's icon and name and group with its menu item, and a session
// that ends (logout, kill, Ctrl-C in a terminal) closes the main panel the
// way its close box does.
#include "platform/ui/ui.h"
#include "platform/ui/ui_internal.h"

#include <QGuiApplication>
#include <QSocketNotifier>
#include <QString>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

const int kSignals[] = {SIGTERM, SIGHUP, SIGINT};

// A signal may come at any instruction; all its handler does is write one
// byte into a pipe, which the pump reads like any other descriptor.
int wakePipe[2] = {-1, -1};
int closingPanel = 0;
QSocketNotifier *notifier = nullptr;

void OnSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(wakePipe[1], &byte, 1);
    errno = saved;
}

void Drain()
{
    char buf[64];
    while (::read(wakePipe[0], buf, sizeof buf) > 0) {
    }
    if (closingPanel > 0)
        qvar::ui::postEvent(closingPanel, 0, EVENT_CLOSE);
}

} // namespace

void CloseOnTermination(int panel)
{
    closingPanel = panel;
    struct sigaction sa {};
    sigemptyset(&sa.sa_mask);
    if (panel <= 0) {
        sa.sa_handler = SIG_DFL;
        for (int sig : kSignals)
            ::sigaction(sig, &sa, nullptr);
        return;
    }
    if (wakePipe[0] < 0) {
        if (::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        notifier = new QSocketNotifier(wakePipe[0], QSocketNotifier::Read, QCoreApplication::instance());
        QObject::connect(notifier, &QSocketNotifier::activated, [] { Drain(); });
    }
    sa.sa_handler = OnSignal;
    sa.sa_flags = SA_RESTART;
    for (int sig : kSignals)
        ::sigaction(sig, &sa, nullptr);
}

void SetDesktopFileName(const char *name)
{
    // A static setting: it holds for the application made afterwards.
    QGuiApplication::setDesktopFileName(QString::fromUtf8(name ? name : ""));
}
