// The panel server: the controller's own line protocol over TCP, so an
// unchanged panel whose port map leads COM<n> to the hub shares the router.
// Status and lock tables are answered from the hub's state (a destination
// not read yet or stale is polled first), takes and lock changes go through
// the line's queue and journal and are answered with the controller's own
// answer. A client is served one request at a time, in order; every client
// has bounded input, a bounded queue, a bounded output buffer and a request
// rate, and one that goes past them is dropped and logged. Nothing a client
// does waits on another client.
#pragma once

#include "allowlist.h"
#include "hubcore.h"
#include "panelprotocol.h"

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTimer>

#include <deque>
#include <memory>

class QTcpSocket;

namespace exel {
class XelEmulator;
}

namespace exel::hub {

struct PanelServerOptions {
    QHostAddress address = QHostAddress::LocalHost;
    quint16 port = 4001;
    AllowList allow; // empty: loopback only
    int maxClients = 256;
    int maxQueued = 32; // requests waiting behind the one being answered
    qsizetype maxOutput = 64 * 1024; // unsent answer bytes before a client counts as not reading
    double requestRate = 100; // requests per second a client may send, sustained
    double requestBurst = 200; // and in one burst
    int answerDeadlineMs = 1500; // a question the line has not answered by then gets no answer
};

class PanelClient;

class PanelServer : public QObject {
    Q_OBJECT
public:
    PanelServer(HubCore &hub, PanelServerOptions options, QObject *parent = nullptr);
    ~PanelServer() override;

    // Starts listening; false with the reason.
    bool listen(QString *error);
    quint16 port() const;
    int clientCount() const;
    const PanelServerOptions &options() const { return m_options; }

    // Ends waits past their deadline (runs on a timer; tests call it after
    // moving their clock).
    void housekeeping();

signals:
    void clientCountChanged(int count);

private:
    friend class PanelClient;
    void onNewConnection();
    void forget(PanelClient *client);

    HubCore &m_hub;
    PanelServerOptions m_options;
    QTcpServer m_server;
    QTimer m_housekeeping;
    std::vector<PanelClient *> m_clients;
};

// One connected panel.
class PanelClient : public QObject {
    Q_OBJECT
public:
    PanelClient(PanelServer &server, QTcpSocket *socket);
    ~PanelClient() override;

    QString peer() const { return m_peer; }
    void drop(const QString &reason);
    void housekeeping();

private:
    void onReadyRead();
    void onBytesWritten();
    void serveQueue();
    void serve(const PanelCommand &cmd);
    void answer(const QByteArray &bytes);
    void beginWait();
    void endWait();
    bool takeToken();
    Origin origin() const;
    XelEmulator &configAnswers();

    PanelServer &m_server;
    HubCore &m_hub;
    QTcpSocket *m_socket;
    QString m_peer;
    PanelRequestReader m_reader;
    std::deque<PanelCommand> m_queue;
    bool m_waiting = false;
    uint64_t m_waitToken = 0;
    int64_t m_waitDeadline = 0;
    QByteArray m_lastAnswer;
    double m_tokens = 0;
    int64_t m_tokensAt = 0;
    int16_t m_queryAddress = 0;
    std::unique_ptr<XelEmulator> m_config;
    bool m_dropped = false;
};

} // namespace exel::hub
