// The program's link host (the hidden link window) and settings dialog runner.
#pragma once

#include "clock.h"
#include "xelform.h"

namespace exel {

// frmHublink as the main window's link host. The clock times the link's waits
// (tests and benchmarks pass a faster one).
LinkFactory hublinkFactory(SettingsStore &settings, Dialogs &dialogs, Clock &clock = SystemClock::instance());
// FormConfig run modally; true when OK stored new settings. When the panel's
// link could not open its port, the dialog says which device was tried and
// why, and points to the simulator.
SettingsDialogRunner communicationsDialog(SettingsStore &settings);

// The text shown under the ports for an open failure (empty: none).
QString portProblemHint(const QString &problem);

} // namespace exel
