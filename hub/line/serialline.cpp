// A controller line on a port through the panel's link.
#include "serialline.h"

#include "hublog.h"
#include "linecomm.h"
#include "tolcom32.h"

#include <QDir>

namespace exel::hub {

SerialLine::SerialLine(const SerialLineSettings &settings, const QString &settingsDir, Clock &clock)
    : m_settings(settings)
    , m_store(settingsDir)
    , m_clock(clock)
    , m_dialogs(QStringLiteral("line %1: ").arg(settings.name))
    , m_ui(QStringLiteral("line %1: ").arg(settings.name), !settings.phone.isEmpty())
{
    QDir().mkpath(settingsDir);
    // The link reads what a panel's settings dialog would have stored.
    m_store.SaveSetting(kAppName, kVarsSection, QStringLiteral("CommPort"), QString::number(settings.port));
    m_store.SaveFlag(kAppName, kVarsSection, QStringLiteral("ModemEnable"), !settings.phone.isEmpty());
    m_store.SaveSetting(kAppName, kVarsSection, QStringLiteral("ModLastPhone"), settings.phone);
    m_store.SaveSetting(kAppName, kVarsSection, QStringLiteral("ModemType"), settings.modemType);
    m_store.SaveSetting(kAppName, kVarsSection, QStringLiteral("ModemInit"), settings.modemInit);
    m_store.SaveSetting(kAppName, kVarsSection, QStringLiteral("ModemHang"), settings.modemHang);
}

SerialLine::~SerialLine()
{
    if (m_core)
        m_core->CloseLink();
    m_core.reset();
    m_comm.reset();
}

bool SerialLine::open(QString *error)
{
    // The hub's one thread serves its clients while a line waits for the
    // controller: the engine waits in the event loop, not on the device alone.
    SetEventWait(0, 1);
    m_comm.reset(createLineComm());
    if (!m_comm) {
        if (error)
            *error = QStringLiteral("the comm control is not available");
        return false;
    }
    m_comm->setObjectName(QStringLiteral("comHublink"));
    m_core = std::make_unique<HublinkCore>(m_comm.get(), m_store, m_dialogs, m_clock, &m_ui);
    m_core->OpenLink();
    applyLineSettings();
    return true;
}

void SerialLine::applyLineSettings()
{
    // The link opens at the controller's usual 9600,N,8,2; another rate is
    // set on the open port.
    if (m_core && m_core->linkEnabled() && m_settings.lineSettings != HublinkCore::kPortSettings)
        m_comm->setProperty("Settings", m_settings.lineSettings);
}

bool SerialLine::portOpen()
{
    return m_core && m_core->linkEnabled() && m_comm && m_comm->property("PortOpen").toBool();
}

void SerialLine::reopen()
{
    if (!m_core)
        return;
    m_core->CloseLink();
    m_core->OpenLink();
    applyLineSettings();
    if (portOpen())
        hubLog(QStringLiteral("line %1: port COM%2 open").arg(m_settings.name).arg(m_settings.port));
}

} // namespace exel::hub
