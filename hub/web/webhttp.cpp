// The web server's HTTP side: answers, the page's files, sign-in and the JSON API.
#include "webserver_p.h"

#include "hublog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QJsonDocument>
#include <QPromise>
#include <QTcpSocket>
#include <QThreadPool>

#include <memory>

namespace exel::hub {

using namespace webdetail;

namespace {

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

} // namespace

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
    if (get && publicFiles().contains(path)) {
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

} // namespace exel::hub
