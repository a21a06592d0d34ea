// The hub's MQTT wire format, with no I/O: the topic layout under the hub's
// prefix, the JSON of every message the hub publishes, and the reader of the
// commands clients send it. The server turns state changes into these
// messages and commands into submissions; tests and the fuzz target drive
// these functions directly.
//
// Topics (each name one topic level, escaped by topicPart):
//   <prefix>/status                          "online" / "offline" (retained; the last will)
//   <prefix>/line/<line>                     a controller line's link state (retained)
//   <prefix>/<level>/link                    the link state of the line carrying a level (retained)
//   <prefix>/<level>/destination/<name>      one destination on one level (retained)
//   <prefix>/journal                         each journal entry as it changes state
//   <prefix>/command[/<user>]                commands (QoS 1); the user level is the broker's
//                                            account, enforced by an ACL pattern
//   <prefix>/reply[/<user>]                  replies to clients that give no response topic
#pragma once

#include "journal.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonValue>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

namespace exel::hub::mqtt {

// A name as one topic level: '/', '+', '#', '%', control characters and a
// leading '$' are written as %XX (UTF-8 bytes), an empty name as "%00".
QString topicPart(const QString &name);
// Whether a configured prefix can carry the hub's topics: not empty, no
// wildcard, no empty level, not starting with '$'.
bool validPrefix(const QString &prefix, QString *why);

class Topics {
public:
    explicit Topics(QString prefix)
        : m_prefix(std::move(prefix))
    {
    }
    const QString &prefix() const { return m_prefix; }
    QString status() const { return m_prefix + QStringLiteral("/status"); }
    QString line(const QString &line) const { return m_prefix + QStringLiteral("/line/") + topicPart(line); }
    QString levelLink(const QString &level) const { return m_prefix + u'/' + topicPart(level) + QStringLiteral("/link"); }
    QString destination(const QString &level, const QString &destination) const
    {
        return m_prefix + u'/' + topicPart(level) + QStringLiteral("/destination/") + topicPart(destination);
    }
    QString journal() const { return m_prefix + QStringLiteral("/journal"); }
    // The subscriptions for commands: with and without the user level.
    QString command() const { return m_prefix + QStringLiteral("/command"); }
    QString commandPattern() const { return m_prefix + QStringLiteral("/command/+"); }
    QString reply(const QString &user) const
    {
        return user.isEmpty() ? m_prefix + QStringLiteral("/reply") : m_prefix + QStringLiteral("/reply/") + user;
    }
    // The user of a command topic ("" for <prefix>/command), nullopt for any
    // other topic.
    std::optional<QString> commandUser(const QString &topic) const;

private:
    QString m_prefix;
};

// ---- what the hub publishes

// One destination on one level, as the state holds it.
struct DestinationView {
    QString destination;
    QString level;
    QString controller;
    int output = 0; // controller output, 1-based
    int input = -1; // controller input, 1-based, 0 none, -1 not read yet
    QString source; // the configuration's name of the input, empty when it has none
    bool flag = false;
    int locked = -1; // 1 locked, 0 free, -1 lock table not read yet
    std::optional<Origin> lockOwner; // who made the lock through the hub
    int64_t readAtMs = -1; // wall clock ms of the reading, -1 never read
    bool unconfirmed = false; // an acknowledged take no poll has shown yet
};
QByteArray destinationPayload(const DestinationView &view);

// state: "online", "offline" or "dialling" (RouterState::lineStateName).
QByteArray linePayload(const QString &line, const QString &state, const std::vector<int16_t> &controllers);
QByteArray levelLinkPayload(const QString &level, const QString &line, const QString &state);
QByteArray journalPayload(const JournalEntry &entry);

// ---- commands

struct Command {
    enum class Kind { Take, Lock, Unlock, Salvo };
    Kind kind = Kind::Take;
    QJsonValue tag; // the client's "id", echoed in every reply (null when not given)
    QString destination; // take, lock, unlock
    QString source; // take: the source on every level of the destination that has it
    std::vector<std::pair<QString, QString>> levels; // take: level name -> source name
    QString salvo; // salvo
    bool force = false; // unlock: also a lock another client made
};

struct CommandLimits {
    int maxBytes = 8192;
    int maxNameChars = 256;
    int maxLevels = 64;
};

// Reads one command payload. False with the reason (and the tag when one
// could be read, so the error reply can carry it) for anything that is not
// exactly one well-formed command.
bool readCommand(QByteArrayView payload, const CommandLimits &limits, Command &command, QString &why);
QString commandName(Command::Kind kind);

// Replies: an error (nothing was queued), the entries a command queued (with
// a problem when part of it could not be carried), and each entry's later
// outcome.
QByteArray errorReply(const QJsonValue &tag, const QString &why);
QByteArray acceptedReply(const QJsonValue &tag, Command::Kind kind, const std::vector<JournalEntry> &entries,
    const QString &problem);
QByteArray outcomeReply(const QJsonValue &tag, const JournalEntry &entry);

} // namespace exel::hub::mqtt
