// The MQTT server: the hub's state on a broker for any number of subscribers
// across a facility, and commands from them into the same line queues and
// journal as every other client's. Retained topics hold one message per level
// and destination, per line and per level's link, and the hub's liveness (the
// last will); each is published again only when it changes, and all of them
// on every connection to the broker (after a broker restart its retained
// store may be empty). Journal entries are published as they change.
// Commands are answered on the client's MQTT 5 response topic (with its
// correlation data) or on the fixed reply topic, first with the journal
// entries queued, then with each entry's outcome. Everything here runs on the
// Qt thread; the connection's network thread is MqttClient's.
#pragma once

#include "hubcore.h"
#include "mqttclient.h"
#include "mqttoptions.h"
#include "mqttprotocol.h"
#include "routeplan.h"

#include <QObject>
#include <QTimer>

#include <map>
#include <set>
#include <tuple>
#include <vector>

namespace exel::hub {

class MqttServer : public QObject {
    Q_OBJECT
public:
    // options: prefix and client id already resolved (see HubService).
    MqttServer(HubCore &hub, MqttOptions options, QObject *parent = nullptr);
    ~MqttServer() override;

    bool start(QString *error);
    void stop();

    const mqtt::Topics &topics() const { return m_topics; }
    bool connected() const { return m_client.isConnected(); }
    // Retained messages of one full publication (the count a subscriber sees
    // after a connection).
    int retainedCount() const;
    // Messages published since the start (state, journal and replies).
    int64_t published() const { return m_published; }

signals:
    // A full publication went out after a connection to the broker.
    void republished();

private:
    struct Place {
        int level;
        int destination;
    };
    struct Pending {
        QString topic;
        QByteArray correlation;
        QJsonValue tag;
    };
    struct Bucket {
        double tokens = 0;
        int64_t at = 0;
    };

    void onConnected();
    void onMessage(const QString &topic, const QByteArray &payload, const QString &responseTopic,
        const QByteArray &correlation);
    void onEntryChanged(const JournalEntry &entry);
    void publishAll();
    void publishDestination(int level, int destination);
    void publishLine(const QString &line);
    void markDirty(int16_t address, int output, int ctlLevel);
    void markOutput(int16_t address, int output);
    void flush();
    bool send(const QString &topic, const QByteArray &payload, int qos, bool retain,
        const QByteArray &correlation = QByteArray());
    bool takeToken(const QString &user);
    void reply(const Pending &to, const QByteArray &payload);
    // The command's submissions; false with the reason when nothing was queued.
    bool carryOut(const mqtt::Command &command, const Origin &origin, Submitted &submitted, QString &why);
    QString lineOf(int16_t address) const;

    HubCore &m_hub;
    MqttOptions m_options;
    mqtt::Topics m_topics;
    MqttClient m_client;
    // (address, controller level, output) -> the model's level and destination.
    std::map<std::tuple<int16_t, int, int>, std::vector<Place>> m_places;
    std::map<std::pair<int16_t, int>, std::vector<Place>> m_outputPlaces;
    std::set<std::pair<int, int>> m_dirty; // (level, destination) to publish
    std::set<std::pair<int16_t, int>> m_shownUnconfirmed; // outputs published as unconfirmed
    std::set<QString> m_dirtyLines;
    std::set<int16_t> m_locksSeen; // controllers whose lock table was read
    QTimer m_flush;
    std::map<int64_t, Pending> m_pending; // journal id -> where its outcome goes
    std::map<QString, Bucket> m_buckets; // command rate per user
    int64_t m_published = 0;
    bool m_loggedRefusal = false;
    bool m_loggedDown = false;
};

} // namespace exel::hub
