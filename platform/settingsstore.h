// Per-user settings store: text values by application, section and key, kept
// in <config folder>/<application>.ini. Keys and sections are not case-sensitive.
#pragma once

#include <QString>

namespace exel {

class SettingsStore {
public:
    // configDir empty: $XDG_CONFIG_HOME, or ~/.config when that is unset.
    explicit SettingsStore(QString configDir = QString());

    // The stored text, or defaultValue when the key is absent. The key is found
    // whatever case it was stored in.
    QString GetSetting(const QString &application, const QString &section, const QString &key,
                       const QString &defaultValue = QString()) const;

    // Stores the value, replacing the key whatever case it had.
    void SaveSetting(const QString &application, const QString &section, const QString &key,
                     const QString &value);

    // Removes the key (every case variant of it); an absent key is not an error.
    void DeleteSetting(const QString &application, const QString &section, const QString &key);

    bool hasSetting(const QString &application, const QString &section, const QString &key) const;

    // Booleans are stored as "TRUE"/"FALSE" and read as true only for exactly "TRUE".
    bool GetFlag(const QString &application, const QString &section, const QString &key) const;
    void SaveFlag(const QString &application, const QString &section, const QString &key, bool value);

    QString filePath(const QString &application) const;
    QString configDir() const { return m_configDir; }

    static QString defaultConfigDir();
    static QString flagText(bool value) { return value ? QStringLiteral("TRUE") : QStringLiteral("FALSE"); }

private:
    QString m_configDir;
};

// The panel and the editor share application "EXel", section "VARS".
inline const QString kAppName = QStringLiteral("EXel");
inline const QString kVarsSection = QStringLiteral("VARS");

} // namespace exel
