// The hub's connection to its MQTT broker, over libmosquitto (MQTT 5). The
// library's own thread (mosquitto_loop_start) does the network work and the
// reconnecting with back-off; everything it reports is handed to the Qt
// thread as queued signals, so the hub's state is only ever touched there.
// publish() and subscribe() are called on the Qt thread (libmosquitto's
// calls are thread-safe).
#pragma once

#include "mqttoptions.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

struct mosquitto;
struct mqtt5__property;
struct mosquitto_message;

namespace exel::hub {

class MqttClient : public QObject {
    Q_OBJECT
public:
    // Last will: published by the broker for the hub when its connection ends
    // without a goodbye (retained).
    struct Will {
        QString topic;
        QByteArray payload;
    };

    MqttClient(MqttOptions options, Will will, QObject *parent = nullptr);
    ~MqttClient() override;

    // Starts connecting (and reconnecting, for as long as the client runs);
    // false with the reason only for what no retry can mend (bad TLS files,
    // an unusable option).
    bool start(QString *error);
    // Says goodbye: the broker publishes the will at once (a clean stop looks
    // like what it is to subscribers: the hub is offline), then disconnects
    // and joins the network thread.
    void stop();

    bool isConnected() const { return m_connected; }
    // Queues a message; false when not connected or the library refused it.
    // correlation: the MQTT 5 correlation data of a reply (empty: none).
    bool publish(const QString &topic, const QByteArray &payload, int qos, bool retain,
        const QByteArray &correlation = QByteArray());
    bool subscribe(const QString &pattern, int qos);

signals:
    void connected();
    void disconnected(const QString &why);
    // A connection attempt the broker refused (bad credentials, not authorised).
    void refused(const QString &why);
    void message(const QString &topic, const QByteArray &payload, const QString &responseTopic,
        const QByteArray &correlation);

private:
    static void onConnect(mosquitto *, void *self, int rc, int flags, const mqtt5__property *props);
    static void onDisconnect(mosquitto *, void *self, int rc, const mqtt5__property *props);
    static void onMessage(mosquitto *, void *self, const mosquitto_message *msg, const mqtt5__property *props);
    bool connectAndRun(QString *error);
    void watchdog();

    MqttOptions m_options;
    Will m_will;
    mosquitto *m_mosq = nullptr;
    bool m_started = false;
    bool m_connected = false; // Qt thread's view
    bool m_connectedSinceCheck = false;
    // The library's thread gives up for good on some errors (a host name that
    // does not resolve, a TLS failure): this restarts it after a while.
    QTimer m_watchdog;
    // A first connection that fails at once (nothing listens, the name does
    // not resolve) is retried from here: the library's thread only
    // reconnects once it had a socket.
    QTimer m_retry;
    int m_retryDelayS = 0;
};

} // namespace exel::hub
