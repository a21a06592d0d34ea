// The web panel's server: connections, the hand-over of WebSocket upgrades,
// open pages and the changes pushed to them.
#include "webserver.h"
#include "webserver_p.h"

#include "clientsocket.h"
#include "hublog.h"
#include "hubsalvos.h"
#include "routeplan.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFutureWatcher>
#include <QPromise>
#include <QThreadPool>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QWebSocket>

#include <algorithm>
#include <cmath>
#include <memory>

#include <sys/socket.h>

namespace exel::hub {

namespace {
constexpr int kHousekeepingMs = 1000;

} // namespace

using namespace webdetail;

QString findWebFolder(const QString &configured)
{
    if (!configured.isEmpty())
        return configured;
    const QString app = QCoreApplication::applicationDirPath();
    for (const QString &c : { app + QStringLiteral("/../share/exel/www"), app + QStringLiteral("/www") }) {
        if (QFileInfo::exists(c + QStringLiteral("/index.html")))
            return QDir::cleanPath(c);
    }
    return QString();
}

WebServer::WebServer(HubCore &hub, WebServerOptions options, Clock &clock, QObject *parent)
    : QObject(parent)
    , m_hub(hub)
    , m_options(std::move(options))
    , m_clock(clock)
    , m_ws(QStringLiteral("xelhub"), QWebSocketServer::NonSecureMode)
    , m_sessions(m_options.sessionsFile, m_options.sessionIdleMs)
    , m_brake(clock)
    , m_index(hub.state().model())
{
    if (m_options.allow.text().isEmpty())
        m_options.allow.parse(QStringLiteral("127.0.0.0/8, ::1"));
    m_www = findWebFolder(m_options.wwwFolder);
    std::vector<QString> names;
    for (const OperatorAccount &a : m_options.operators)
        names.push_back(a.name);
    m_sessions.keepOnly(names);
    m_ws.setMaxPendingConnections(m_options.maxClients);
    m_ws.setHandshakeTimeout(m_options.requestDeadlineMs);
    connect(&m_server, &QTcpServer::newConnection, this, &WebServer::onNewConnection);
    connect(&m_ws, &QWebSocketServer::newConnection, this, &WebServer::onWebSocket);
    m_housekeeping.setInterval(kHousekeepingMs);
    connect(&m_housekeeping, &QTimer::timeout, this, &WebServer::housekeeping);

    RouterState &state = hub.state();
    connect(&state, &RouterState::crosspointChanged, this,
        [this](int16_t address, int output, int, int, bool, int) { destinationDirty(address, output); });
    connect(&state, &RouterState::statusRefreshed, this,
        [this](int16_t address, int output) { destinationDirty(address, output); });
    connect(&state, &RouterState::lockChanged, this,
        [this](int16_t address, int output, bool) { destinationDirty(address, output); });
    connect(&state, &RouterState::locksRefreshed, this, [this](int16_t address) {
        // A first read of a lock table makes every destination's lock known.
        const ControllerInfo *c = m_hub.state().controller(address);
        for (int o = 1; c && o <= c->outputs; ++o)
            destinationDirty(address, o);
    });
    connect(&state, &RouterState::lineStateChanged, this, [this](const QString &, bool) {
        m_linesDirty = true;
        scheduleFlush();
    });
    connect(&state, &RouterState::lineDiallingChanged, this, [this](const QString &, bool) {
        m_linesDirty = true;
        scheduleFlush();
    });
    connect(&hub.journal(), &Journal::entryChanged, this, [this](const JournalEntry &e) {
        m_dirtyEntries[e.id] = e;
        scheduleFlush();
    });
}

WebServer::~WebServer()
{
    for (auto &p : m_pages) {
        p->socket->disconnect(this);
        p->socket->abort();
        delete p->socket;
    }
    for (auto &c : m_http) {
        c->socket->disconnect(this);
        c->socket->abort();
        delete c->socket;
    }
}

bool WebServer::listen(QString *error)
{
    if (m_options.operators.empty()) {
        if (error)
            *error = QStringLiteral("web server: no operators are configured ([operator NAME] sections)");
        return false;
    }
    if (m_www.isEmpty()) {
        if (error)
            *error = QStringLiteral("web server: the page's files are not found (set [web] www)");
        return false;
    }
    if (!m_server.listen(m_options.address, m_options.port)) {
        if (error)
            *error = QStringLiteral("web server: cannot listen on %1 port %2: %3")
                         .arg(m_options.address.toString())
                         .arg(m_options.port)
                         .arg(m_server.errorString());
        return false;
    }
    m_housekeeping.start();
    hubLog(QStringLiteral("web server: listening on %1 port %2, clients allowed from %3, %4 operators, page from %5")
               .arg(m_options.address.toString())
               .arg(m_server.serverPort())
               .arg(m_options.allow.text())
               .arg(m_options.operators.size())
               .arg(m_www));
    return true;
}

quint16 WebServer::port() const
{
    return m_server.serverPort();
}

const OperatorAccount *WebServer::account(const QString &name) const
{
    for (const OperatorAccount &a : m_options.operators) {
        if (a.name == name)
            return &a;
    }
    return nullptr;
}

const OperatorAccount *WebServer::sessionAccount(const HttpRequest &request, QString *token)
{
    const QString t = request.cookie(QLatin1String(kCookie));
    const auto s = m_sessions.use(t);
    if (!s)
        return nullptr;
    if (token)
        *token = t;
    return account(s->operatorName);
}

bool WebServer::sameOrigin(const HttpRequest &request) const
{
    // A page of another site may not drive the router through this one's
    // cookie: its requests carry its own Origin.
    const QByteArray origin = request.header("origin");
    if (origin.isEmpty())
        return true;
    return origin == "http://" + request.header("host") || origin == "https://" + request.header("host");
}

void WebServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        const QString peer = peerText(socket->peerAddress(), socket->peerPort());
        if (!m_options.allow.allows(socket->peerAddress())) {
            hubLog(QStringLiteral("web client %1 refused: not in the allow-list").arg(peer));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        if (static_cast<int>(m_http.size() + m_pages.size()) >= m_options.maxClients) {
            hubLog(QStringLiteral("web client %1 refused: %2 clients already").arg(peer).arg(m_options.maxClients));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        tuneClientSocket(socket);
        auto c = std::make_unique<Http>();
        c->socket = socket;
        c->peer = peer;
        c->lastActivity = m_clock.nowMs();
        c->bucket = Bucket { 50, c->lastActivity };
        Http *raw = c.get();
        m_http.push_back(std::move(c));
        connect(socket, &QTcpSocket::readyRead, this, [this, raw] {
            if (raw->closing)
                raw->socket->readAll();
            else
                onHttpData(raw);
        });
        connect(socket, &QTcpSocket::bytesWritten, this, [raw] {
            if (raw->closing && raw->socket->bytesToWrite() == 0)
                ::shutdown(static_cast<int>(raw->socket->socketDescriptor()), SHUT_WR);
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, raw] { closeHttp(raw, QString(), false); });
    }
}

void WebServer::closeHttp(Http *c, const QString &why, bool graceful)
{
    const auto it = std::find_if(m_http.begin(), m_http.end(), [c](const auto &p) { return p.get() == c; });
    if (it == m_http.end())
        return;
    if (!why.isEmpty())
        hubLog(QStringLiteral("web client %1 dropped: %2").arg(c->peer, why));
    QTcpSocket *s = c->socket;
    if (graceful && s->state() == QAbstractSocket::ConnectedState) {
        // The answer goes out first, then our side is shut; what the client
        // still sends is read and thrown away, so that the kernel does not
        // reset the connection and lose the answer. Housekeeping ends it
        // if the client never closes.
        c->closing = true;
        c->closingSince = m_clock.nowMs();
        s->readAll();
        if (s->bytesToWrite() == 0)
            ::shutdown(static_cast<int>(s->socketDescriptor()), SHUT_WR);
        return;
    }
    s->disconnect(this);
    s->abort();
    s->deleteLater();
    m_http.erase(it);
}

void WebServer::onHttpData(Http *c)
{
    // Requests are read with peek() so that a WebSocket upgrade reaches the
    // WebSocket server with its handshake still unread.
    const HttpLimits limits { 8192, m_options.maxMessage };
    while (!c->closing && !c->busy) {
        const QByteArray buffer = c->socket->peek(limits.maxHead + 4 + limits.maxBody);
        if (buffer.isEmpty())
            return;
        const int64_t now = m_clock.nowMs();
        if (c->requestStartedAt == 0)
            c->requestStartedAt = now;
        c->lastActivity = now;
        const HttpParse p = parseHttpRequest(buffer, limits);
        if (p.status == HttpParse::Status::NeedMore)
            return;
        if (p.status == HttpParse::Status::Bad) {
            c->closing = true;
            respondJson(c, p.errorCode, fail(p.error), { { "Connection", "close" } });
            closeHttp(c, p.error);
            return;
        }
        c->requestStartedAt = 0;
        if (!c->bucket.take(now, m_options.messageRate * 2, 100)) {
            c->closing = true;
            respondJson(c, 429, fail(QStringLiteral("too many requests")), { { "Connection", "close" } });
            closeHttp(c, QStringLiteral("too many requests"));
            return;
        }
        if (p.request.isWebSocketUpgrade() && p.request.path == QLatin1String("/ws")) {
            QString token;
            const OperatorAccount *a = sessionAccount(p.request, &token);
            if (!a || !sameOrigin(p.request)) {
                c->socket->read(p.consumed);
                c->closing = true;
                respondJson(c, a ? 403 : 401, fail(a ? QStringLiteral("cross-site request") : QStringLiteral("sign in first")),
                    { { "Connection", "close" } });
                closeHttp(c, QString());
                return;
            }
            upgrade(c, p.request, token, a->name);
            return;
        }
        c->socket->read(p.consumed);
        c->keepAlive = p.request.keepAlive;
        const bool keep = serveHttp(c, p.request) && p.request.keepAlive;
        if (c->busy)
            return; // answered, and closed when asked to, once the sign-in is checked
        if (!keep) {
            c->closing = true;
            closeHttp(c, QString());
            return;
        }
    }
}

void WebServer::upgrade(Http *c, const HttpRequest &, const QString &token, const QString &name)
{
    QTcpSocket *s = c->socket;
    s->disconnect(this);
    const auto it = std::find_if(m_http.begin(), m_http.end(), [c](const auto &p) { return p.get() == c; });
    const QString peer = c->peer;
    it->release();
    m_http.erase(it);
    delete c;
    m_upgrading[peer] = { token, name };
    s->setParent(nullptr);
    // The WebSocket server takes the socket over (and deletes it with its QWebSocket).
    m_ws.handleConnection(s);
}

void WebServer::onWebSocket()
{
    while (QWebSocket *ws = m_ws.nextPendingConnection()) {
        const QString peer = peerText(ws->peerAddress(), ws->peerPort());
        const auto it = m_upgrading.find(peer);
        const OperatorAccount *a = it == m_upgrading.end() ? nullptr : account(it->second.second);
        if (!a) {
            ws->abort();
            ws->deleteLater();
            continue;
        }
        auto p = std::make_unique<Page>();
        p->socket = ws;
        p->peer = peer;
        p->token = it->second.first;
        p->operatorName = a->name;
        p->bucket = Bucket { m_options.messageBurst, m_clock.nowMs() };
        m_upgrading.erase(it);
        ws->setMaxAllowedIncomingMessageSize(static_cast<quint64>(m_options.maxMessage));
        ws->setMaxAllowedIncomingFrameSize(static_cast<quint64>(m_options.maxMessage));
        Page *raw = p.get();
        m_pages.push_back(std::move(p));
        connect(ws, &QWebSocket::textMessageReceived, this, [this, raw](const QString &t) { onPageMessage(raw, t); });
        connect(ws, &QWebSocket::binaryMessageReceived, this,
            [this, raw](const QByteArray &) { sendToPage(raw, QJsonDocument(fail(QStringLiteral("send text messages"))).toJson(QJsonDocument::Compact)); });
        connect(ws, &QWebSocket::disconnected, this, [this, raw] { dropPage(raw, QString()); });
        hubLog(QStringLiteral("web page %1 opened by %2 (%3 open)").arg(peer, a->name).arg(m_pages.size()));
        sendToPage(raw, QJsonDocument(hello(*a)).toJson(QJsonDocument::Compact));
        emit pageCountChanged(pageCount());
    }
    // Upgrades that never completed leave nothing behind for long.
    if (m_upgrading.size() > static_cast<size_t>(m_options.maxClients))
        m_upgrading.clear();
}

void WebServer::onPageMessage(Page *p, const QString &text)
{
    if (p->dropped)
        return;
    if (!p->bucket.take(m_clock.nowMs(), m_options.messageRate, m_options.messageBurst)) {
        dropPage(p, QStringLiteral("too many messages"), 1008);
        return;
    }
    const auto session = m_sessions.use(p->token);
    const OperatorAccount *a = session ? account(session->operatorName) : nullptr;
    if (!a) {
        dropPage(p, QStringLiteral("session ended"), 4001);
        return;
    }
    WebCommand cmd;
    QString error;
    QJsonObject reply;
    if (!parseWebMessage(text.toUtf8(), m_hub.state().model(), cmd, error, m_options.maxMessage))
        reply = fail(error);
    else
        reply = perform(cmd, *a, p->peer);
    reply.insert(QStringLiteral("type"), QStringLiteral("reply"));
    // The tag comes back even when the message could not be read, if it was there.
    const QJsonValue tag = QJsonDocument::fromJson(text.toUtf8()).object().value(QLatin1String("req"));
    if (tag.isDouble())
        reply.insert(QStringLiteral("req"), tag);
    sendToPage(p, QJsonDocument(reply).toJson(QJsonDocument::Compact));
}

void WebServer::sendToPage(Page *p, const QByteArray &json)
{
    if (p->dropped)
        return;
    if (p->socket->bytesToWrite() > m_options.maxOutput) {
        dropPage(p, QStringLiteral("not reading"), 1008);
        return;
    }
    p->socket->sendTextMessage(QString::fromUtf8(json));
}

void WebServer::dropPage(Page *p, const QString &reason, int code)
{
    const auto it = std::find_if(m_pages.begin(), m_pages.end(), [p](const auto &x) { return x.get() == p; });
    if (it == m_pages.end() || p->dropped)
        return;
    p->dropped = true;
    QWebSocket *ws = p->socket;
    ws->disconnect(this);
    if (ws->state() == QAbstractSocket::ConnectedState)
        ws->close(static_cast<QWebSocketProtocol::CloseCode>(code), reason);
    ws->deleteLater();
    hubLog(QStringLiteral("web page %1 of %2 closed%3").arg(p->peer, p->operatorName,
        reason.isEmpty() ? QString() : QStringLiteral(": ") + reason));
    m_pages.erase(it);
    emit pageCountChanged(pageCount());
}

void WebServer::housekeeping()
{
    const int64_t now = m_clock.nowMs();
    std::vector<Http *> late;
    for (auto &c : m_http) {
        if (c->closing) {
            if (now - c->closingSince > 2000)
                late.push_back(c.get());
        } else if (c->busy) {
            continue;
        } else if (c->requestStartedAt > 0 && now - c->requestStartedAt > m_options.requestDeadlineMs)
            late.push_back(c.get());
        else if (c->requestStartedAt == 0 && now - c->lastActivity > m_options.idleMs)
            late.push_back(c.get());
    }
    for (Http *c : late)
        closeHttp(c, !c->closing && c->requestStartedAt > 0 ? QStringLiteral("request not finished in time") : QString(), false);
    std::vector<Page *> ended;
    for (auto &p : m_pages) {
        const auto s = m_sessions.peek(p->token);
        if (!s || !account(s->operatorName))
            ended.push_back(p.get());
    }
    for (Page *p : ended)
        dropPage(p, QStringLiteral("session ended"), 4001);
}

void WebServer::destinationDirty(int16_t address, int output)
{
    if (m_pages.empty())
        return;
    for (const int d : m_index.destinations(address, output))
        m_dirtyDestinations.insert(d);
    scheduleFlush();
}

void WebServer::scheduleFlush()
{
    if (m_flushScheduled || m_pages.empty()) {
        if (m_pages.empty()) {
            m_dirtyDestinations.clear();
            m_dirtyEntries.clear();
            m_linesDirty = false;
            m_lastPushed.clear();
        }
        return;
    }
    // Everything that changes in this turn of the event loop goes out in one
    // message at the start of the next.
    m_flushScheduled = true;
    QTimer::singleShot(0, this, &WebServer::flush);
}

void WebServer::flush()
{
    m_flushScheduled = false;
    QJsonArray destinations;
    for (const int d : m_dirtyDestinations) {
        const QJsonObject o = destinationJson(m_hub.state(), d);
        QByteArray bytes = QJsonDocument(o).toJson(QJsonDocument::Compact);
        // A poll that found nothing new is not sent again.
        QByteArray &last = m_lastPushed[d];
        if (last == bytes)
            continue;
        last = std::move(bytes);
        destinations.append(o);
    }
    m_dirtyDestinations.clear();
    QJsonArray entries;
    for (const auto &[id, e] : m_dirtyEntries)
        entries.append(journalEntryJson(m_hub.state(), e));
    m_dirtyEntries.clear();
    QJsonObject msg { { QStringLiteral("type"), QStringLiteral("update") } };
    if (!destinations.isEmpty())
        msg.insert(QStringLiteral("destinations"), destinations);
    if (!entries.isEmpty())
        msg.insert(QStringLiteral("journal"), entries);
    if (m_linesDirty)
        msg.insert(QStringLiteral("lines"), linesJson(m_hub.state(), lineNames()));
    m_linesDirty = false;
    if (msg.size() == 1)
        return;
    const QByteArray json = QJsonDocument(msg).toJson(QJsonDocument::Compact);
    std::vector<Page *> pages;
    for (auto &p : m_pages)
        pages.push_back(p.get());
    for (Page *p : pages)
        sendToPage(p, json);
}

} // namespace exel::hub