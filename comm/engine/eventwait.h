// Waits served by the Qt event loop (SetEventWait): the device's descriptor is
// watched by a socket notifier while a wait runs, so a host's other event
// sources (its own sockets and timers) are served the moment they are ready
// instead of at the device's next byte or the wait's next 50 ms turn.
#pragma once

#include "commobject.h"

namespace tolcom {

// The process-wide switch (off unless the host turns it on).
bool eventWaitOn();
void setEventWait(bool on);

// One turn of a wait in the event loop: events run, and if no input is
// queued the thread sleeps in the event loop until the device is readable,
// another event comes, or ms have passed. False in served when this wait
// cannot be served so (no event dispatcher on this thread, or a driver with
// nothing to watch): the caller then waits its own way. Otherwise served is
// true and the result says whether the object is still alive.
bool pumpInEvents(const ObjectPtr &obj, int ms, bool &served);

} // namespace tolcom
