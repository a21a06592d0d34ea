// Operator passwords, sign-in sessions and the sign-in brake.
#include "operators.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>
#include <QSaveFile>

#include <algorithm>

namespace exel::hub {

namespace {

constexpr const char *kScheme = "pbkdf2-sha256";

QByteArray randomBytes(int n)
{
    QByteArray out(n, Qt::Uninitialized);
    QRandomGenerator::system()->generate(out.begin(), out.end());
    return out;
}

struct ParsedHash {
    int iterations = 0;
    QByteArray salt;
    QByteArray hash;
};

std::optional<ParsedHash> parseHash(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('$'));
    if (parts.size() != 4 || parts[0] != QLatin1String(kScheme))
        return std::nullopt;
    bool ok = false;
    ParsedHash p;
    p.iterations = parts[1].toInt(&ok);
    if (!ok || p.iterations < 1000 || p.iterations > 10000000)
        return std::nullopt;
    const auto salt = QByteArray::fromBase64Encoding(parts[2].toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    const auto hash = QByteArray::fromBase64Encoding(parts[3].toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!salt || !hash || salt.decoded.size() < 8 || hash.decoded.size() != 32)
        return std::nullopt;
    p.salt = salt.decoded;
    p.hash = hash.decoded;
    return p;
}

int64_t systemWall()
{
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

QString operatorRoleName(OperatorRole role)
{
    return role == OperatorRole::Operator ? QStringLiteral("operator") : QStringLiteral("view only");
}

QByteArray pbkdf2Sha256(const QByteArray &password, const QByteArray &salt, int iterations)
{
    // One block (i = 1) is all a 32-byte key needs.
    QMessageAuthenticationCode mac(QCryptographicHash::Sha256, password);
    mac.addData(salt);
    mac.addData(QByteArray("\0\0\0\1", 4));
    QByteArray u = mac.result();
    QByteArray out = u;
    for (int i = 1; i < iterations; ++i) {
        mac.reset();
        mac.addData(u);
        u = mac.result();
        for (int k = 0; k < out.size(); ++k)
            out[k] = static_cast<char>(out[k] ^ u[k]);
    }
    return out;
}

QString hashPassword(const QString &password, int iterations)
{
    const QByteArray salt = randomBytes(16);
    return QStringLiteral("%1$%2$%3$%4")
        .arg(QLatin1String(kScheme))
        .arg(iterations)
        .arg(QString::fromLatin1(salt.toBase64()),
            QString::fromLatin1(pbkdf2Sha256(password.toUtf8(), salt, iterations).toBase64()));
}

bool validPasswordHash(const QString &text)
{
    return parseHash(text).has_value();
}

bool verifyPassword(const QString &password, const QString &hash)
{
    const auto p = parseHash(hash);
    if (!p)
        return false;
    const QByteArray got = pbkdf2Sha256(password.toUtf8(), p->salt, p->iterations);
    unsigned char diff = 0;
    for (int i = 0; i < got.size(); ++i)
        diff |= static_cast<unsigned char>(got[i] ^ p->hash[i]);
    return diff == 0;
}

SignInBrake::SignInBrake(Clock &clock, Options options)
    : m_clock(clock)
    , m_options(options)
{
}

SignInBrake::SignInBrake(Clock &clock)
    : SignInBrake(clock, Options {})
{
}

int64_t SignInBrake::waitMs(const QString &key) const
{
    const auto it = m_records.find(key);
    if (it == m_records.end())
        return 0;
    return std::max<int64_t>(0, it->second.blockedUntil - m_clock.nowMs());
}

void SignInBrake::failed(const QString &key)
{
    const int64_t now = m_clock.nowMs();
    // Forget the old records now and then, so a scan of names cannot grow the map for ever.
    if (m_records.size() > 10000) {
        for (auto it = m_records.begin(); it != m_records.end();)
            it = now - it->second.lastAt > m_options.forgetMs ? m_records.erase(it) : std::next(it);
    }
    Record &r = m_records[key];
    if (r.failures > 0 && now - r.lastAt > m_options.forgetMs)
        r = Record {};
    ++r.failures;
    r.lastAt = now;
    const int over = r.failures - m_options.freeFailures;
    if (over > 0) {
        int64_t wait = m_options.firstWaitMs;
        for (int i = 1; i < over && wait < m_options.maxWaitMs; ++i)
            wait *= 2;
        r.blockedUntil = now + std::min<int64_t>(wait, m_options.maxWaitMs);
    }
}

void SignInBrake::succeeded(const QString &key)
{
    m_records.erase(key);
}

SessionStore::SessionStore(QString file, int64_t idleMs, WallClock wall)
    : m_file(std::move(file))
    , m_idleMs(idleMs)
    , m_wall(wall ? wall : systemWall)
{
    load();
}

int64_t SessionStore::now() const
{
    return m_wall();
}

QByteArray SessionStore::key(const QString &token)
{
    return QCryptographicHash::hash(token.toLatin1(), QCryptographicHash::Sha256).toHex();
}

QString SessionStore::create(const QString &operatorName)
{
    const QString token = QString::fromLatin1(randomBytes(32).toHex());
    m_sessions[key(token)] = WebSession { operatorName, now() + m_idleMs };
    save();
    return token;
}

std::optional<WebSession> SessionStore::use(const QString &token)
{
    if (token.isEmpty() || token.size() > 128)
        return std::nullopt;
    const auto it = m_sessions.find(key(token));
    if (it == m_sessions.end())
        return std::nullopt;
    const int64_t t = now();
    if (it->second.expiresAt <= t) {
        m_sessions.erase(it);
        save();
        return std::nullopt;
    }
    it->second.expiresAt = t + m_idleMs;
    // The file follows a used session now and then, not on every request,
    // always well inside the idle time so a restart never loses a live one.
    if (t - m_savedAt > std::min<int64_t>(60000, m_idleMs / 10))
        save();
    return it->second;
}

std::optional<WebSession> SessionStore::peek(const QString &token) const
{
    const auto it = m_sessions.find(key(token));
    if (it == m_sessions.end() || it->second.expiresAt <= now())
        return std::nullopt;
    return it->second;
}

void SessionStore::remove(const QString &token)
{
    if (m_sessions.erase(key(token)) > 0)
        save();
}

void SessionStore::keepOnly(const std::vector<QString> &names)
{
    bool changed = false;
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        if (std::find(names.begin(), names.end(), it->second.operatorName) == names.end()) {
            it = m_sessions.erase(it);
            changed = true;
        } else {
            ++it;
        }
    }
    if (changed)
        save();
}

void SessionStore::load()
{
    if (m_file.isEmpty())
        return;
    QFile f(m_file);
    if (!f.open(QIODevice::ReadOnly))
        return;
    const int64_t t = now();
    const QJsonArray all = QJsonDocument::fromJson(f.read(4 * 1024 * 1024)).array();
    for (const QJsonValue &v : all) {
        const QJsonObject o = v.toObject();
        const QByteArray k = o.value(QLatin1String("key")).toString().toLatin1();
        const auto expires = static_cast<int64_t>(o.value(QLatin1String("expires")).toDouble());
        const QString name = o.value(QLatin1String("operator")).toString();
        if (k.size() == 64 && !name.isEmpty() && expires > t)
            m_sessions[k] = WebSession { name, expires };
    }
}

void SessionStore::save() const
{
    if (m_file.isEmpty())
        return;
    const_cast<SessionStore *>(this)->m_savedAt = now();
    QJsonArray all;
    for (const auto &[k, s] : m_sessions) {
        all.append(QJsonObject { { QStringLiteral("key"), QString::fromLatin1(k) },
            { QStringLiteral("operator"), s.operatorName },
            { QStringLiteral("expires"), static_cast<double>(s.expiresAt) } });
    }
    QDir().mkpath(QFileInfo(m_file).absolutePath());
    QSaveFile f(m_file);
    if (!f.open(QIODevice::WriteOnly))
        return;
    f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    f.write(QJsonDocument(all).toJson(QJsonDocument::Compact));
    f.commit();
}

} // namespace exel::hub
