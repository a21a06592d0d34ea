// XelCfgLoadUtilities: import of a configuration file into the editor's
// database and export of the database as a configuration file.
#pragma once

#include "dialogs.h"

#include <QString>
#include <QStringList>

namespace exel {

class XelCfgDb;
class Dialogs;
class SettingsStore;
class ThermoSink;

class XelCfgLoadUtilities {
public:
    // The filter both file dialogs offer.
    static const QString kConfigFilter;

    // Nothing is owned; thermo may be null.
    XelCfgLoadUtilities(XelCfgDb &db, Dialogs &dialogs, SettingsStore &settings, ThermoSink *thermo = nullptr);

    // Cuts a line at every comma; each field trimmed and upper-cased; inner
    // empty fields kept, one trailing empty field dropped.
    static QStringList FieldSplit(const QString &line);

    // Title of a configuration path: the file name cut before its first ".".
    static QString ConfigurationTitle(const QString &path);

    // Empties the database and rebuilds it from the file. Any failure shows one
    // box and leaves the default database; the result says whether the file loaded.
    bool LoadConfigurationFile(const QString &path);

    // Writes the database as a configuration file (temporary file renamed into
    // place), then offers to make it the default configuration.
    bool SaveConfigurationFile(const QString &path);

    // File dialogs; Cancel or an empty name does nothing and returns false.
    bool ChooseFileToOpen();
    // The open dialog alone: the chosen path, "" when cancelled.
    QString askFileToOpen();
    // What the save dialog is asked: the current configuration's path exactly
    // as it is, with a filter that leaves its suffix alone.
    FileDialogRequest saveRequest() const;
    bool ChooseFileToSave();

    // Start-up: the stored "ConfigFile" when there is one, else the default database.
    bool LoadStartupConfiguration();

    // The message of the last failed import ("" after success).
    QString lastFailure() const { return m_failure; }

private:
    bool importLines(const QStringList &lines, const QString &title, QString &failure);

    XelCfgDb &m_db;
    Dialogs &m_dialogs;
    SettingsStore &m_settings;
    ThermoSink *m_thermo;
    QString m_failure;
};

} // namespace exel
