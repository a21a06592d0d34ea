// QSettings in INI format under the per-user config folder, with the key and
// section case folding that QSettings does not do on this platform.
#include "settingsstore.h"

#include <QDir>
#include <QSettings>
#include <QStringList>

namespace exel {
namespace {

// The group name as stored, matched case-blind; the given name when absent.
QString storedGroup(QSettings &s, const QString &section)
{
    const QStringList groups = s.childGroups();
    for (const QString &g : groups)
        if (g.compare(section, Qt::CaseInsensitive) == 0)
            return g;
    return section;
}

QStringList matchingKeys(QSettings &s, const QString &key)
{
    QStringList found;
    const QStringList keys = s.childKeys();
    for (const QString &k : keys)
        if (k.compare(key, Qt::CaseInsensitive) == 0)
            found << k;
    return found;
}

QString valueText(const QVariant &v)
{
    // A hand-written value with a comma reads back as a list; join it again.
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList().join(QLatin1Char(','));
    return v.toString();
}

} // namespace

SettingsStore::SettingsStore(QString configDir)
    : m_configDir(configDir.isEmpty() ? defaultConfigDir() : std::move(configDir))
{
}

QString SettingsStore::defaultConfigDir()
{
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!xdg.isEmpty())
        return xdg;
    return QDir::homePath() + QStringLiteral("/.config");
}

QString SettingsStore::filePath(const QString &application) const
{
    return m_configDir + QLatin1Char('/') + application + QStringLiteral(".ini");
}

QString SettingsStore::GetSetting(const QString &application, const QString &section, const QString &key,
                                  const QString &defaultValue) const
{
    QSettings s(filePath(application), QSettings::IniFormat);
    s.beginGroup(storedGroup(s, section));
    const QStringList keys = matchingKeys(s, key);
    if (keys.isEmpty())
        return defaultValue;
    return valueText(s.value(keys.first()));
}

bool SettingsStore::hasSetting(const QString &application, const QString &section, const QString &key) const
{
    QSettings s(filePath(application), QSettings::IniFormat);
    s.beginGroup(storedGroup(s, section));
    return !matchingKeys(s, key).isEmpty();
}

void SettingsStore::SaveSetting(const QString &application, const QString &section, const QString &key,
                                const QString &value)
{
    QDir().mkpath(m_configDir);
    QSettings s(filePath(application), QSettings::IniFormat);
    s.beginGroup(storedGroup(s, section));
    const QStringList keys = matchingKeys(s, key);
    for (const QString &k : keys)
        if (k != key)
            s.remove(k);
    s.setValue(key, value);
    s.endGroup();
    s.sync();
    ++m_writes;
}

void SettingsStore::DeleteSetting(const QString &application, const QString &section, const QString &key)
{
    QSettings s(filePath(application), QSettings::IniFormat);
    s.beginGroup(storedGroup(s, section));
    const QStringList keys = matchingKeys(s, key);
    for (const QString &k : keys)
        s.remove(k);
    s.endGroup();
    s.sync();
    ++m_writes;
}

void SettingsStore::SaveSettings(const QString &application, const QString &section, const std::vector<Change> &changes)
{
    QDir().mkpath(m_configDir);
    QSettings s(filePath(application), QSettings::IniFormat);
    s.beginGroup(storedGroup(s, section));
    for (const Change &c : changes) {
        const QStringList keys = matchingKeys(s, c.key);
        for (const QString &k : keys)
            if (!c.value || k != c.key)
                s.remove(k);
        if (c.value)
            s.setValue(c.key, *c.value);
    }
    s.endGroup();
    s.sync();
    ++m_writes;
}

bool SettingsStore::GetFlag(const QString &application, const QString &section, const QString &key) const
{
    return GetSetting(application, section, key, QStringLiteral("FALSE")) == QLatin1String("TRUE");
}

void SettingsStore::SaveFlag(const QString &application, const QString &section, const QString &key, bool value)
{
    SaveSetting(application, section, key, flagText(value));
}

} // namespace exel
