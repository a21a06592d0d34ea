// Per-user settings store: text values by application, section and key, kept
// in <config folder>/<application>.ini. Keys and sections are not case-sensitive.
#pragma once

#include <QString>

#include <optional>
#include <vector>

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

    // One change of a batch: the key and its new value, or no value to remove it.
    struct Change {
        QString key;
        std::optional<QString> value;
    };
    // Applies the changes in order and writes the file once: the file is
    // replaced whole, so an interruption leaves either all of them or none.
    void SaveSettings(const QString &application, const QString &section, const std::vector<Change> &changes);

    // Booleans are stored as "TRUE"/"FALSE" and read as true only for exactly "TRUE".
    bool GetFlag(const QString &application, const QString &section, const QString &key) const;
    void SaveFlag(const QString &application, const QString &section, const QString &key, bool value);

    QString filePath(const QString &application) const;
    // How many times this store has written a settings file.
    int writeCount() const { return m_writes; }
    QString configDir() const { return m_configDir; }

    static QString defaultConfigDir();
    static QString flagText(bool value) { return value ? QStringLiteral("TRUE") : QStringLiteral("FALSE"); }

private:
    QString m_configDir;
    int m_writes = 0;
};

// The panel and the editor share application "EXel", section "VARS".
inline const QString kAppName = QStringLiteral("EXel");
inline const QString kVarsSection = QStringLiteral("VARS");

} // namespace exel
