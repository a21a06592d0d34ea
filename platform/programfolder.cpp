// Program folder lookup.
#include "programfolder.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace exel {

QString programFolder()
{
    const QString home = qEnvironmentVariable("EXEL_HOME");
    if (!home.isEmpty())
        return home;
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section(QLatin1Char('/'), 0, -2);
}

QString inProgramFolder(const QString &name)
{
    return programFolder() + QLatin1Char('/') + name;
}

} // namespace exel
