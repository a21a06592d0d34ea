// Pieces the web server's files share: the session cookie's name, the
// files served before sign-in, reply objects, the rate bucket, and what the
// server keeps per HTTP connection and per open page.
#pragma once

#include "routeplan.h"
#include "webserver.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>

#include <algorithm>

class QTcpSocket;
class QWebSocket;

namespace exel::hub::webdetail {

inline constexpr const char *kCookie = "xelhub_session";

// Files a browser may fetch before signing in.
inline const QStringList &publicFiles()
{
    static const QStringList files { QStringLiteral("/login.html"), QStringLiteral("/login.js"),
        QStringLiteral("/style.css"), QStringLiteral("/favicon.svg") };
    return files;
}

inline QJsonObject fail(const QString &why)
{
    return QJsonObject { { QStringLiteral("ok"), false }, { QStringLiteral("error"), why } };
}

inline QJsonObject submitted(const Submitted &s)
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

} // namespace exel::hub::webdetail

namespace exel::hub {

struct WebServer::Http {
    QTcpSocket *socket = nullptr;
    QString peer;
    int64_t requestStartedAt = 0; // first byte of the request being read (0: none)
    int64_t lastActivity = 0;
    webdetail::Bucket bucket;
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
    webdetail::Bucket bucket;
    bool dropped = false;
};

} // namespace exel::hub
