// Waits served by the Qt event loop, with the device watched by a notifier.
#include "eventwait.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <atomic>

namespace tolcom {

namespace {
std::atomic<bool> g_eventWait { false };
} // namespace

// Kept per object from one wait to the next: making a notifier and a timer
// for every turn (a turn per received byte) costs more than the wait itself.
struct EventWaitState {
    int fd = -1;
    std::unique_ptr<QSocketNotifier> notifier;
    QTimer timer;
};

bool eventWaitOn()
{
    return g_eventWait.load(std::memory_order_relaxed);
}

void setEventWait(bool on)
{
    g_eventWait.store(on, std::memory_order_relaxed);
}

bool pumpInEvents(const ObjectPtr &obj, int ms, bool &served)
{
    served = false;
    const int fd = obj->driver ? obj->driver->pollFd() : -1;
    if (fd < 0 || !QAbstractEventDispatcher::instance())
        return true;
    served = true;
    ++obj->busy;
    if (queued(*obj) > 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    } else {
        if (!obj->eventWait)
            obj->eventWait = std::make_shared<EventWaitState>();
        // Held here: the object may be destroyed by an event in the wait.
        const std::shared_ptr<EventWaitState> wait = obj->eventWait;
        if (!wait->notifier || wait->fd != fd) {
            wait->notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
            wait->fd = fd;
            wait->timer.setSingleShot(true);
            wait->timer.setTimerType(Qt::PreciseTimer);
        }
        // Enabled only while the wait runs: a readable device outside a wait
        // would wake the event loop for ever (the notifier is level-triggered).
        wait->notifier->setEnabled(true);
        wait->timer.start(std::max(ms, 0));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        wait->timer.stop();
        wait->notifier->setEnabled(false);
    }
    if (!alive(obj))
        return false;
    // A hung-up device wakes the notifier as well; it ends the port as in
    // the plain wait.
    if (obj->portOpen && queued(*obj) == 0 && obj->driver->waitReadable(0) == WaitResult::HungUp && queued(*obj) == 0) {
        --obj->busy;
        portLost(obj, "Wait");
        return alive(obj);
    }
    --obj->busy;
    return alive(obj);
}

} // namespace tolcom
