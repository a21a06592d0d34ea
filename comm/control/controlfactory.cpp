// The ProgID factory table, its entry for TolComm, and self-registration.
#include "controlfactory.h"

#include "tolcomm.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QSettings>

#include <cerrno>
#include <dlfcn.h>

namespace exel {
namespace {

QMap<QString, QPair<QString, ControlCreator>> &table()
{
    // Key: the ProgID folded to lower case; value: the ProgID as registered and its creator.
    static QMap<QString, QPair<QString, ControlCreator>> t;
    return t;
}

QWidget *createTolComm(QWidget *parent)
{
    auto *comm = new TolComm(parent);
    comm->InitProperties();
    return comm;
}

// Filled when the library is loaded.
[[maybe_unused]] const bool g_tolCommRegistered
    = registerControlClass(QStringLiteral("TolLinkware.TolComm"), &createTolComm);

QString libraryPath()
{
    Dl_info info {};
    if (!dladdr(reinterpret_cast<void *>(&createTolComm), &info) || !info.dli_fname)
        return QString();
    return QFileInfo(QString::fromLocal8Bit(info.dli_fname)).absoluteFilePath();
}

} // namespace

bool registerControlClass(const QString &progId, ControlCreator creator)
{
    if (progId.isEmpty() || !creator)
        return false;
    table().insert(progId.toLower(), { progId, creator });
    return true;
}

QWidget *createControl(const QString &progId, QWidget *parent)
{
    const ControlCreator creator = table().value(progId.toLower()).second;
    return creator ? creator(parent) : nullptr;
}

QStringList registeredControlClasses()
{
    QStringList out;
    for (const auto &entry : table())
        out << entry.first;
    return out;
}

QString registrationFile()
{
    QString dir = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (dir.isEmpty())
        dir = QDir::homePath() + QStringLiteral("/.config");
    return dir + QStringLiteral("/TolLinkware.ini");
}

QString registeredLibrary(const QString &progId)
{
    QSettings ini(registrationFile(), QSettings::IniFormat);
    return ini.value(progId).toString();
}

} // namespace exel

namespace {

int writeRegistration(bool add)
{
    const QString lib = exel::libraryPath();
    if (add && lib.isEmpty())
        return ENOENT;
    const QString file = exel::registrationFile();
    if (!QDir().mkpath(QFileInfo(file).absolutePath()))
        return EACCES;
    QSettings ini(file, QSettings::IniFormat);
    for (const QString &progId : { QStringLiteral("TolLinkware.TolComm") }) {
        if (add)
            ini.setValue(progId, lib);
        else
            ini.remove(progId);
    }
    ini.sync();
    return ini.status() == QSettings::NoError ? 0 : EIO;
}

} // namespace

extern "C" int DllRegisterServer(void)
{
    return writeRegistration(true);
}

extern "C" int DllUnregisterServer(void)
{
    return writeRegistration(false);
}
