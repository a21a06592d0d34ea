// Hooks that tests (and benchmarks) use to replace the engine's edges: the
// clock, the pause of a wait, the serial driver and the modem list file.
#pragma once

#include "serialdriver.h"

#include <clock.h>

#include <functional>
#include <string>

namespace tolcom {

// The clock for every time-out (nullptr restores the system clock). Not owned.
void setEngineClock(const exel::Clock *clock);
// Called with the pause a wait wants (ms); returns the real time to wait for
// input instead. Tests with a fake clock advance it here and wait ~0 ms.
void setPauseHook(std::function<int(int)> hook);
// Path of the modem list (empty restores MODEM.LST beside the library).
void setModemListPath(const std::string &path);
std::string modemListPath();

} // namespace tolcom
