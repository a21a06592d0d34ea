// The dial-up connection book: named connections with their phone numbers,
// kept in the settings as ModConnect<i>/ModPhone<i>, and the last one chosen.
#pragma once

#include "dialogs.h"
#include "settingsstore.h"

#include <QStringList>

namespace exel {

class ConnectionBook {
public:
    ConnectionBook(SettingsStore &settings, Dialogs &dialogs);

    // Reads ModConnect0, ModConnect1, ... up to the first empty name, and
    // selects the entry named by ModLastConnect.
    void LoadConnections();
    // Rewrites the whole list, numbered 0..n-1 in list order, and the last
    // connection from the selection (removed when nothing is selected).
    void writeConnections();

    // "Phone Number: " and the selected entry's number.
    QString ShowPhoneNumber() const;

    // The buttons; each asks through the dialog interface. True when the list changed.
    bool btnNew_Click();
    bool btnEdit_Click();
    bool btnDelete_Click();

    const QStringList &names() const { return m_names; }
    const QStringList &phones() const { return m_phones; }
    int selected() const { return m_selected; }
    void select(int index) { m_selected = (index >= 0 && index < m_names.size()) ? index : -1; }

private:
    SettingsStore &m_settings;
    Dialogs &m_dialogs;
    QStringList m_names;
    QStringList m_phones;
    int m_selected = -1;
};

// The communication settings: the port choice (1..4 = COM1..COM4, 5 =
// simulator), the remote (modem) flag and the modem strings.
class CommSettingsForm {
public:
    explicit CommSettingsForm(SettingsStore &settings);

    void load();
    void CommSelect_Click(int index) { m_port = static_cast<int16_t>(index + 1); SetRemoteEnable(); }
    void chkRemote_Click(bool checked) { m_modemEnabled = checked; SetRemoteEnable(); }
    // Stores the choices; the caller then reloads the link.
    void cmdOK_Click(const QString &modemType, const QString &initString, const QString &hangString);

    // What SetRemoteEnable decides for the controls.
    void SetRemoteEnable();
    bool remoteCheckEnabled() const { return m_port != 5; }
    bool modemFieldsEnabled() const { return m_modemEnabled; }

    int16_t port() const { return m_port; }
    bool modemEnabled() const { return m_modemEnabled; }
    QString modemType() const { return m_modemType; }
    QString initString() const { return m_init; }
    QString hangString() const { return m_hang; }

    // Set by OK; the main window then reloads the link.
    static bool settingsChanged;

private:
    SettingsStore &m_settings;
    int16_t m_port = 1;
    bool m_modemEnabled = false;
    QString m_modemType;
    QString m_init;
    QString m_hang;
};

} // namespace exel
