// A Videohub protocol server: one listener shows one level of the router, or
// several levels taken together, as a Videohub, so Companion, Stream Deck
// and the other tools that speak the protocol drive the router unchanged.
//
// On connect a client gets the whole state (the greeting blocks). Its routing
// and lock blocks are answered ACK at once when well-formed and NAK when not
// (an unknown block, a number out of range, an output locked by someone
// else); what they ask for goes through the line's queue and journal, and
// every client of the listener hears of a change only when the hub's state
// changes (after the controller acknowledged it, or when a poll shows a
// change made elsewhere), each change at once as one write per client.
// Every client has bounded lines, blocks, request rate, waiting
// work and output; one that goes past them is dropped and logged. Nothing a
// client does waits on another.
//
// Locks: a lock made through a listener is owned by that connection (its
// address and port; the protocol gives no client name). The owner sees it O,
// everyone else L; locks the hub did not make are L to everyone. A route on
// an output the client holds is taken as unlock, take, lock again, queued
// back to back on the line (the controller refuses a take on a locked output
// even for the one who locked it). F opens another client's lock only where
// the listener allows forcing; it is journaled as forced.
#pragma once

#include "allowlist.h"
#include "hubcore.h"
#include "videohubprotocol.h"
#include "videohubview.h"

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <QTimer>

#include <memory>

class QTcpSocket;

namespace exel::hub {

struct VideohubServerOptions {
    enum class Labels { Refuse, Ignore };

    QString name = QStringLiteral("videohub"); // the listener, in the log and its unique id
    QString levels; // "VIDEO" or "VIDEO+AUD-A"
    QHostAddress address = QHostAddress::LocalHost;
    quint16 port = 9990;
    AllowList allow; // empty: loopback only
    bool forceUnlock = false; // F may open another client's lock
    // A label change from a client: refused (NAK, names belong to the
    // router's configuration) or ignored (ACK, and the labels as they are
    // sent back so the client shows the truth).
    Labels labels = Labels::Refuse;
    QString model; // "Model name:"; empty: "xelhub <configuration name>"
    QString friendlyName; // empty: "<hub name> <levels>"
    int maxClients = 256;
    qsizetype maxOutput = 1024 * 1024; // unsent bytes before a client counts as not reading
    double blockRate = 200; // blocks a second a client may send, sustained
    double blockBurst = 400; // and in one burst
    int maxWaiting = 1000; // routes and locks a client may have queued and not yet answered
};

class VideohubClient;

class VideohubServer : public QObject {
    Q_OBJECT
public:
    // hubName seeds the unique id and the default friendly name.
    VideohubServer(HubCore &hub, VideohubServerOptions options, const QString &hubName = QStringLiteral("xelhub"),
        QObject *parent = nullptr);
    ~VideohubServer() override;

    // Checks the levels and starts listening; false with the reason.
    bool listen(QString *error);
    quint16 port() const;
    int clientCount() const;
    const VideohubServerOptions &options() const { return m_options; }
    const VideohubView &view() const { return *m_view; }
    const VideohubIdentity &identity() const { return m_identity; }

signals:
    void clientCountChanged(int count);

private:
    friend class VideohubClient;
    void onNewConnection();
    void forget(VideohubClient *client);
    QString tag() const;
    // A client's routing or lock block: queued, or false with the reason.
    bool route(VideohubClient &client, const VideohubRequest &request, QString &why);
    bool lock(VideohubClient &client, const VideohubRequest &request, QString &why);

    HubCore &m_hub;
    VideohubServerOptions m_options;
    QString m_hubName;
    std::unique_ptr<VideohubView> m_view;
    VideohubIdentity m_identity;
    QTcpServer m_server;
    std::vector<VideohubClient *> m_clients;
};

// One connected client.
class VideohubClient : public QObject {
    Q_OBJECT
public:
    VideohubClient(VideohubServer &server, QTcpSocket *socket);
    ~VideohubClient() override;

    const Origin &origin() const { return m_origin; }
    void drop(const QString &reason);
    // Writes bytes; drops the client when its output is past the bound.
    void send(const QByteArray &bytes);

private:
    friend class VideohubServer;
    void onReadyRead();
    void serve(const VideohubBlock &block, QByteArray &reply);
    bool takeToken();

    VideohubServer &m_server;
    QTcpSocket *m_socket;
    Origin m_origin;
    VideohubBlockReader m_reader;
    double m_tokens = 0;
    int64_t m_tokensAt = 0;
    int m_waiting = 0; // queued entries not answered yet
    int m_naks = 0;
    bool m_dropped = false;
};

} // namespace exel::hub
