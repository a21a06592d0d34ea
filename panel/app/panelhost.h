// The program's link host (the hidden link window) and settings dialog runner.
#pragma once

#include "xelform.h"

namespace exel {

// frmHublink as the main window's link host.
LinkFactory hublinkFactory(SettingsStore &settings, Dialogs &dialogs);
// FormConfig run modally; true when OK stored new settings.
SettingsDialogRunner communicationsDialog(SettingsStore &settings);

} // namespace exel
