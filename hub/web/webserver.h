// The web panel's server: HTTP for the sign-in, the page's files and a small
// JSON API, and a WebSocket per open page that carries the same commands and
// pushes every change of the router state and the journal. One QTcpServer
// reads each connection's requests itself (bounded head and body, a deadline
// for each request) and hands a WebSocket upgrade, once its session cookie
// is checked, to a QWebSocketServer that is never listening on its own.
// Like every server of the hub it keeps no router state: it translates
// between JSON and RouterState, Journal and the lines' queues.
#pragma once

#include "allowlist.h"
#include "hubcore.h"
#include "operators.h"
#include "webprotocol.h"
#include "webview.h"

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <QTimer>
#include <QWebSocketServer>

#include <memory>
#include <set>
#include <vector>

class QTcpSocket;
class QWebSocket;

namespace exel::hub {

struct WebServerOptions {
    QHostAddress address = QHostAddress::LocalHost;
    quint16 port = 8080;
    AllowList allow; // empty: loopback only
    QString wwwFolder; // the page's files (empty: found beside the program)
    std::vector<OperatorAccount> operators;
    int64_t sessionIdleMs = 8 * 3600 * 1000; // a session unused this long ends
    QString sessionsFile; // where sessions survive a restart (empty: memory only)
    int maxClients = 256; // HTTP connections and open pages together
    int maxMessage = 16384; // bytes of one WebSocket message or request body
    double messageRate = 20; // commands a second one page may send, sustained
    double messageBurst = 60; // and in one burst
    qsizetype maxOutput = 8 * 1024 * 1024; // unsent bytes after which a page counts as not reading
    int requestDeadlineMs = 10000; // a request's head and body must arrive within this
    int idleMs = 60000; // an HTTP connection with no request this long is closed
};

// The page's files: the configured folder, else share/exel/www beside the
// program's folder (installed), else www in the program's folder (build tree).
QString findWebFolder(const QString &configured);

class WebServer : public QObject {
    Q_OBJECT
public:
    WebServer(HubCore &hub, WebServerOptions options, Clock &clock, QObject *parent = nullptr);
    ~WebServer() override;

    bool listen(QString *error);
    quint16 port() const;
    const WebServerOptions &options() const { return m_options; }
    int pageCount() const { return static_cast<int>(m_pages.size()); }
    int connectionCount() const { return static_cast<int>(m_http.size()); }

    // Runs one command for an operator; the reply object ("ok", and "error"
    // or the command's result). peer: the client's address:port.
    QJsonObject perform(const WebCommand &command, const OperatorAccount &account, const QString &peer);

signals:
    void pageCountChanged(int count);

private:
    struct Http;
    struct Page;
    void onNewConnection();
    void onHttpData(Http *c);
    bool serveHttp(Http *c, const HttpRequest &request);
    void respond(Http *c, int code, const QByteArray &type, const QByteArray &body,
        const QList<QPair<QByteArray, QByteArray>> &extra = {});
    void respondJson(Http *c, int code, const QJsonObject &body, const QList<QPair<QByteArray, QByteArray>> &extra = {});
    void serveFile(Http *c, const QString &path);
    void signIn(Http *c, const HttpRequest &request);
    void closeHttp(Http *c, const QString &why, bool graceful = true);
    void upgrade(Http *c, const HttpRequest &request, const QString &token, const QString &name);
    void onWebSocket();
    void onPageMessage(Page *p, const QString &text);
    void sendToPage(Page *p, const QByteArray &json);
    void dropPage(Page *p, const QString &reason, int code = 1000);
    void housekeeping();

    const OperatorAccount *account(const QString &name) const;
    const OperatorAccount *sessionAccount(const HttpRequest &request, QString *token = nullptr);
    bool sameOrigin(const HttpRequest &request) const;
    QJsonObject hello(const OperatorAccount &account) const;
    std::vector<QString> lineNames() const;

    void destinationDirty(int16_t address, int output);
    void scheduleFlush();
    void flush();

    HubCore &m_hub;
    WebServerOptions m_options;
    Clock &m_clock;
    QString m_www;
    QTcpServer m_server;
    QWebSocketServer m_ws;
    QTimer m_housekeeping;
    SessionStore m_sessions;
    SignInBrake m_brake;
    DestinationIndex m_index;
    std::vector<std::unique_ptr<Http>> m_http;
    std::vector<std::unique_ptr<Page>> m_pages;
    // Upgrades handed to the WebSocket server, by peer address:port.
    std::map<QString, std::pair<QString, QString>> m_upgrading; // peer -> (token, operator)

    // Changes gathered during one turn of the event loop, pushed together.
    std::set<int> m_dirtyDestinations;
    std::map<int64_t, JournalEntry> m_dirtyEntries;
    bool m_linesDirty = false;
    bool m_flushScheduled = false;
    std::map<int, QByteArray> m_lastPushed; // what each page last got for a destination
};

} // namespace exel::hub
