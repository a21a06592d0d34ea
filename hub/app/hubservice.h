// The running hub: the router's configuration (from its file or from the
// controller), the state, the journal, one line per configured port and the
// servers over them. The program's main() and the end-to-end tests start it
// the same way.
#pragma once

#include "hubconfig.h"
#include "hubcore.h"
#include "mqttserver.h"
#include "panelserver.h"
#include "serialline.h"
#include "videohubserver.h"
#include "webserver.h"

#include <QObject>

#include <memory>
#include <vector>

namespace exel::hub {

class HubService : public QObject {
    Q_OBJECT
public:
    explicit HubService(Clock &clock = SystemClock::instance(), QObject *parent = nullptr);
    ~HubService() override;

    // Opens everything and starts the lines and servers; false with the reason.
    bool start(const HubConfig &config, QString *error);
    void stop();

    HubCore &core() { return *m_core; }
    RouterState &state() { return *m_state; }
    Journal &journal() { return m_journal; }
    PanelServer *panelServer() { return m_panel.get(); }
    const std::vector<std::unique_ptr<VideohubServer>> &videohubServers() const { return m_videohubs; }
    MqttServer *mqttServer() { return m_mqtt.get(); }
    WebServer *webServer() { return m_web.get(); }
    const std::vector<std::unique_ptr<HubLine>> &lines() const { return m_lines; }

private:
    bool loadRouter(const HubConfig &config, QString *error);
    void logChanges();

    Clock &m_clock;
    StatandConfig m_model;
    std::unique_ptr<RouterState> m_state;
    Journal m_journal;
    std::vector<std::unique_ptr<SerialLine>> m_ports;
    std::vector<std::unique_ptr<HubLine>> m_lines;
    std::unique_ptr<HubCore> m_core;
    std::unique_ptr<PanelServer> m_panel;
    std::vector<std::unique_ptr<VideohubServer>> m_videohubs;
    std::unique_ptr<MqttServer> m_mqtt;
    std::unique_ptr<WebServer> m_web;
};

} // namespace exel::hub
