// ui_deferred.cpp - calls the program asks for a little later, delivered from
// the event pump like every other callback. A timer that falls due while a
// modal dialog holds the pump waits for the next pump.
#include "platform/ui/pump.h"
#include "platform/ui/ui.h"

#include <QCoreApplication>
#include <QTimer>

namespace {

void Deliver(DeferredCallbackPtr fn, void *data)
{
    if (!qvar::pump::dispatch_allowed()) {
        QTimer::singleShot(1, Qt::PreciseTimer, QCoreApplication::instance(), [fn, data] { Deliver(fn, data); });
        return;
    }
    qvar::pump::note_callback();
    fn(data);
}

} // namespace

int PostDeferredCall(DeferredCallbackPtr fn, void *data, double seconds)
{
    if (!fn || !QCoreApplication::instance())
        return UI_ERR_NOT_STARTED;
    int ms = seconds <= 0 ? 0 : (int)(seconds * 1000.0 + 0.5);
    QTimer::singleShot(ms, Qt::PreciseTimer, QCoreApplication::instance(), [fn, data] { Deliver(fn, data); });
    return 0;
}
