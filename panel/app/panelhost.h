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

class QtDialogs;
// The program's application names. The display name stays unset: on X11 Qt
// appends it to every window title, and the main window's caption must read
// exactly "32-Bit Xelvard - <name>: <link>". Message boxes without a title
// of their own get the application title instead.
void initPanelApplication(QtDialogs &dialogs, const QString &version);

} // namespace exel
