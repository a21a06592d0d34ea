// Test support for the MQTT server: Debian's real mosquitto broker on a free
// loopback port with a private configuration (password file and ACL), and a
// small libmosquitto client that records what it receives and the broker's
// answer to what it publishes.
#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

namespace exel::hub::mqtttest {

inline bool waitFor(const std::function<bool()> &pred, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

inline quint16 freePort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

// The accounts of the test broker: every hub writes only under its prefix
// (exel/<user>), "viewer" reads everything and writes nothing, "mcr" reads
// everything and commands as itself.
class Broker {
public:
    // hubs: the hub accounts (and so prefixes exel/<hub>).
    // extra: more lines for the broker's configuration.
    explicit Broker(QString dir, QStringList hubs = { QStringLiteral("hub") }, QByteArray extra = QByteArray())
        : m_dir(std::move(dir))
        , m_hubs(std::move(hubs))
        , m_extra(std::move(extra))
    {
        QDir(m_dir).removeRecursively();
        QDir().mkpath(m_dir);
    }
    ~Broker() { stop(); }

    bool start()
    {
        if (m_port == 0 && !writeConfiguration())
            return false;
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setStandardOutputFile(m_dir + QStringLiteral("/mosquitto.log"), QIODevice::Append);
        m_process.start(QStringLiteral("mosquitto"), { QStringLiteral("-c"), m_dir + QStringLiteral("/mosquitto.conf") });
        if (!m_process.waitForStarted(5000))
            return false;
        // Listening once a connection is accepted.
        return waitFor(
            [&] {
                QTcpSocket s;
                s.connectToHost(QHostAddress::LocalHost, m_port);
                return s.waitForConnected(100);
            },
            5000);
    }
    // SIGKILL: no goodbye to anyone, the retained store is gone with it
    // (no persistence).
    void kill()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            kill();
    }
    quint16 port() const { return m_port; }
    qint64 pid() const { return m_process.processId(); }
    QString log() const
    {
        QFile f(m_dir + QStringLiteral("/mosquitto.log"));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    static QString password(const QString &user) { return user + QStringLiteral("-secret"); }

private:
    bool writeConfiguration()
    {
        m_port = freePort();
        const QString passwd = m_dir + QStringLiteral("/passwd");
        QStringList users = m_hubs;
        users << QStringLiteral("viewer") << QStringLiteral("mcr");
        for (int i = 0; i < users.size(); ++i) {
            QStringList args;
            if (i == 0)
                args << QStringLiteral("-c");
            args << QStringLiteral("-b") << passwd << users[i] << password(users[i]);
            if (QProcess::execute(QStringLiteral("mosquitto_passwd"), args) != 0)
                return false;
        }
        QByteArray acl;
        for (const QString &hub : m_hubs)
            acl += QStringLiteral("user %1\ntopic readwrite exel/%1/#\n\n").arg(hub).toUtf8();
        acl += "user viewer\ntopic read exel/#\n\n";
        acl += "user mcr\ntopic read exel/#\ntopic write exel/+/command/mcr\n";
        const QByteArray conf = QStringLiteral("listener %1 127.0.0.1\nallow_anonymous false\npassword_file %2\n"
                                               "acl_file %3/acl\npersistence false\nmax_packet_size 65536\n"
                                               "log_dest stdout\nlog_type error\nlog_type warning\n"
                                               // As root the broker would switch to its own user, who
                                               // cannot read the test's private folder.
                                               "user %4\n")
                                    .arg(m_port)
                                    .arg(passwd, m_dir, QString::fromLocal8Bit(::getpwuid(::getuid())->pw_name))
                                    .toUtf8()
            + m_extra;
        QFile a(m_dir + QStringLiteral("/acl"));
        QFile c(m_dir + QStringLiteral("/mosquitto.conf"));
        return a.open(QIODevice::WriteOnly) && a.write(acl) == acl.size() && c.open(QIODevice::WriteOnly)
            && c.write(conf) == conf.size();
    }

    QString m_dir;
    QStringList m_hubs;
    QByteArray m_extra;
    quint16 m_port = 0;
    QProcess m_process;
};

struct Received {
    QString topic;
    QByteArray payload;
    bool retained = false;
    QByteArray correlation;
    std::chrono::steady_clock::time_point at; // when the client's thread had it
};

// A subscriber and publisher for tests, on libmosquitto's own thread.
class Client {
public:
    Client(const QString &id, const QString &user, quint16 port)
        : m_port(port)
    {
        mosquitto_lib_init();
        m_mosq = mosquitto_new(id.toUtf8().constData(), true, this);
        mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
        mosquitto_int_option(m_mosq, MOSQ_OPT_TCP_NODELAY, 1); // as the hub's connection
        if (!user.isEmpty())
            mosquitto_username_pw_set(m_mosq, user.toUtf8().constData(), Broker::password(user).toUtf8().constData());
        mosquitto_connect_v5_callback_set(m_mosq, [](mosquitto *, void *self, int rc, int, const mosquitto_property *) {
            auto *c = static_cast<Client *>(self);
            std::lock_guard<std::mutex> lock(c->m_mutex);
            c->m_connack = rc;
        });
        mosquitto_message_v5_callback_set(
            m_mosq, [](mosquitto *, void *self, const mosquitto_message *m, const mosquitto_property *props) {
                auto *c = static_cast<Client *>(self);
                Received r { QString::fromUtf8(m->topic),
                    QByteArray(static_cast<const char *>(m->payload), m->payloadlen), m->retain, QByteArray(),
                    std::chrono::steady_clock::now() };
                void *data = nullptr;
                uint16_t len = 0;
                if (mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &data, &len, false)) {
                    r.correlation = QByteArray(static_cast<const char *>(data), len);
                    std::free(data);
                }
                std::lock_guard<std::mutex> lock(c->m_mutex);
                c->m_received.push_back(r);
            });
        mosquitto_publish_v5_callback_set(m_mosq, [](mosquitto *, void *self, int mid, int rc, const mosquitto_property *) {
            auto *c = static_cast<Client *>(self);
            std::lock_guard<std::mutex> lock(c->m_mutex);
            c->m_acks[mid] = rc;
        });
        mosquitto_subscribe_v5_callback_set(
            m_mosq, [](mosquitto *, void *self, int mid, int, const int *, const mosquitto_property *) {
                auto *c = static_cast<Client *>(self);
                std::lock_guard<std::mutex> lock(c->m_mutex);
                c->m_acks[mid] = 0;
            });
    }
    ~Client()
    {
        mosquitto_disconnect(m_mosq);
        mosquitto_loop_stop(m_mosq, m_started ? false : true);
        mosquitto_destroy(m_mosq);
    }

    // The broker's CONNACK reason (0 accepted), -1 when none came.
    int connect()
    {
        mosquitto_connect_async(m_mosq, "127.0.0.1", m_port, 30);
        m_started = mosquitto_loop_start(m_mosq) == MOSQ_ERR_SUCCESS;
        waitFor([&] { return connack() >= 0; }, 5000);
        return connack();
    }
    int connack()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_connack;
    }
    bool subscribe(const QString &pattern)
    {
        int mid = 0;
        if (mosquitto_subscribe_v5(m_mosq, &mid, pattern.toUtf8().constData(), 1, 0, nullptr) != MOSQ_ERR_SUCCESS)
            return false;
        return waitFor([&] { return ack(mid) >= 0; }, 5000);
    }
    // Publishes with QoS 1 and waits for the broker's acknowledgement; its
    // reason code (0 success, 0x87 not authorised), -1 when none came.
    int publish(const QString &topic, const QByteArray &payload, const QString &responseTopic = QString(),
        const QByteArray &correlation = QByteArray(), bool retain = false)
    {
        mosquitto_property *props = nullptr;
        if (!responseTopic.isEmpty())
            mosquitto_property_add_string(&props, MQTT_PROP_RESPONSE_TOPIC, responseTopic.toUtf8().constData());
        if (!correlation.isEmpty())
            mosquitto_property_add_binary(&props, MQTT_PROP_CORRELATION_DATA, correlation.constData(),
                static_cast<uint16_t>(correlation.size()));
        int mid = 0;
        const int rc = mosquitto_publish_v5(m_mosq, &mid, topic.toUtf8().constData(), static_cast<int>(payload.size()),
            payload.constData(), 1, retain, props);
        mosquitto_property_free_all(&props);
        if (rc != MOSQ_ERR_SUCCESS)
            return -2;
        waitFor([&] { return ack(mid) >= 0; }, 5000);
        return ack(mid);
    }
    // Queues a message without waiting for the broker (benchmarks).
    bool send(const QString &topic, const QByteArray &payload, int qos, bool retain)
    {
        return mosquitto_publish_v5(m_mosq, nullptr, topic.toUtf8().constData(), static_cast<int>(payload.size()),
                   payload.constData(), qos, retain, nullptr)
            == MOSQ_ERR_SUCCESS;
    }
    size_t count()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received.size();
    }
    std::vector<Received> received()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }
    std::vector<Received> on(const QString &topic)
    {
        std::vector<Received> out;
        for (const Received &r : received()) {
            if (r.topic == topic)
                out.push_back(r);
        }
        return out;
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_received.clear();
    }
    // The last payload on each topic.
    std::map<QString, QByteArray> latest()
    {
        std::map<QString, QByteArray> out;
        for (const Received &r : received())
            out[r.topic] = r.payload;
        return out;
    }

private:
    int ack(int mid)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_acks.find(mid);
        return it == m_acks.end() ? -1 : it->second;
    }

    quint16 m_port;
    mosquitto *m_mosq = nullptr;
    bool m_started = false;
    std::mutex m_mutex;
    int m_connack = -1;
    std::vector<Received> m_received;
    std::map<int, int> m_acks;
};

} // namespace exel::hub::mqtttest
