// The web panel's HTTP and WebSocket server.
#include "webserver.h"

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

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace exel::hub {

namespace {

constexpr const char *kCookie = "xelhub_session";
constexpr int kHousekeepingMs = 1000;
// Files a browser may fetch before signing in.
const QStringList kPublicFiles { QStringLiteral("/login.html"), QStringLiteral("/login.js"),
    QStringLiteral("/style.css"), QStringLiteral("/favicon.svg") };

QString peerText(const QHostAddress &address, quint16 port)
{
    QHostAddress a = address;
    bool isV4 = false;
    const quint32 v4 = a.toIPv4Address(&isV4);
    if (isV4)
        a = QHostAddress(v4);
    return a.toString() + QLatin1Char(':') + QString::number(port);
}

void tuneSocket(QTcpSocket *socket)
{
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    const int fd = static_cast<int>(socket->socketDescriptor());
    if (fd < 0)
        return;
    const int idle = 30;
    const int interval = 10;
    const int count = 3;
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
}

QByteArray statusText(int code)
{
    switch (code) {
    case 200: return "OK";
    case 302: return "Found";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 413: return "Payload Too Large";
    case 415: return "Unsupported Media Type";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    default: return "Error";
    }
}

QByteArray mimeType(const QString &path)
{
    const QString ext = QFileInfo(path).suffix().toLower();
    if (ext == QLatin1String("html"))
        return "text/html; charset=utf-8";
    if (ext == QLatin1String("js"))
        return "text/javascript; charset=utf-8";
    if (ext == QLatin1String("css"))
        return "text/css; charset=utf-8";
    if (ext == QLatin1String("svg"))
        return "image/svg+xml";
    if (ext == QLatin1String("png"))
        return "image/png";
    return QByteArray();
}

QJsonObject fail(const QString &why)
{
    return QJsonObject { { QStringLiteral("ok"), false }, { QStringLiteral("error"), why } };
}

QJsonObject submitted(const Submitted &s)
{
    QJsonArray ids;
    for (const int64_t id : s.ids)
        ids.append(static_cast<double>(id));
    QJsonObject o { { QStringLiteral("ok"), !s.ids.empty() }, { QStringLiteral("ids"), ids } };
    if (!s.problem.isEmpty())
        o.insert(s.ids.empty() ? QStringLiteral("error") : QStringLiteral("problem"), s.problem);
    return o;
}

struct Bucket {
    double tokens = 0;
    int64_t at = 0;
    bool take(int64_t now, double rate, double burst)
    {
        tokens = std::min(burst, tokens + static_cast<double>(now - at) * rate / 1000.0);
        at = now;
        if (tokens < 1)
            return false;
        tokens -= 1;
        return true;
    }
};

} // namespace

struct WebServer::Http {
    QTcpSocket *socket = nullptr;
    QString peer;
    int64_t requestStartedAt = 0; // first byte of the request being read (0: none)
    int64_t lastActivity = 0;
    Bucket bucket;
    bool closing = false; // answered for the last time, waiting for the client to close
    bool busy = false; // a sign-in is being checked: its answer comes before the next request is read
    bool keepAlive = true;
    int64_t closingSince = 0;
};

struct WebServer::Page {
    QWebSocket *socket = nullptr;
    QString peer;
    QString token;
    QString operatorName;
    Bucket bucket;
    bool dropped = false;
};

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
        tuneSocket(socket);
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

void WebServer::respond(
    Http *c, int code, const QByteArray &type, const QByteArray &body, const QList<QPair<QByteArray, QByteArray>> &extra)
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(code) + ' ' + statusText(code) + "\r\n";
    out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    if (!type.isEmpty())
        out += "Content-Type: " + type + "\r\n";
    out += "X-Content-Type-Options: nosniff\r\nReferrer-Policy: no-referrer\r\nX-Frame-Options: DENY\r\n"
           "Content-Security-Policy: default-src 'self'; connect-src 'self'; img-src 'self' data:; "
           "frame-ancestors 'none'\r\n";
    bool cacheGiven = false;
    for (const auto &[name, value] : extra) {
        out += name + ": " + value + "\r\n";
        cacheGiven = cacheGiven || name == "Cache-Control";
    }
    if (!cacheGiven)
        out += "Cache-Control: no-store\r\n";
    out += "\r\n" + body;
    c->socket->write(out);
}

void WebServer::respondJson(Http *c, int code, const QJsonObject &body, const QList<QPair<QByteArray, QByteArray>> &extra)
{
    respond(c, code, "application/json", QJsonDocument(body).toJson(QJsonDocument::Compact), extra);
}

void WebServer::serveFile(Http *c, const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    const QByteArray type = mimeType(clean);
    const QString root = QFileInfo(m_www).canonicalFilePath();
    const QString file = QFileInfo(root + clean).canonicalFilePath();
    QFile f(file);
    if (type.isEmpty() || clean.contains(QLatin1String("..")) || file.isEmpty()
        || !file.startsWith(root + QLatin1Char('/')) || !QFileInfo(file).isFile() || !f.open(QIODevice::ReadOnly)) {
        respondJson(c, 404, fail(QStringLiteral("not found")));
        return;
    }
    respond(c, 200, type, f.read(4 * 1024 * 1024), { { "Cache-Control", "no-cache" } });
}

void WebServer::signIn(Http *c, const HttpRequest &r)
{
    const QJsonObject o = QJsonDocument::fromJson(r.body).object();
    const QString name = o.value(QLatin1String("name")).toString().left(128);
    const QString password = o.value(QLatin1String("password")).toString().left(1024);
    const QString byAddress = QStringLiteral("address ") + c->peer.section(QLatin1Char(':'), 0, -2);
    const QString byName = QStringLiteral("name ") + name;
    const int64_t wait = std::max(m_brake.waitMs(byAddress), m_brake.waitMs(byName));
    if (wait > 0) {
        respondJson(c, 429, fail(QStringLiteral("too many failed sign-ins; try again in %1 s").arg((wait + 999) / 1000)),
            { { "Retry-After", QByteArray::number((wait + 999) / 1000) } });
        return;
    }
    // Every attempt counts as failed until its password is found good, so
    // attempts sent side by side are braked too.
    m_brake.failed(byAddress);
    m_brake.failed(byName);
    const OperatorAccount *a = account(name);
    // An unknown name costs the same as a wrong password, so the answer time
    // does not tell which names exist.
    static const QString dummy = hashPassword(QStringLiteral("-"), 100000);
    const QString hash = a ? a->passwordHash : dummy;
    // The hash takes a while on purpose: it runs off the event loop, so that
    // no other page or panel waits for it, and this connection reads nothing
    // more until it is answered.
    c->busy = true;
    auto promise = std::make_shared<QPromise<bool>>();
    promise->start();
    auto *watcher = new QFutureWatcher<bool>(c->socket);
    QTcpSocket *socket = c->socket;
    connect(watcher, &QFutureWatcher<bool>::finished, this, [this, watcher, socket, name, byAddress, byName, known = a != nullptr] {
        const bool good = watcher->result() && known;
        watcher->deleteLater();
        const auto it = std::find_if(m_http.begin(), m_http.end(), [socket](const auto &h) { return h->socket == socket; });
        const OperatorAccount *acc = good ? account(name) : nullptr;
        if (it == m_http.end())
            return;
        Http *conn = it->get();
        conn->busy = false;
        if (!acc) {
            hubLog(QStringLiteral("web client %1: sign-in as \"%2\" refused").arg(conn->peer, name));
            respondJson(conn, 401, fail(QStringLiteral("wrong name or password")));
        } else {
            m_brake.succeeded(byAddress);
            m_brake.succeeded(byName);
            const QString token = m_sessions.create(acc->name);
            hubLog(QStringLiteral("web client %1: %2 signed in (%3)").arg(conn->peer, acc->name, operatorRoleName(acc->role)));
            const QByteArray cookie = QByteArray(kCookie) + '=' + token.toLatin1()
                + "; Path=/; HttpOnly; SameSite=Strict; Max-Age=" + QByteArray::number(m_options.sessionIdleMs / 1000);
            respondJson(conn, 200,
                QJsonObject { { QStringLiteral("ok"), true }, { QStringLiteral("name"), acc->name },
                    { QStringLiteral("role"), operatorRoleName(acc->role) } },
                { { "Set-Cookie", cookie } });
        }
        if (!conn->keepAlive) {
            closeHttp(conn, QString());
            return;
        }
        onHttpData(conn);
    });
    watcher->setFuture(promise->future());
    QThreadPool::globalInstance()->start([promise, password, hash] {
        promise->addResult(verifyPassword(password, hash));
        promise->finish();
    });
}

bool WebServer::serveHttp(Http *c, const HttpRequest &r)
{
    const QString &path = r.path;
    const bool get = r.method == "GET" || r.method == "HEAD";
    const bool post = r.method == "POST";
    if (!get && !post) {
        respondJson(c, 405, fail(QStringLiteral("method not allowed")), { { "Allow", "GET, POST" } });
        return true;
    }
    if (post && !sameOrigin(r)) {
        respondJson(c, 403, fail(QStringLiteral("cross-site request")));
        return true;
    }
    if (post && !r.header("content-type").startsWith("application/json")) {
        respondJson(c, 415, fail(QStringLiteral("send application/json")));
        return true;
    }
    if (path == QLatin1String("/api/login") && post) {
        signIn(c, r);
        return true;
    }
    if (get && kPublicFiles.contains(path)) {
        serveFile(c, path);
        return true;
    }
    QString token;
    const OperatorAccount *a = sessionAccount(r, &token);
    if (path == QLatin1String("/api/logout") && post) {
        if (a) {
            m_sessions.remove(token);
            hubLog(QStringLiteral("web client %1: %2 signed out").arg(c->peer, a->name));
        }
        respondJson(c, 200, QJsonObject { { QStringLiteral("ok"), true } },
            { { "Set-Cookie", QByteArray(kCookie) + "=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0" } });
        return true;
    }
    if (!a) {
        if (get && (path == QLatin1String("/") || path.endsWith(QLatin1String(".html"))))
            respond(c, 302, QByteArray(), QByteArray(), { { "Location", "/login.html" } });
        else
            respondJson(c, 401, fail(QStringLiteral("sign in first")));
        return true;
    }
    if (path.startsWith(QLatin1String("/api/"))) {
        WebCommand::Op op;
        const QString name = path.mid(5);
        const bool known = webOpFromName(name == QLatin1String("salvo") && get ? QStringLiteral("salvoShow") : name, op);
        if (!known || op == WebCommand::Op::Watch) {
            respondJson(c, 404, fail(QStringLiteral("no such request")));
            return true;
        }
        WebCommand cmd;
        cmd.op = op;
        if (cmd.changes() != post) {
            respondJson(c, 405, fail(post ? QStringLiteral("use GET") : QStringLiteral("use POST")));
            return true;
        }
        QJsonObject args;
        if (post) {
            QJsonParseError pe;
            const QJsonDocument doc = QJsonDocument::fromJson(r.body, &pe);
            if (pe.error != QJsonParseError::NoError || !doc.isObject()) {
                respondJson(c, 400, fail(QStringLiteral("not a JSON object")));
                return true;
            }
            args = doc.object();
        } else {
            for (const auto &[k, v] : r.query) {
                bool isNumber = false;
                const double n = v.toDouble(&isNumber);
                args.insert(k, isNumber ? QJsonValue(n) : QJsonValue(v));
            }
        }
        QString error;
        if (!parseWebRequest(op, args, m_hub.state().model(), cmd, error)) {
            respondJson(c, 400, fail(error));
            return true;
        }
        const QJsonObject reply = perform(cmd, *a, c->peer);
        const bool ok = reply.value(QLatin1String("ok")).toBool();
        const int code = ok ? 200 : reply.value(QLatin1String("forbidden")).toBool() ? 403 : 409;
        respondJson(c, code, reply);
        return true;
    }
    serveFile(c, path == QLatin1String("/") ? QStringLiteral("/index.html") : path);
    return true;
}

std::vector<QString> WebServer::lineNames() const
{
    std::vector<QString> out;
    for (const HubLine *l : m_hub.lines())
        out.push_back(l->name());
    return out;
}

QJsonObject WebServer::hello(const OperatorAccount &a) const
{
    QJsonArray salvos;
    for (const QString &s : salvoNames(m_hub.salvoFolder()))
        salvos.append(s);
    QJsonArray journal;
    for (const JournalEntry &e : m_hub.journal().list(0, QString(), 100))
        journal.append(journalEntryJson(m_hub.state(), e));
    return QJsonObject { { QStringLiteral("type"), QStringLiteral("hello") },
        { QStringLiteral("operator"),
            QJsonObject { { QStringLiteral("name"), a.name }, { QStringLiteral("role"), operatorRoleName(a.role) },
                { QStringLiteral("canChange"), a.canChange() }, { QStringLiteral("forceRelease"), a.forceRelease } } },
        { QStringLiteral("config"), configJson(m_hub.state().model()) },
        { QStringLiteral("destinations"), allDestinationsJson(m_hub.state()) },
        { QStringLiteral("lines"), linesJson(m_hub.state(), lineNames()) }, { QStringLiteral("salvos"), salvos },
        { QStringLiteral("journal"), journal } };
}

QJsonObject WebServer::perform(const WebCommand &cmd, const OperatorAccount &a, const QString &peer)
{
    if (cmd.changes() && !a.canChange()) {
        hubLog(QStringLiteral("web client %1: %2 (view only) may not %3").arg(peer, a.name, webOpName(cmd.op)));
        QJsonObject o = fail(QStringLiteral("%1 is view only").arg(a.name));
        o.insert(QStringLiteral("forbidden"), true);
        return o;
    }
    const Origin origin { QStringLiteral("web"), peer, a.name };
    RouterState &state = m_hub.state();
    const StatandConfig &model = state.model();
    switch (cmd.op) {
    case WebCommand::Op::State:
        return QJsonObject { { QStringLiteral("ok"), true }, { QStringLiteral("destinations"), allDestinationsJson(state) },
            { QStringLiteral("lines"), linesJson(state, lineNames()) } };
    case WebCommand::Op::Config:
        return QJsonObject { { QStringLiteral("ok"), true }, { QStringLiteral("config"), configJson(model) } };
    case WebCommand::Op::Journal: {
        QJsonArray entries;
        for (const JournalEntry &e : m_hub.journal().list(0, QString(), cmd.limit))
            entries.append(journalEntryJson(state, e));
        return QJsonObject { { QStringLiteral("ok"), true }, { QStringLiteral("journal"), entries } };
    }
    case WebCommand::Op::Salvos: {
        QJsonArray names;
        for (const QString &s : salvoNames(m_hub.salvoFolder()))
            names.append(s);
        return QJsonObject { { QStringLiteral("ok"), true }, { QStringLiteral("salvos"), names } };
    }
    case WebCommand::Op::SalvoShow:
    case WebCommand::Op::Salvo: {
        Salvo salvo;
        QString error;
        if (!loadSalvo(m_hub.salvoFolder(), cmd.salvo, model, salvo, &error))
            return fail(error);
        if (cmd.op == WebCommand::Op::Salvo) {
            hubLog(QStringLiteral("web client %1: %2 fires salvo %3").arg(peer, a.name, salvo.name));
            return submitted(fireSalvo(m_hub, salvo, origin));
        }
        QJsonArray routes;
        for (const SalvoRoute &r : salvo.routes) {
            QJsonArray src;
            for (int l = 0; l < model.levelCount(); ++l) {
                const int16_t s = l < static_cast<int>(r.sourcePerLevel.size()) ? r.sourcePerLevel[static_cast<size_t>(l)] : -1;
                src.append(s >= 0 ? QJsonValue(model.SourceName(s)) : QJsonValue::Null);
            }
            routes.append(QJsonObject { { QStringLiteral("destination"), model.DestinationName(r.destination) },
                { QStringLiteral("sources"), src } });
        }
        return QJsonObject { { QStringLiteral("ok"), true }, { QStringLiteral("name"), salvo.name },
            { QStringLiteral("routes"), routes } };
    }
    case WebCommand::Op::Take:
        return submitted(submitRoute(m_hub, cmd.destination, cmd.sources, origin));
    case WebCommand::Op::Lock: {
        bool forced = false;
        if (!cmd.locked) {
            // Another owner's lock (or one made at the controller) opens only
            // by a forced release, and only for operators allowed to.
            for (const auto &[address, output] : destinationOutputs(model, cmd.destination)) {
                const std::vector<bool> *locks = state.locks(address);
                if (!locks || output < 1 || output > static_cast<int>(locks->size()) || !(*locks)[static_cast<size_t>(output - 1)])
                    continue;
                const Origin *owner = state.lockOwner(address, output);
                if (owner && owner->sameClient(origin))
                    continue;
                if (!a.forceRelease || !cmd.force) {
                    QJsonObject o = fail(QStringLiteral("%1 is locked by %2; only a forced release opens it")
                                             .arg(model.DestinationName(cmd.destination),
                                                 owner ? originText(*owner) : QStringLiteral("someone at the router")));
                    if (!a.forceRelease)
                        o.insert(QStringLiteral("forbidden"), true);
                    return o;
                }
                forced = true;
            }
        }
        return submitted(submitDestinationLock(m_hub, cmd.destination, cmd.locked, origin, {}, forced));
    }
    case WebCommand::Op::Undo: {
        const auto e = m_hub.journal().find(cmd.id);
        if (!e)
            return fail(QStringLiteral("no journal entry #%1").arg(cmd.id));
        if (!journalEntryJson(state, *e).value(QLatin1String("undoable")).toBool())
            return fail(QStringLiteral("#%1 cannot be undone (only an acknowledged or confirmed take whose previous "
                                       "sources are known)")
                            .arg(cmd.id));
        HubLine *line = m_hub.lineFor(e->address);
        if (!line)
            return fail(QStringLiteral("no line carries controller %1").arg(e->address));
        TakeRequest take;
        take.address = e->address;
        take.output = e->output;
        for (size_t i = 0; i < e->inputs.size(); ++i)
            take.inputs.push_back(e->inputs[i] > 0 ? e->previous[i] : int16_t(0));
        const int64_t id = line->submitTake(take, Origin { QStringLiteral("web"), undoAddress(peer, cmd.id), a.name });
        if (id == 0)
            return fail(QStringLiteral("the journal cannot record the undo"));
        return QJsonObject { { QStringLiteral("ok"), true }, { QStringLiteral("ids"), QJsonArray { static_cast<double>(id) } } };
    }
    case WebCommand::Op::Watch:
        for (const int d : cmd.destinations) {
            for (const auto &[address, output] : destinationOutputs(model, d)) {
                if (HubLine *line = m_hub.lineFor(address))
                    line->watch(address, output);
            }
        }
        return QJsonObject { { QStringLiteral("ok"), true } };
    }
    return fail(QStringLiteral("unknown request"));
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
