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

void CatchTermination(void)
{
    if (wakePipe[0] < 0 && ::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction sa {};
    sigemptyset(&sa.sa_mask);
    sa.sa_handler = OnSignal;
    sa.sa_flags = SA_RESTART;
    for (int sig : kSignals)
        ::sigaction(sig, &sa, nullptr);
}

void CloseOnTermination(int panel)
{
    // With no panel the program is already closing. The signals stay caught
    // (their bytes simply stay unread): a session's end often signals more
    // than once, and `timeout` signals the child and then its whole group,
    // so a second one that came after the panel closed would otherwise kill
    // the program halfway through its own orderly end.
    closingPanel = panel > 0 ? panel : 0;
    if (panel <= 0)
        return;
    CatchTermination();
    if (wakePipe[0] >= 0 && !notifier && QCoreApplication::instance()) {
        // A signal caught before now has left its byte in the pipe: the
        // notifier sees it at the pump's first look.
        notifier = new QSocketNotifier(wakePipe[0], QSocketNotifier::Read, QCoreApplication::instance());
        QObject::connect(notifier, &QSocketNotifier::activated, [] { Drain(); });
    }
}

void SetDesktopFileName(const char *name)
{
    // A static setting: it holds for the application made afterwards.
    QGuiApplication::setDesktopFileName(QString::fromUtf8(name ? name : ""));
}
