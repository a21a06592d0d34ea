// Connection book and communication settings.
#include "connectionbook.h"

#include "numberrules.h"

namespace exel {

namespace {
QString key(const char *base, int i)
{
    return QString::fromLatin1(base) + QString::number(i);
}
} // namespace

bool CommSettingsForm::settingsChanged = false;

ConnectionBook::ConnectionBook(SettingsStore &settings, Dialogs &dialogs)
    : m_settings(settings)
    , m_dialogs(dialogs)
{
}

void ConnectionBook::LoadConnections()
{
    m_names.clear();
    m_phones.clear();
    m_selected = -1;
    for (int i = 0;; ++i) {
        const QString name = m_settings.GetSetting(kAppName, kVarsSection, key("ModConnect", i));
        if (name.isEmpty())
            break;
        m_names << name;
        m_phones << m_settings.GetSetting(kAppName, kVarsSection, key("ModPhone", i));
    }
    if (!m_names.isEmpty())
        m_selected = static_cast<int>(
            m_names.indexOf(m_settings.GetSetting(kAppName, kVarsSection, QStringLiteral("ModLastConnect"))));
}

void ConnectionBook::writeConnections()
{
    // The whole book goes in one write: removing the old list and storing
    // the new one separately would lose every entry to an interruption
    // between the two.
    std::vector<SettingsStore::Change> changes;
    for (int i = 0; m_settings.hasSetting(kAppName, kVarsSection, key("ModConnect", i)); ++i) {
        changes.push_back({ key("ModConnect", i), std::nullopt });
        changes.push_back({ key("ModPhone", i), std::nullopt });
    }
    changes.push_back({ QStringLiteral("ModLastConnect"), std::nullopt });
    changes.push_back({ QStringLiteral("ModLastPhone"), std::nullopt });
    if (m_selected >= 0) {
        changes.push_back({ QStringLiteral("ModLastConnect"), m_names[m_selected] });
        changes.push_back({ QStringLiteral("ModLastPhone"), m_phones[m_selected] });
    }
    for (int i = 0; i < m_names.size(); ++i) {
        changes.push_back({ key("ModConnect", i), m_names[i] });
        changes.push_back({ key("ModPhone", i), m_phones[i] });
    }
    m_settings.SaveSettings(kAppName, kVarsSection, changes);
}

QString ConnectionBook::ShowPhoneNumber() const
{
    const QString prefix = QStringLiteral("Phone Number: ");
    return m_selected >= 0 ? prefix + m_phones[m_selected] : prefix;
}

bool ConnectionBook::btnNew_Click()
{
    const auto name = m_dialogs.inputBox(QStringLiteral("Please Enter New Connection Name."), QString(), QString());
    if (!name || name->isEmpty())
        return false;
    if (m_names.contains(*name)) {
        m_dialogs.message(QStringLiteral("The Connection ") + *name + QStringLiteral(" already exists!"),
                          MsgIcon::Exclamation);
        return false;
    }
    const auto phone = m_dialogs.inputBox(QStringLiteral("Please Enter the phone number for ") + *name, QString(),
                                          QString());
    m_names << *name;
    m_phones << phone.value_or(QString());
    // The new entry is the one the operator most likely wants to dial next.
    m_selected = static_cast<int>(m_names.size()) - 1;
    return true;
}

bool ConnectionBook::btnEdit_Click()
{
    if (m_selected < 0)
        return false;
    const auto name = m_dialogs.inputBox(QStringLiteral("Please Enter New Connection Name."), QString(),
                                         m_names[m_selected]);
    if (!name || name->isEmpty())
        return false;
    const int other = static_cast<int>(m_names.indexOf(*name));
    if (other >= 0 && other != m_selected) {
        m_dialogs.message(QStringLiteral("The Connection ") + *name + QStringLiteral(" already exists elsewhere!"),
                          MsgIcon::Exclamation);
        return false;
    }
    const auto phone = m_dialogs.inputBox(QStringLiteral("Please Enter the phone number for ") + *name, QString(),
                                          m_phones[m_selected]);
    if (!phone)
        return false;
    m_names[m_selected] = *name;
    m_phones[m_selected] = *phone;
    return true;
}

bool ConnectionBook::btnDelete_Click()
{
    if (m_selected < 0)
        return false;
    if (m_dialogs.messageBox(QStringLiteral("Are you sure you want to\ndelete this connection?"), MsgButtons::OkCancel,
                             MsgIcon::None, QString())
        != MsgAnswer::Ok)
        return false;
    m_names.removeAt(m_selected);
    m_phones.removeAt(m_selected);
    m_selected = m_names.isEmpty() ? -1 : std::min(m_selected, static_cast<int>(m_names.size()) - 1);
    return true;
}

CommSettingsForm::CommSettingsForm(SettingsStore &settings)
    : m_settings(settings)
{
}

void CommSettingsForm::load()
{
    const auto port = numericInt16(m_settings.GetSetting(kAppName, kVarsSection, QStringLiteral("CommPort"),
                                                         QStringLiteral("1")));
    m_port = (port && *port >= 1 && *port <= 5) ? *port : int16_t(1);
    m_modemEnabled = m_settings.GetFlag(kAppName, kVarsSection, QStringLiteral("ModemEnable"));
    m_modemType = m_settings.GetSetting(kAppName, kVarsSection, QStringLiteral("ModemType"));
    m_init = m_settings.GetSetting(kAppName, kVarsSection, QStringLiteral("ModemInit"));
    m_hang = m_settings.GetSetting(kAppName, kVarsSection, QStringLiteral("ModemHang"));
    SetRemoteEnable();
}

void CommSettingsForm::SetRemoteEnable()
{
    if (m_port == 5)
        m_modemEnabled = false;
}

void CommSettingsForm::cmdOK_Click(const QString &modemType, const QString &initString, const QString &hangString)
{
    m_settings.SaveSetting(kAppName, kVarsSection, QStringLiteral("CommPort"), QString::number(m_port));
    if (m_modemEnabled) {
        m_settings.SaveSetting(kAppName, kVarsSection, QStringLiteral("ModemEnable"), QStringLiteral("TRUE"));
        m_settings.SaveSetting(kAppName, kVarsSection, QStringLiteral("ModemInit"), initString);
        m_settings.SaveSetting(kAppName, kVarsSection, QStringLiteral("ModemHang"), hangString);
        m_settings.SaveSetting(kAppName, kVarsSection, QStringLiteral("ModemType"), modemType);
        m_modemType = modemType;
        m_init = initString;
        m_hang = hangString;
    } else {
        m_settings.SaveSetting(kAppName, kVarsSection, QStringLiteral("ModemEnable"), QStringLiteral("FALSE"));
    }
    settingsChanged = true;
}

} // namespace exel
