// The hub's configuration: one INI file. Every key, its default and its
// meaning are in one table, which both the reader and `xelhub --help` use; a
// key or value the reader does not accept stops the start with the file, the
// line and the reason.
#pragma once

#include "hubcore.h"
#include "hubline.h"
#include "journal.h"
#include "mqttoptions.h"
#include "panelserver.h"
#include "serialline.h"
#include "videohubserver.h"
#include "webserver.h"

#include <QString>

#include <vector>

namespace exel::hub {

struct LineConfig {
    SerialLineSettings serial;
    std::vector<int16_t> controllers; // empty: all
    LineOptions options;
};

struct HubConfig {
    QString name = QStringLiteral("xelhub");
    QString dataDir; // empty: $XDG_DATA_HOME/xelhub
    QString router; // configuration file, or "auto"
    QString salvoDir; // empty: <data folder>/salvos
    Freshness freshness;
    std::vector<LineConfig> lines;
    bool panelEnabled = true;
    PanelServerOptions panel;
    std::vector<VideohubServerOptions> videohubs; // one per [videohub] section
    bool webEnabled = false;
    WebServerOptions web;
    JournalLimits journal;
    bool mqttEnabled = false;
    MqttOptions mqtt;

    bool autoConfigure() const { return router.compare(QLatin1String("auto"), Qt::CaseInsensitive) == 0; }
    QString dataFolder() const;
    QString salvoFolder() const;
};

struct ConfigProblem {
    QString file;
    int line = 0; // 0: the file as a whole
    QString reason;
    QString text() const;
};

// Reads the configuration text of a file named path (relative paths inside
// it are taken from the file's folder).
bool parseHubConfig(const QString &path, const QByteArray &text, HubConfig &config, ConfigProblem &problem);
bool readHubConfig(const QString &path, HubConfig &config, ConfigProblem &problem);

// The key table as `--help` prints it.
QString hubConfigHelp();

} // namespace exel::hub
