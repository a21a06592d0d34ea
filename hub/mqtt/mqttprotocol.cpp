// Topics, published JSON and the command reader of the MQTT server.
#include "mqttprotocol.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace exel::hub::mqtt {

namespace {

QJsonValue orNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

QJsonValue wallTime(int64_t ms)
{
    if (ms <= 0)
        return QJsonValue();
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

QJsonObject originJson(const Origin &o)
{
    return QJsonObject { { QStringLiteral("server"), o.server }, { QStringLiteral("client"), o.address },
        { QStringLiteral("user"), orNull(o.name) } };
}

QJsonArray numbers(const std::vector<int16_t> &values)
{
    QJsonArray a;
    for (const int16_t v : values)
        a.append(v);
    return a;
}

QByteArray compact(const QJsonObject &o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QJsonObject entryFields(const JournalEntry &e)
{
    return QJsonObject { { QStringLiteral("entry"), static_cast<qint64>(e.id) },
        { QStringLiteral("state"), entryStateName(e.state) }, { QStringLiteral("summary"), e.summary },
        { QStringLiteral("reply"), orNull(e.reply) }, { QStringLiteral("note"), orNull(e.note) } };
}

} // namespace

QString topicPart(const QString &name)
{
    if (name.isEmpty())
        return QStringLiteral("%00");
    QString out;
    const QByteArray utf8 = name.toUtf8();
    out.reserve(utf8.size());
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        const bool escape
            = c < 0x20 || c == 0x7f || c == '/' || c == '+' || c == '#' || c == '%' || (i == 0 && c == '$');
        if (escape)
            out += QStringLiteral("%%1").arg(c, 2, 16, QLatin1Char('0')).toUpper();
        else if (c < 0x80)
            out += QLatin1Char(static_cast<char>(c));
        else {
            // A whole UTF-8 sequence as it is.
            qsizetype j = i + 1;
            while (j < utf8.size() && (static_cast<unsigned char>(utf8[j]) & 0xc0) == 0x80)
                ++j;
            out += QString::fromUtf8(utf8.constData() + i, j - i);
            i = j - 1;
        }
    }
    return out;
}

bool validPrefix(const QString &prefix, QString *why)
{
    auto fail = [&](const QString &text) {
        if (why)
            *why = text;
        return false;
    };
    if (prefix.isEmpty())
        return fail(QStringLiteral("the prefix is empty"));
    if (prefix.contains(u'+') || prefix.contains(u'#'))
        return fail(QStringLiteral("\"%1\" holds a wildcard (+ or #)").arg(prefix));
    if (prefix.startsWith(u'$'))
        return fail(QStringLiteral("\"%1\" starts with $ (the broker's own topics)").arg(prefix));
    if (prefix.split(u'/').contains(QString()))
        return fail(QStringLiteral("\"%1\" has an empty topic level").arg(prefix));
    for (const QChar c : prefix) {
        if (c.unicode() < 0x20)
            return fail(QStringLiteral("the prefix holds a control character"));
    }
    return true;
}

std::optional<QString> Topics::commandUser(const QString &topic) const
{
    const QString base = command();
    if (topic == base)
        return QString();
    if (topic.size() > base.size() + 1 && topic.startsWith(base) && topic[base.size()] == u'/') {
        const QString user = topic.mid(base.size() + 1);
        if (!user.contains(u'/'))
            return user;
    }
    return std::nullopt;
}

QByteArray destinationPayload(const DestinationView &v)
{
    QJsonObject o { { QStringLiteral("destination"), v.destination }, { QStringLiteral("level"), v.level },
        { QStringLiteral("controller"), v.controller }, { QStringLiteral("output"), v.output } };
    const bool read = v.input >= 0;
    o.insert(QStringLiteral("input"), read ? QJsonValue(v.input) : QJsonValue());
    o.insert(QStringLiteral("source"), read ? orNull(v.source) : QJsonValue());
    o.insert(QStringLiteral("flag"), v.flag);
    o.insert(QStringLiteral("locked"), v.locked < 0 ? QJsonValue() : QJsonValue(v.locked == 1));
    o.insert(QStringLiteral("lock_owner"), v.lockOwner ? QJsonValue(originJson(*v.lockOwner)) : QJsonValue());
    o.insert(QStringLiteral("read_at"), wallTime(v.readAtMs));
    o.insert(QStringLiteral("confirmed"), read && !v.unconfirmed);
    return compact(o);
}

QByteArray linePayload(const QString &line, const QString &state, const std::vector<int16_t> &controllers)
{
    return compact(QJsonObject { { QStringLiteral("line"), line }, { QStringLiteral("state"), state },
        { QStringLiteral("controllers"), numbers(controllers) } });
}

QByteArray levelLinkPayload(const QString &level, const QString &line, const QString &state)
{
    return compact(QJsonObject { { QStringLiteral("level"), level }, { QStringLiteral("line"), orNull(line) },
        { QStringLiteral("state"), state } });
}

QByteArray journalPayload(const JournalEntry &e)
{
    QJsonObject o = entryFields(e);
    o.insert(
        QStringLiteral("kind"), e.kind == JournalEntry::Kind::Take ? QStringLiteral("take") : QStringLiteral("lock"));
    o.insert(QStringLiteral("line"), e.line);
    o.insert(QStringLiteral("address"), e.address);
    o.insert(QStringLiteral("output"), e.output);
    o.insert(QStringLiteral("destination"), e.destination);
    o.insert(QStringLiteral("inputs"), numbers(e.inputs));
    o.insert(QStringLiteral("previous"), numbers(e.previous));
    o.insert(QStringLiteral("origin"), originJson(e.origin));
    o.insert(QStringLiteral("queued_at"), wallTime(e.queuedAt));
    o.insert(QStringLiteral("sent_at"), wallTime(e.sentAt));
    o.insert(QStringLiteral("answered_at"), wallTime(e.answeredAt));
    o.insert(QStringLiteral("settled_at"), wallTime(e.settledAt));
    o.insert(QStringLiteral("interrupted"), e.interrupted);
    return compact(o);
}

QString commandName(Command::Kind kind)
{
    switch (kind) {
    case Command::Kind::Take:
        return QStringLiteral("take");
    case Command::Kind::Lock:
        return QStringLiteral("lock");
    case Command::Kind::Unlock:
        return QStringLiteral("unlock");
    case Command::Kind::Salvo:
        return QStringLiteral("salvo");
    }
    return QString();
}

bool readCommand(QByteArrayView payload, const CommandLimits &limits, Command &command, QString &why)
{
    command = Command {};
    if (payload.size() > limits.maxBytes) {
        why = QStringLiteral("a command of %1 bytes is longer than the %2 allowed")
                  .arg(payload.size())
                  .arg(limits.maxBytes);
        return false;
    }
    QJsonParseError error {};
    const QJsonDocument doc = QJsonDocument::fromJson(payload.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError) {
        why = QStringLiteral("not JSON: %1 at byte %2").arg(error.errorString()).arg(error.offset);
        return false;
    }
    if (!doc.isObject()) {
        why = QStringLiteral("a command is one JSON object");
        return false;
    }
    const QJsonObject o = doc.object();
    if (o.contains(QStringLiteral("id"))) {
        const QJsonValue tag = o.value(QStringLiteral("id"));
        if (!(tag.isString() && tag.toString().size() <= limits.maxNameChars) && !tag.isDouble()) {
            why = QStringLiteral("\"id\" must be a number or a string of at most %1 characters")
                      .arg(limits.maxNameChars);
            return false;
        }
        command.tag = tag;
    }
    const QJsonValue kind = o.value(QStringLiteral("command"));
    static const Command::Kind kinds[]
        = { Command::Kind::Take, Command::Kind::Lock, Command::Kind::Unlock, Command::Kind::Salvo };
    bool known = false;
    for (const Command::Kind k : kinds) {
        if (kind.isString() && kind.toString() == commandName(k)) {
            command.kind = k;
            known = true;
        }
    }
    if (!known) {
        why = QStringLiteral("\"command\" must be \"take\", \"lock\", \"unlock\" or \"salvo\"");
        return false;
    }
    auto name = [&](const QJsonValue &v, const QString &key, QString &out) {
        if (!v.isString() || v.toString().isEmpty() || v.toString().size() > limits.maxNameChars) {
            why = QStringLiteral("\"%1\" must be a name of 1 to %2 characters").arg(key).arg(limits.maxNameChars);
            return false;
        }
        out = v.toString();
        return true;
    };
    QStringList allowed { QStringLiteral("id"), QStringLiteral("command") };
    switch (command.kind) {
    case Command::Kind::Take:
        allowed << QStringLiteral("destination") << QStringLiteral("source") << QStringLiteral("levels");
        break;
    case Command::Kind::Lock:
        allowed << QStringLiteral("destination");
        break;
    case Command::Kind::Unlock:
        allowed << QStringLiteral("destination") << QStringLiteral("force");
        break;
    case Command::Kind::Salvo:
        allowed << QStringLiteral("name");
        break;
    }
    for (auto it = o.begin(); it != o.end(); ++it) {
        if (!allowed.contains(it.key())) {
            why = QStringLiteral("\"%1\" is not a key of a %2 command")
                      .arg(it.key().left(limits.maxNameChars), commandName(command.kind));
            return false;
        }
    }
    if (command.kind == Command::Kind::Salvo)
        return name(o.value(QStringLiteral("name")), QStringLiteral("name"), command.salvo);
    if (!name(o.value(QStringLiteral("destination")), QStringLiteral("destination"), command.destination))
        return false;
    if (command.kind == Command::Kind::Unlock && o.contains(QStringLiteral("force"))) {
        const QJsonValue f = o.value(QStringLiteral("force"));
        if (!f.isBool()) {
            why = QStringLiteral("\"force\" must be true or false");
            return false;
        }
        command.force = f.toBool();
    }
    if (command.kind != Command::Kind::Take)
        return true;
    const bool hasSource = o.contains(QStringLiteral("source"));
    const bool hasLevels = o.contains(QStringLiteral("levels"));
    if (hasSource == hasLevels) {
        why = QStringLiteral("a take gives either \"source\" (every level) or \"levels\" (level: source)");
        return false;
    }
    if (hasSource)
        return name(o.value(QStringLiteral("source")), QStringLiteral("source"), command.source);
    const QJsonValue levels = o.value(QStringLiteral("levels"));
    if (!levels.isObject() || levels.toObject().isEmpty() || levels.toObject().size() > limits.maxLevels) {
        why = QStringLiteral("\"levels\" must be an object of 1 to %1 level: source pairs").arg(limits.maxLevels);
        return false;
    }
    const QJsonObject lv = levels.toObject();
    for (auto it = lv.begin(); it != lv.end(); ++it) {
        QString level = it.key();
        QString source;
        if (level.isEmpty() || level.size() > limits.maxNameChars) {
            why = QStringLiteral("a level name must have 1 to %1 characters").arg(limits.maxNameChars);
            return false;
        }
        if (!name(it.value(), QStringLiteral("levels.") + level, source))
            return false;
        command.levels.emplace_back(level, source);
    }
    return true;
}

QByteArray errorReply(const QJsonValue &tag, const QString &why)
{
    return compact(QJsonObject {
        { QStringLiteral("id"), tag }, { QStringLiteral("ok"), false }, { QStringLiteral("error"), why } });
}

QByteArray acceptedReply(
    const QJsonValue &tag, Command::Kind kind, const std::vector<JournalEntry> &entries, const QString &problem)
{
    QJsonArray list;
    for (const JournalEntry &e : entries)
        list.append(entryFields(e));
    return compact(QJsonObject { { QStringLiteral("id"), tag }, { QStringLiteral("ok"), true },
        { QStringLiteral("command"), commandName(kind) }, { QStringLiteral("entries"), list },
        { QStringLiteral("problem"), orNull(problem) } });
}

QByteArray outcomeReply(const QJsonValue &tag, const JournalEntry &entry)
{
    QJsonObject o = entryFields(entry);
    o.insert(QStringLiteral("id"), tag);
    return compact(o);
}

} // namespace exel::hub::mqtt
