// The hub's MQTT connection as its configuration describes it: the broker,
// the hub's credentials and TLS files, its topic prefix and the bounds on
// what clients may send it. No libmosquitto here, so the configuration reader
// does not depend on it.
#pragma once

#include <QString>
#include <QStringList>

namespace exel::hub {

struct MqttOptions {
    QString host = QStringLiteral("127.0.0.1");
    int port = 1883;
    QString clientId; // empty: "xelhub-<hub name>"
    QString username; // empty: connect without credentials
    QString password; // never logged
    QString caFile; // TLS to the broker when set (or when a client certificate is)
    QString certFile; // client certificate and its key, for brokers that ask for one
    QString keyFile;
    QString prefix; // empty: "exel/<hub name>"
    int keepaliveS = 30;
    int reconnectMinS = 1; // back-off between connection attempts, doubling up to the most
    int reconnectMaxS = 30;
    int stateQos = 1; // QoS of the retained state and the replies
    int maxCommandBytes = 8192; // a longer command gets an error reply
    QStringList operators; // users who may command (empty: whoever the broker lets publish)
    double commandRate = 20; // commands a second per user, sustained
    double commandBurst = 50; // and in one burst
    int maxPendingReplies = 10000; // journal entries followed for their outcome at once

    bool tls() const { return !caFile.isEmpty() || !certFile.isEmpty(); }
};

} // namespace exel::hub
