// The hub's libmosquitto connection and the hand-over of its callbacks to the
// Qt thread.
#include "mqttclient.h"

#include <QMetaObject>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <cstring>
#include <mutex>

namespace exel::hub {

namespace {

QString libraryError(int rc)
{
    if (rc == MOSQ_ERR_ERRNO)
        return QString::fromLocal8Bit(std::strerror(errno));
    return QString::fromUtf8(mosquitto_strerror(rc));
}

} // namespace

MqttClient::MqttClient(MqttOptions options, Will will, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
    , m_will(std::move(will))
{
    static std::once_flag init;
    std::call_once(init, [] { mosquitto_lib_init(); });
}

MqttClient::~MqttClient()
{
    stop();
}

bool MqttClient::start(QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        if (m_mosq) {
            mosquitto_destroy(m_mosq);
            m_mosq = nullptr;
        }
        return false;
    };
    // A clean start: commands a client sent while the hub was away are not
    // carried out late on a live router, and the hub republishes its whole
    // state on every connection anyway.
    m_mosq = mosquitto_new(m_options.clientId.toUtf8().constData(), true, this);
    if (!m_mosq)
        return fail(QStringLiteral("cannot create the MQTT client: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    mosquitto_int_option(m_mosq, MOSQ_OPT_TCP_NODELAY, 1);
    int rc = MOSQ_ERR_SUCCESS;
    if (!m_options.username.isEmpty()) {
        rc = mosquitto_username_pw_set(m_mosq, m_options.username.toUtf8().constData(),
            m_options.password.isEmpty() ? nullptr : m_options.password.toUtf8().constData());
        if (rc != MOSQ_ERR_SUCCESS)
            return fail(QStringLiteral("MQTT user name: %1").arg(libraryError(rc)));
    }
    if (m_options.tls()) {
        const QByteArray ca = m_options.caFile.toLocal8Bit();
        const QByteArray cert = m_options.certFile.toLocal8Bit();
        const QByteArray key = m_options.keyFile.toLocal8Bit();
        rc = mosquitto_tls_set(m_mosq, ca.isEmpty() ? nullptr : ca.constData(), nullptr,
            cert.isEmpty() ? nullptr : cert.constData(), key.isEmpty() ? nullptr : key.constData(), nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            return fail(QStringLiteral("MQTT TLS files: %1").arg(libraryError(rc)));
    }
    const QByteArray willTopic = m_will.topic.toUtf8();
    rc = mosquitto_will_set_v5(m_mosq, willTopic.constData(), static_cast<int>(m_will.payload.size()),
        m_will.payload.constData(), 1, true, nullptr);
    if (rc != MOSQ_ERR_SUCCESS)
        return fail(QStringLiteral("MQTT last will: %1").arg(libraryError(rc)));
    mosquitto_reconnect_delay_set(m_mosq, static_cast<unsigned>(m_options.reconnectMinS),
        static_cast<unsigned>(std::max(m_options.reconnectMinS, m_options.reconnectMaxS)), true);
    mosquitto_connect_v5_callback_set(m_mosq, &MqttClient::onConnect);
    mosquitto_disconnect_v5_callback_set(m_mosq, &MqttClient::onDisconnect);
    mosquitto_message_v5_callback_set(m_mosq, &MqttClient::onMessage);
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, [this] {
        QString why;
        if (!connectAndRun(&why))
            emit disconnected(why);
    });
    m_retryDelayS = m_options.reconnectMinS;
    if (!connectAndRun(error))
        return fail(error ? *error : QString());
    m_watchdog.setInterval(1000 * (std::max(m_options.reconnectMinS, m_options.reconnectMaxS) + 5));
    connect(&m_watchdog, &QTimer::timeout, this, &MqttClient::watchdog);
    m_watchdog.start();
    return true;
}

bool MqttClient::connectAndRun(QString *error)
{
    // A broker that is down now is not an error: the network thread keeps
    // trying with back-off.
    int rc = mosquitto_connect_bind_async(
        m_mosq, m_options.host.toUtf8().constData(), m_options.port, m_options.keepaliveS, nullptr);
    auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    // Only a call the library cannot make at all stops the start; a broker
    // that refuses, is not there, or whose certificate does not check out
    // (it may be renewed) is tried again while the hub serves its lines.
    if (rc == MOSQ_ERR_INVAL || rc == MOSQ_ERR_NOMEM || rc == MOSQ_ERR_NOT_SUPPORTED)
        return fail(QStringLiteral("MQTT connect to %1:%2: %3").arg(m_options.host).arg(m_options.port).arg(libraryError(rc)));
    if (rc != MOSQ_ERR_SUCCESS) {
        const QString why = libraryError(rc);
        QMetaObject::invokeMethod(this, [this, why] { emit disconnected(why); }, Qt::QueuedConnection);
        m_retry.start(1000 * m_retryDelayS);
        m_retryDelayS = std::min(std::max(m_options.reconnectMinS, m_options.reconnectMaxS), 2 * m_retryDelayS);
        return true;
    }
    m_retryDelayS = m_options.reconnectMinS;
    rc = mosquitto_loop_start(m_mosq);
    if (rc != MOSQ_ERR_SUCCESS)
        return fail(QStringLiteral("MQTT network thread: %1").arg(libraryError(rc)));
    m_started = true;
    return true;
}

void MqttClient::watchdog()
{
    if (m_connected || m_connectedSinceCheck) {
        m_connectedSinceCheck = m_connected;
        return;
    }
    if (m_retry.isActive())
        return;
    // Not connected for a whole round of back-off: start the network thread
    // again, in case the library's gave up.
    mosquitto_loop_stop(m_mosq, true);
    m_started = false;
    emit disconnected(QStringLiteral("no connection came up: check the host, the port, the TLS files and the "
                                     "broker's certificate"));
    QString why;
    if (!connectAndRun(&why))
        emit disconnected(why);
}

void MqttClient::stop()
{
    m_watchdog.stop();
    m_retry.stop();
    if (!m_mosq)
        return;
    if (m_started) {
        // Reason 4: the broker publishes the will ("offline") for us. Then
        // the network thread ends by itself.
        mosquitto_disconnect_v5(m_mosq, MQTT_RC_DISCONNECT_WITH_WILL_MSG, nullptr);
        mosquitto_loop_stop(m_mosq, false);
    }
    mosquitto_destroy(m_mosq);
    m_mosq = nullptr;
    m_started = false;
    m_connected = false;
}

bool MqttClient::publish(const QString &topic, const QByteArray &payload, int qos, bool retain, const QByteArray &correlation)
{
    if (!m_mosq || !m_connected)
        return false;
    mosquitto_property *props = nullptr;
    if (!correlation.isEmpty())
        mosquitto_property_add_binary(
            &props, MQTT_PROP_CORRELATION_DATA, correlation.constData(), static_cast<uint16_t>(correlation.size()));
    const int rc = mosquitto_publish_v5(m_mosq, nullptr, topic.toUtf8().constData(), static_cast<int>(payload.size()),
        payload.constData(), qos, retain, props);
    mosquitto_property_free_all(&props);
    return rc == MOSQ_ERR_SUCCESS;
}

bool MqttClient::subscribe(const QString &pattern, int qos)
{
    if (!m_mosq)
        return false;
    return mosquitto_subscribe_v5(m_mosq, nullptr, pattern.toUtf8().constData(), qos, 0, nullptr) == MOSQ_ERR_SUCCESS;
}

// ---- callbacks: on the network thread; each hands its data to the Qt thread.

void MqttClient::onConnect(mosquitto *, void *self, int rc, int, const mqtt5__property *)
{
    auto *c = static_cast<MqttClient *>(self);
    if (rc == 0) {
        QMetaObject::invokeMethod(
            c,
            [c] {
                c->m_connected = true;
                c->m_connectedSinceCheck = true;
                emit c->connected();
            },
            Qt::QueuedConnection);
        return;
    }
    const QString why = QString::fromUtf8(rc < 6 ? mosquitto_connack_string(rc) : mosquitto_reason_string(rc));
    QMetaObject::invokeMethod(c, [c, why] { emit c->refused(why); }, Qt::QueuedConnection);
}

void MqttClient::onDisconnect(mosquitto *, void *self, int rc, const mqtt5__property *)
{
    auto *c = static_cast<MqttClient *>(self);
    const QString why = rc == 0 ? QStringLiteral("disconnected") : libraryError(rc);
    QMetaObject::invokeMethod(
        c,
        [c, why] {
            // Also a connection that never came up (TLS refused, the broker
            // closed it at once): the log says why.
            c->m_connected = false;
            emit c->disconnected(why);
        },
        Qt::QueuedConnection);
}

void MqttClient::onMessage(mosquitto *, void *self, const mosquitto_message *msg, const mqtt5__property *props)
{
    auto *c = static_cast<MqttClient *>(self);
    const QString topic = QString::fromUtf8(msg->topic);
    const QByteArray payload(static_cast<const char *>(msg->payload), msg->payloadlen);
    QString responseTopic;
    QByteArray correlation;
    char *text = nullptr;
    if (mosquitto_property_read_string(props, MQTT_PROP_RESPONSE_TOPIC, &text, false)) {
        responseTopic = QString::fromUtf8(text);
        std::free(text);
    }
    void *data = nullptr;
    uint16_t length = 0;
    if (mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &data, &length, false)) {
        correlation = QByteArray(static_cast<const char *>(data), length);
        std::free(data);
    }
    QMetaObject::invokeMethod(
        c, [c, topic, payload, responseTopic, correlation] { emit c->message(topic, payload, responseTopic, correlation); },
        Qt::QueuedConnection);
}

} // namespace exel::hub
