// The web panel's HTTP request reader and JSON command reader.
#include "webprotocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>

#include <cmath>

namespace exel::hub {

namespace {

bool isToken(const QByteArray &s)
{
    if (s.isEmpty())
        return false;
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 32 || u >= 127 || QByteArray("()<>@,;:\\\"/[]?={}").contains(c))
            return false;
    }
    return true;
}

QString decode(const QByteArray &s, bool plusIsSpace)
{
    QByteArray t = s;
    if (plusIsSpace)
        t.replace('+', ' ');
    return QUrl::fromPercentEncoding(t);
}

HttpParse bad(int code, const QString &why)
{
    HttpParse p;
    p.status = HttpParse::Status::Bad;
    p.errorCode = code;
    p.error = why;
    return p;
}

} // namespace

QByteArray HttpRequest::header(const QByteArray &lowerName) const
{
    const auto it = headers.find(lowerName);
    return it == headers.end() ? QByteArray() : it->second;
}

QString HttpRequest::cookie(const QString &name) const
{
    for (const QByteArray &part : header("cookie").split(';')) {
        const QByteArray p = part.trimmed();
        const qsizetype eq = p.indexOf('=');
        if (eq > 0 && QString::fromLatin1(p.left(eq)) == name)
            return QString::fromLatin1(p.mid(eq + 1));
    }
    return QString();
}

bool HttpRequest::isWebSocketUpgrade() const
{
    return method == "GET" && header("upgrade").toLower() == "websocket"
        && header("connection").toLower().contains("upgrade");
}

HttpParse parseHttpRequest(const QByteArray &buffer, const HttpLimits &limits)
{
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0 || end > limits.maxHead) {
        if (buffer.size() > limits.maxHead || end > limits.maxHead)
            return bad(431, QStringLiteral("request head too large"));
        return HttpParse {};
    }
    const QList<QByteArray> lines = buffer.left(end).split('\n');
    HttpParse p;
    HttpRequest &r = p.request;
    // Request line: METHOD SP target SP HTTP/1.x
    const QByteArray first = lines.front().endsWith('\r') ? lines.front().chopped(1) : lines.front();
    const QList<QByteArray> words = first.split(' ');
    if (words.size() != 3 || !isToken(words[0]) || words[0].size() > 16 || !words[1].startsWith('/')
        || words[1].size() > 2048)
        return bad(400, QStringLiteral("bad request line"));
    if (words[2] != "HTTP/1.1" && words[2] != "HTTP/1.0")
        return bad(505, QStringLiteral("only HTTP/1.0 and 1.1 are served"));
    r.method = words[0];
    const QByteArray target = words[1];
    for (const char c : target) {
        if (static_cast<unsigned char>(c) <= 32 || static_cast<unsigned char>(c) >= 127)
            return bad(400, QStringLiteral("bad request target"));
    }
    const qsizetype q = target.indexOf('?');
    r.path = decode(q < 0 ? target : target.left(q), false);
    if (r.path.contains(QChar(0)))
        return bad(400, QStringLiteral("bad request target"));
    if (q >= 0) {
        for (const QByteArray &pair : target.mid(q + 1).split('&')) {
            if (pair.isEmpty())
                continue;
            const qsizetype eq = pair.indexOf('=');
            r.query[decode(eq < 0 ? pair : pair.left(eq), true)] = eq < 0 ? QString() : decode(pair.mid(eq + 1), true);
        }
    }
    for (qsizetype i = 1; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.startsWith(' ') || line.startsWith('\t'))
            return bad(400, QStringLiteral("folded header lines are not accepted"));
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || !isToken(line.left(colon)))
            return bad(400, QStringLiteral("bad header line"));
        const QByteArray name = line.left(colon).toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        auto it = r.headers.find(name);
        if (it == r.headers.end())
            r.headers.emplace(name, value);
        else if (name == "content-length" || name == "host")
            return bad(400, QStringLiteral("header %1 given twice").arg(QString::fromLatin1(name)));
        else
            it->second += ", " + value;
    }
    if (words[2] == "HTTP/1.1" && !r.headers.count("host"))
        return bad(400, QStringLiteral("no Host header"));
    if (r.headers.count("transfer-encoding"))
        return bad(501, QStringLiteral("only bodies with a Content-Length are accepted"));
    qsizetype length = 0;
    if (r.headers.count("content-length")) {
        const QByteArray v = r.header("content-length");
        if (v.isEmpty() || v.size() > 9 || !std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return bad(400, QStringLiteral("bad Content-Length"));
        length = v.toLongLong();
        if (length > limits.maxBody)
            return bad(413, QStringLiteral("request body too large"));
    }
    const qsizetype bodyAt = end + 4;
    if (buffer.size() < bodyAt + length)
        return HttpParse {};
    r.body = buffer.mid(bodyAt, length);
    const QByteArray connection = r.header("connection").toLower();
    r.keepAlive = words[2] == "HTTP/1.1" ? !connection.contains("close") : connection.contains("keep-alive");
    p.consumed = bodyAt + length;
    p.status = HttpParse::Status::Complete;
    return p;
}

namespace {

struct OpName {
    WebCommand::Op op;
    const char *name;
};
constexpr OpName kOps[] = {
    { WebCommand::Op::State, "state" },
    { WebCommand::Op::Config, "config" },
    { WebCommand::Op::Journal, "journal" },
    { WebCommand::Op::Salvos, "salvos" },
    { WebCommand::Op::SalvoShow, "salvoShow" },
    { WebCommand::Op::Take, "take" },
    { WebCommand::Op::Lock, "lock" },
    { WebCommand::Op::Salvo, "salvo" },
    { WebCommand::Op::Undo, "undo" },
    { WebCommand::Op::Watch, "watch" },
};

// A model index from a number (the index) or a string (the name).
bool readIndex(const QJsonValue &v, int count, const std::function<int(const QString &)> &find, int &out)
{
    if (v.isString()) {
        out = find(v.toString());
        return out >= 0;
    }
    if (!v.isDouble())
        return false;
    const double d = v.toDouble();
    if (d != std::floor(d) || d < 0 || d >= count)
        return false;
    out = static_cast<int>(d);
    return true;
}

bool readDestination(const QJsonObject &o, const StatandConfig &m, int &out, QString &error)
{
    if (!readIndex(o.value(QLatin1String("destination")), m.destinationCount(),
            [&m](const QString &n) { return m.FindDestination(n); }, out)) {
        error = QStringLiteral("\"destination\" must be a destination of the configuration (name or index)");
        return false;
    }
    return true;
}

bool readSources(const QJsonObject &o, const StatandConfig &m, std::vector<int16_t> &sources, QString &error)
{
    const int levels = m.levelCount();
    auto findSource = [&m](const QString &n) { return m.FindSource(n); };
    sources.assign(static_cast<size_t>(levels), -1);
    if (o.contains(QLatin1String("sources"))) {
        // One entry per level: a source, or null / -1 to leave the level.
        const QJsonValue v = o.value(QLatin1String("sources"));
        if (!v.isArray() || v.toArray().size() > levels) {
            error = QStringLiteral("\"sources\" must be an array of at most %1 sources, one per level").arg(levels);
            return false;
        }
        const QJsonArray a = v.toArray();
        for (qsizetype l = 0; l < a.size(); ++l) {
            if (a[l].isNull() || (a[l].isDouble() && a[l].toDouble() == -1))
                continue;
            int s = -1;
            if (!readIndex(a[l], m.sourceCount(), findSource, s)) {
                error = QStringLiteral("\"sources\"[%1] is not a source of the configuration").arg(l);
                return false;
            }
            sources[static_cast<size_t>(l)] = static_cast<int16_t>(s);
        }
    } else {
        int s = -1;
        if (!readIndex(o.value(QLatin1String("source")), m.sourceCount(), findSource, s)) {
            error = QStringLiteral("\"source\" must be a source of the configuration (name or index), or give \"sources\"");
            return false;
        }
        const QJsonValue lv = o.value(QLatin1String("levels"));
        if (lv.isUndefined()) {
            sources.assign(static_cast<size_t>(levels), static_cast<int16_t>(s));
        } else {
            if (!lv.isArray() || lv.toArray().size() > levels) {
                error = QStringLiteral("\"levels\" must be an array of levels");
                return false;
            }
            for (const QJsonValue &l : lv.toArray()) {
                int li = -1;
                if (!readIndex(l, levels, [&m](const QString &n) { return m.FindLevel(n); }, li)) {
                    error = QStringLiteral("\"levels\" names a level the configuration does not have");
                    return false;
                }
                sources[static_cast<size_t>(li)] = static_cast<int16_t>(s);
            }
        }
    }
    if (std::all_of(sources.begin(), sources.end(), [](int16_t s) { return s < 0; })) {
        error = QStringLiteral("no level to take");
        return false;
    }
    return true;
}

bool readBool(const QJsonObject &o, const char *key, bool required, bool &out, QString &error)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined() && !required)
        return true;
    if (!v.isBool()) {
        error = QStringLiteral("\"%1\" must be true or false").arg(QLatin1String(key));
        return false;
    }
    out = v.toBool();
    return true;
}

} // namespace

bool webOpFromName(const QString &name, WebCommand::Op &op)
{
    for (const OpName &o : kOps) {
        if (name == QLatin1String(o.name)) {
            op = o.op;
            return true;
        }
    }
    return false;
}

QString webOpName(WebCommand::Op op)
{
    for (const OpName &o : kOps) {
        if (o.op == op)
            return QLatin1String(o.name);
    }
    return QString();
}

bool parseWebRequest(
    WebCommand::Op op, const QJsonObject &o, const StatandConfig &m, WebCommand &c, QString &error)
{
    c = WebCommand {};
    c.op = op;
    const QJsonValue tag = o.value(QLatin1String("req"));
    if (tag.isDouble()) {
        c.tag = tag.toDouble();
        c.hasTag = true;
    }
    switch (op) {
    case WebCommand::Op::State:
    case WebCommand::Op::Config:
    case WebCommand::Op::Salvos:
        return true;
    case WebCommand::Op::Journal: {
        const QJsonValue v = o.value(QLatin1String("limit"));
        if (v.isUndefined())
            return true;
        if (!v.isDouble() || v.toDouble() < 1 || v.toDouble() > 1000) {
            error = QStringLiteral("\"limit\" must be from 1 to 1000");
            return false;
        }
        c.limit = static_cast<int>(v.toDouble());
        return true;
    }
    case WebCommand::Op::SalvoShow:
    case WebCommand::Op::Salvo: {
        const QJsonValue v = o.value(QLatin1String("name"));
        if (!v.isString() || v.toString().isEmpty() || v.toString().size() > 255) {
            error = QStringLiteral("\"name\" must be a salvo's name");
            return false;
        }
        c.salvo = v.toString();
        return true;
    }
    case WebCommand::Op::Take:
        return readDestination(o, m, c.destination, error) && readSources(o, m, c.sources, error);
    case WebCommand::Op::Lock:
        return readDestination(o, m, c.destination, error) && readBool(o, "locked", true, c.locked, error)
            && readBool(o, "force", false, c.force, error);
    case WebCommand::Op::Undo: {
        const QJsonValue v = o.value(QLatin1String("id"));
        const double d = v.toDouble(-1);
        if (!v.isDouble() || d < 1 || d > 9e15 || d != std::floor(d)) {
            error = QStringLiteral("\"id\" must be a journal entry's id");
            return false;
        }
        c.id = static_cast<int64_t>(d);
        return true;
    }
    case WebCommand::Op::Watch: {
        const QJsonValue v = o.value(QLatin1String("destinations"));
        if (!v.isArray() || v.toArray().size() > 64) {
            error = QStringLiteral("\"destinations\" must be an array of at most 64 destinations");
            return false;
        }
        for (const QJsonValue &d : v.toArray()) {
            int i = -1;
            if (!readIndex(d, m.destinationCount(), [&m](const QString &n) { return m.FindDestination(n); }, i)) {
                error = QStringLiteral("\"destinations\" names a destination the configuration does not have");
                return false;
            }
            c.destinations.push_back(i);
        }
        return true;
    }
    }
    return false;
}

bool parseWebMessage(const QByteArray &message, const StatandConfig &m, WebCommand &c, QString &error, int maxBytes)
{
    if (message.size() > maxBytes) {
        error = QStringLiteral("message too large (at most %1 bytes)").arg(maxBytes);
        return false;
    }
    QJsonParseError pe;
    const QJsonDocument doc = QJsonDocument::fromJson(message, &pe);
    if (pe.error != QJsonParseError::NoError || !doc.isObject()) {
        error = QStringLiteral("not a JSON object");
        return false;
    }
    const QJsonObject o = doc.object();
    WebCommand::Op op;
    if (!webOpFromName(o.value(QLatin1String("op")).toString(), op)) {
        error = QStringLiteral("unknown \"op\"");
        return false;
    }
    return parseWebRequest(op, o, m, c, error);
}

} // namespace exel::hub
