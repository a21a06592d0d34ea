// Program folder and shipped-file lookup.
#include "programfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace exel {

namespace {

const QLatin1String kShareSub("/../share/exel");

QString joined(const QString &folder, const QString &name)
{
    return folder + QLatin1Char('/') + name;
}

QString clean(const QString &path)
{
    return QDir::cleanPath(path);
}

} // namespace

QString executableFolder()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section(QLatin1Char('/'), 0, -2);
}

bool isInstalledFolder(const QString &exeDir)
{
    if (exeDir.isEmpty())
        return false;
    const QString dir = clean(exeDir);
    // The system's program folders; a source tree under /usr/src or
    // /usr/local/src is still a build tree.
    static const QRegularExpression systemDirs(QStringLiteral("^/usr(/local)?/(s?bin|games|libexec|lib[^/]*)(/|$)"));
    if (systemDirs.match(dir).hasMatch())
        return true;
    if (QDir(dir + kShareSub).exists())
        return true;
    const QFileInfo info(dir);
    return info.exists() && !info.isWritable();
}

QString programFolderFor(
    const QString &exelHome, const QString &exeDir, const QString &xdgDataHome, const QString &home)
{
    if (!exelHome.isEmpty())
        return exelHome;
    if (!isInstalledFolder(exeDir))
        return exeDir;
    // A relative XDG_DATA_HOME is invalid and ignored, as the base directory
    // rules say.
    const QString dataHome = QDir::isAbsolutePath(xdgDataHome) ? xdgDataHome : home + QStringLiteral("/.local/share");
    return clean(dataHome + QStringLiteral("/exel"));
}

QString programFolder()
{
    return programFolderOf(executableFolder());
}

QString programFolderOf(const QString &exeDir)
{
    const QString exelHome = qEnvironmentVariable("EXEL_HOME");
    const QString folder = programFolderFor(exelHome, exeDir, qEnvironmentVariable("XDG_DATA_HOME"), QDir::homePath());
    if (exelHome.isEmpty() && folder != exeDir && !QFileInfo::exists(folder)) {
        // Owner-only: salvos and configurations are the user's own. A failure
        // shows later as the first file that cannot be written there.
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    return folder;
}

QString inProgramFolder(const QString &name)
{
    return joined(programFolder(), name);
}

QString shippedFolderFor(const QString &exeDir)
{
    if (isInstalledFolder(exeDir) && QDir(exeDir + kShareSub).exists())
        return clean(exeDir + kShareSub);
    return exeDir;
}

QString shippedFolder()
{
    return shippedFolderFor(executableFolder());
}

QString shippedFile(const QString &name, const QString &dataFolder)
{
    const QString exeDir = executableFolder();
    for (const QString &folder : { dataFolder, exeDir, clean(exeDir + kShareSub) }) {
        const QString path = joined(folder, name);
        if (!folder.isEmpty() && QFileInfo(path).isFile())
            return path;
    }
    return joined(dataFolder, name);
}

QString shippedFile(const QString &name)
{
    return shippedFile(name, programFolder());
}

} // namespace exel
