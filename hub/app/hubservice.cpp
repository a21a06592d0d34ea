// Start-up and shut-down of the hub.
#include "hubservice.h"

#include "configr7x0.h"
#include "configreader.h"
#include "hublog.h"

#include <QDir>

namespace exel::hub {

HubService::HubService(Clock &clock, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
{
}

HubService::~HubService()
{
    stop();
}

bool HubService::loadRouter(const HubConfig &config, QString *error)
{
    if (!config.autoConfigure()) {
        const ConfigLoadResult r = LoadConfigFile(m_model, config.router);
        if (r.ok())
            return true;
        if (error) {
            *error = r.status == ConfigLoadResult::Status::OpenFailed ? configOpenErrorText(config.router, r.error)
                                                                      : configBadLineText(r);
            error->replace(QLatin1Char('\n'), QStringLiteral(" / "));
        }
        return false;
    }
    // Asked of the controller on the first line, as a panel's AutoLoad does;
    // the file it writes stays in the data folder.
    SerialLine &first = *m_ports.front();
    LogDialogs dialogs(QStringLiteral("auto-configuration: "));
    bool loaded = false;
    QString why;
    ConfigR7x0 auto7x0(first.link(), dialogs, config.dataFolder(), [&](const QString &file) {
        const ConfigLoadResult r = LoadConfigFile(m_model, file);
        loaded = r.ok();
        if (!loaded)
            why = configBadLineText(r);
        else
            hubLog(QStringLiteral("auto-configuration: loaded %1").arg(file));
    });
    auto7x0.AutoConfigure();
    if (!loaded && error)
        *error = QStringLiteral("auto-configuration from the controller failed")
            + (why.isEmpty() ? QString() : QStringLiteral(": ") + why);
    return loaded;
}

bool HubService::start(const HubConfig &config, QString *error)
{
    const QString data = config.dataFolder();
    if (!QDir().mkpath(data)) {
        if (error)
            *error = QStringLiteral("cannot create the data folder %1").arg(data);
        return false;
    }
    for (const LineConfig &lc : config.lines) {
        auto port = std::make_unique<SerialLine>(lc.serial, data + QStringLiteral("/line-") + lc.serial.name, m_clock);
        QString why;
        if (!port->open(&why)) {
            if (error)
                *error = QStringLiteral("line %1: %2").arg(lc.serial.name, why);
            return false;
        }
        hubLog(QStringLiteral("line %1: COM%2 %3 (%4)")
                   .arg(lc.serial.name)
                   .arg(lc.serial.port)
                   .arg(lc.serial.lineSettings, port->link().getDescriptionString()));
        m_ports.push_back(std::move(port));
    }
    if (!loadRouter(config, error))
        return false;
    m_state = std::make_unique<RouterState>(m_model);
    QString why;
    if (!m_journal.open(data, config.journal, &why)) {
        if (error)
            *error = QStringLiteral("journal: ") + why;
        return false;
    }
    if (m_journal.recovered() > 0)
        hubLog(QStringLiteral("journal: %1 entries were open when the hub last stopped; marked interrupted")
                   .arg(m_journal.recovered()));
    m_core = std::make_unique<HubCore>(*m_state, m_journal, m_clock, config.freshness);
    m_core->setSalvoFolder(config.salvoFolder());
    for (size_t i = 0; i < config.lines.size(); ++i) {
        const LineConfig &lc = config.lines[i];
        m_lines.push_back(std::make_unique<HubLine>(
            lc.serial.name, *m_ports[i], *m_state, m_journal, m_clock, lc.options, lc.controllers));
        m_core->addLine(m_lines.back().get());
    }
    logChanges();
    if (config.panelEnabled) {
        m_panel = std::make_unique<PanelServer>(*m_core, config.panel);
        if (!m_panel->listen(error))
            return false;
        if (!config.panel.address.isLoopback() && m_panel->options().allow.loopbackOnly())
            hubLog(QStringLiteral("panel server: listening beyond loopback, but only loopback clients are allowed "
                                  "([panel] allow)"));
    }
    for (const VideohubServerOptions &vo : config.videohubs) {
        m_videohubs.push_back(std::make_unique<VideohubServer>(*m_core, vo, config.name));
        if (!m_videohubs.back()->listen(error))
            return false;
    }
    if (config.mqttEnabled) {
        MqttOptions mqtt = config.mqtt;
        if (mqtt.prefix.isEmpty())
            mqtt.prefix = QStringLiteral("exel/") + mqtt::topicPart(config.name);
        if (mqtt.clientId.isEmpty())
            mqtt.clientId = QStringLiteral("xelhub-") + config.name;
        m_mqtt = std::make_unique<MqttServer>(*m_core, mqtt);
        QString why;
        if (!m_mqtt->start(&why)) {
            if (error)
                *error = QStringLiteral("mqtt: ") + why;
            return false;
        }
    }
    if (config.webEnabled) {
        WebServerOptions web = config.web;
        if (web.sessionsFile.isEmpty())
            web.sessionsFile = data + QStringLiteral("/web-sessions.json");
        m_web = std::make_unique<WebServer>(*m_core, web, m_clock);
        if (!m_web->listen(error))
            return false;
        if (!web.address.isLoopback() && m_web->options().allow.loopbackOnly())
            hubLog(QStringLiteral("web server: listening beyond loopback, but only loopback clients are allowed "
                                  "([web] allow)"));
    }
    for (auto &line : m_lines)
        line->start();
    hubLog(QStringLiteral("%1: started with %2 (%3 controllers, %4 destinations)")
               .arg(config.name, m_model.configurationName())
               .arg(m_model.controllerCount())
               .arg(m_model.destinationCount()));
    return true;
}

void HubService::logChanges()
{
    // One line per route change seen at the controller (the first reading of
    // each output is not a change).
    connect(m_state.get(), &RouterState::crosspointChanged, this,
        [this](int16_t address, int output, int level, int input, bool flag, int previous) {
            if (previous < 0)
                return;
            QString dest = m_state->destinationName(address, output);
            if (dest.isEmpty())
                dest = QStringLiteral("output %1").arg(output);
            auto name = [&](int in) {
                if (in == 0)
                    return QStringLiteral("none");
                const QString s = m_state->sourceName(address, level, in);
                return s.isEmpty() ? QStringLiteral("input %1").arg(in) : s;
            };
            hubLog(QStringLiteral("route %1/%2: %3 -> %4%5")
                       .arg(dest, m_state->levelName(address, level), name(previous), name(input),
                           flag ? QStringLiteral(" (flagged)") : QString()));
        });
}

void HubService::stop()
{
    for (auto &line : m_lines)
        line->stop();
    m_videohubs.clear();
    m_mqtt.reset();
    m_web.reset();
    m_panel.reset();
    m_core.reset();
    m_lines.clear();
    m_ports.clear();
    m_journal.close();
}

} // namespace exel::hub
