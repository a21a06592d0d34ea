// Who may use the web panel: operator accounts with salted, iterated password
// hashes, the sign-in sessions the browser holds as cookies, and the brake on
// failed sign-ins. Pure logic over an injected clock; no sockets.
#pragma once

#include "clock.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace exel::hub {

enum class OperatorRole { Operator, ViewOnly };
QString operatorRoleName(OperatorRole role);

struct OperatorAccount {
    QString name;
    QString passwordHash; // "pbkdf2-sha256$<iterations>$<salt base64>$<hash base64>"
    OperatorRole role = OperatorRole::Operator;
    bool forceRelease = false; // may open another operator's lock

    bool canChange() const { return role == OperatorRole::Operator; }
};

// PBKDF2 with HMAC-SHA256 (RFC 8018), one 32-byte block.
QByteArray pbkdf2Sha256(const QByteArray &password, const QByteArray &salt, int iterations);
// A hash line for the configuration, with a fresh random salt.
QString hashPassword(const QString &password, int iterations = 100000);
// Whether text is a hash line this reader understands (iterations 1000 to
// 10 000 000, a salt, a 32-byte hash).
bool validPasswordHash(const QString &text);
// Compares in time independent of where the hashes differ.
bool verifyPassword(const QString &password, const QString &hash);

// Failed sign-ins per client address and per name: a few are free, then
// each further one must wait, doubling up to a ceiling; a success clears it.
class SignInBrake {
public:
    struct Options {
        int freeFailures = 5;
        int firstWaitMs = 1000;
        int maxWaitMs = 60000;
        int forgetMs = 15 * 60000; // failures this old are forgotten
    };
    explicit SignInBrake(Clock &clock, Options options);
    explicit SignInBrake(Clock &clock);

    // Milliseconds before an attempt for this key is heard (0: now).
    int64_t waitMs(const QString &key) const;
    void failed(const QString &key);
    void succeeded(const QString &key);

private:
    struct Record {
        int failures = 0;
        int64_t lastAt = 0;
        int64_t blockedUntil = 0;
    };
    Clock &m_clock;
    Options m_options;
    std::map<QString, Record> m_records;
};

struct WebSession {
    QString operatorName;
    int64_t expiresAt = 0; // wall-clock ms
};

// Sign-in sessions by their cookie token. Only a hash of each token is kept,
// in memory and in the data folder's file, so the file gives no way in and a
// restart of the hub keeps its operators signed in.
class SessionStore {
public:
    using WallClock = int64_t (*)();
    // file: where sessions survive a restart (empty: memory only).
    // idleMs: a session unused this long ends.
    SessionStore(QString file, int64_t idleMs, WallClock wall = nullptr);

    // A new session; the token for the cookie.
    QString create(const QString &operatorName);
    // The session of a token, its expiry moved on; nullopt when unknown or
    // expired.
    std::optional<WebSession> use(const QString &token);
    // The same without moving the expiry (an open page that only listens).
    std::optional<WebSession> peek(const QString &token) const;
    void remove(const QString &token);
    // Ends every session of an operator that is no longer configured.
    void keepOnly(const std::vector<QString> &names);
    int64_t idleMs() const { return m_idleMs; }
    int count() const { return static_cast<int>(m_sessions.size()); }

private:
    int64_t now() const;
    void load();
    void save() const;
    static QByteArray key(const QString &token);

    QString m_file;
    int64_t m_idleMs;
    WallClock m_wall;
    std::map<QByteArray, WebSession> m_sessions;
    int64_t m_savedAt = 0;
};

} // namespace exel::hub
