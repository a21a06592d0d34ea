// Opening the editor's database at start: for this editor alone, or not at all.
#pragma once

#include <QString>

namespace exel {

class Dialogs;
class XelCfgDb;

// Opens db. When it cannot be opened, or another editor holds it, shows why in
// one box (and on standard error) and returns false with that text in
// message: the editor then opens nothing.
bool openConfigurationDatabase(XelCfgDb &db, Dialogs &dialogs, QString *message = nullptr);

} // namespace exel
