// The program folder: where salvos, the editor's database, generated
// configurations, temporary files and the help files live.
#pragma once

#include <QString>

namespace exel {

// $EXEL_HOME when set, else the folder of the running executable.
QString programFolder();

// folder + "/" + name (the design joins with a backslash).
QString inProgramFolder(const QString &name);

} // namespace exel
