// The take journal in SQLite.
#include "journal.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <atomic>

namespace exel::hub {

namespace {

const char *const kStateNames[]
    = { "queued", "sent", "acknowledged", "refused", "failed", "confirmed", "contradicted" };
constexpr int kPruneEvery = 500;

const QString kColumns = QStringLiteral(
    "id, kind, line, controller, output, destination, inputs, previous, summary, origin_server, origin_address, "
    "origin_name, state, reply, note, queued_at, sent_at, answered_at, settled_at, interrupted");

// A null text would be bound as SQL NULL; every text column holds text.
QString text(const QString &s)
{
    return s.isNull() ? QStringLiteral("") : s;
}

JournalEntry readRow(const QSqlQuery &q)
{
    JournalEntry e;
    e.id = q.value(0).toLongLong();
    e.kind = q.value(1).toString() == QLatin1String("lock") ? JournalEntry::Kind::Lock : JournalEntry::Kind::Take;
    e.line = q.value(2).toString();
    e.address = static_cast<int16_t>(q.value(3).toInt());
    e.output = q.value(4).toInt();
    e.destination = q.value(5).toString();
    e.inputs = decodeLevels(q.value(6).toString());
    e.previous = decodeLevels(q.value(7).toString());
    e.summary = q.value(8).toString();
    e.origin = Origin { q.value(9).toString(), q.value(10).toString(), q.value(11).toString() };
    e.state = entryStateFromName(q.value(12).toString()).value_or(EntryState::Failed);
    e.reply = q.value(13).toString();
    e.note = q.value(14).toString();
    e.queuedAt = q.value(15).toLongLong();
    e.sentAt = q.value(16).toLongLong();
    e.answeredAt = q.value(17).toLongLong();
    e.settledAt = q.value(18).toLongLong();
    e.interrupted = q.value(19).toBool();
    return e;
}

} // namespace

QString entryStateName(EntryState state)
{
    return QString::fromLatin1(kStateNames[static_cast<int>(state)]);
}

std::optional<EntryState> entryStateFromName(const QString &name)
{
    for (int i = 0; i < 7; ++i) {
        if (name == QLatin1String(kStateNames[i]))
            return static_cast<EntryState>(i);
    }
    return std::nullopt;
}

bool entryOpen(EntryState state)
{
    return state == EntryState::Queued || state == EntryState::Sent || state == EntryState::Acknowledged;
}

QString encodeLevels(const std::vector<int16_t> &values)
{
    QStringList parts;
    for (size_t i = 0; i < values.size(); ++i)
        parts << QStringLiteral("%1:%2").arg(i + 1).arg(values[i]);
    return parts.join(QLatin1Char(','));
}

std::vector<int16_t> decodeLevels(const QString &text)
{
    std::vector<int16_t> out;
    if (text.isEmpty())
        return out;
    for (const QString &part : text.split(QLatin1Char(','))) {
        const qsizetype colon = part.indexOf(QLatin1Char(':'));
        bool okLevel = false;
        bool okValue = false;
        const int level = part.left(colon).toInt(&okLevel);
        const int value = part.mid(colon + 1).toInt(&okValue);
        if (colon < 0 || !okLevel || !okValue || level < 1 || level > 999 || value < -1 || value > 32767)
            return {};
        if (static_cast<size_t>(level) > out.size())
            out.resize(static_cast<size_t>(level), 0);
        out[static_cast<size_t>(level - 1)] = static_cast<int16_t>(value);
    }
    return out;
}

Journal::Journal(QObject *parent)
    : QObject(parent)
{
    static std::atomic<int> serial { 0 };
    m_connection = QStringLiteral("xelhub-journal-%1").arg(++serial);
}

Journal::~Journal()
{
    close();
}

int64_t Journal::wallNow() const
{
    return m_wall ? m_wall() : QDateTime::currentMSecsSinceEpoch();
}

bool Journal::exec(const QString &sql, QString *error)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (q.exec(sql))
        return true;
    if (error)
        *error = q.lastError().text();
    return false;
}

bool Journal::isOpen() const
{
    return QSqlDatabase::contains(m_connection) && QSqlDatabase::database(m_connection, false).isOpen();
}

bool Journal::open(const QString &folder, const JournalLimits &limits, QString *error)
{
    close();
    m_limits = limits;
    if (!QDir().mkpath(folder)) {
        if (error)
            *error = QStringLiteral("cannot create the data folder %1").arg(folder);
        return false;
    }
    m_path = QDir(folder).filePath(QStringLiteral("journal.db"));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
        db.setDatabaseName(m_path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
        if (!db.open()) {
            if (error)
                *error = QStringLiteral("cannot open %1: %2").arg(m_path, db.lastError().text());
            return false;
        }
    }
    QString why;
    // WAL with NORMAL sync: a committed entry survives the process being
    // killed at any moment; only a power cut can lose the last few.
    const bool ok = exec(QStringLiteral("PRAGMA journal_mode=WAL"), &why)
        && exec(QStringLiteral("PRAGMA synchronous=NORMAL"), &why)
        && exec(QStringLiteral("CREATE TABLE IF NOT EXISTS journal ("
                               "id INTEGER PRIMARY KEY AUTOINCREMENT, kind TEXT NOT NULL, line TEXT NOT NULL, "
                               "controller INTEGER NOT NULL, output INTEGER NOT NULL, destination TEXT NOT NULL, "
                               "inputs TEXT NOT NULL, previous TEXT NOT NULL, summary TEXT NOT NULL, "
                               "origin_server TEXT NOT NULL, origin_address TEXT NOT NULL, origin_name TEXT NOT NULL, "
                               "state TEXT NOT NULL, reply TEXT NOT NULL, note TEXT NOT NULL, "
                               "queued_at INTEGER NOT NULL, sent_at INTEGER NOT NULL, answered_at INTEGER NOT NULL, "
                               "settled_at INTEGER NOT NULL, interrupted INTEGER NOT NULL)"),
            &why)
        && exec(QStringLiteral("CREATE INDEX IF NOT EXISTS journal_queued ON journal(queued_at)"), &why)
        && exec(QStringLiteral("CREATE INDEX IF NOT EXISTS journal_output ON journal(line, controller, output)"), &why);
    if (!ok) {
        if (error)
            *error = QStringLiteral("cannot use %1: %2").arg(m_path, why);
        close();
        return false;
    }

    // What the previous run left open.
    m_recovered = 0;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    q.prepare(QStringLiteral("UPDATE journal SET interrupted = 1, state = 'failed', settled_at = ?, "
                             "note = 'never sent: the hub stopped first' WHERE state = 'queued'"));
    q.addBindValue(qint64(wallNow()));
    if (q.exec())
        m_recovered += q.numRowsAffected();
    q.prepare(
        QStringLiteral("UPDATE journal SET interrupted = 1, note = 'sent, no answer recorded: the hub stopped "
                       "before the controller answered; not confirmed' WHERE state = 'sent' AND interrupted = 0"));
    if (q.exec())
        m_recovered += q.numRowsAffected();
    q.prepare(QStringLiteral("UPDATE journal SET interrupted = 1, note = 'acknowledged, not confirmed: the hub "
                             "stopped before a poll showed it' WHERE state = 'acknowledged' AND interrupted = 0"));
    if (q.exec())
        m_recovered += q.numRowsAffected();
    prune();
    return true;
}

bool Journal::openForReading(const QString &folder, QString *error)
{
    close();
    m_path = QDir(folder).filePath(QStringLiteral("journal.db"));
    if (!QFile::exists(m_path)) {
        if (error)
            *error = QStringLiteral("there is no journal at %1").arg(m_path);
        return false;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(m_path);
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=2000"));
    if (!db.open()) {
        if (error)
            *error = QStringLiteral("cannot open %1: %2").arg(m_path, db.lastError().text());
        return false;
    }
    return true;
}

void Journal::close()
{
    if (QSqlDatabase::contains(m_connection)) {
        {
            QSqlDatabase db = QSqlDatabase::database(m_connection, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_connection);
    }
}

bool Journal::add(JournalEntry &entry)
{
    if (entry.queuedAt == 0)
        entry.queuedAt = wallNow();
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("INSERT INTO journal (kind, line, controller, output, destination, inputs, previous, "
                             "summary, origin_server, origin_address, origin_name, state, reply, note, queued_at, "
                             "sent_at, answered_at, settled_at, interrupted) "
                             "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    q.addBindValue(entry.kind == JournalEntry::Kind::Lock ? QStringLiteral("lock") : QStringLiteral("take"));
    q.addBindValue(text(entry.line));
    q.addBindValue(int(entry.address));
    q.addBindValue(entry.output);
    q.addBindValue(text(entry.destination));
    q.addBindValue(text(encodeLevels(entry.inputs)));
    q.addBindValue(text(encodeLevels(entry.previous)));
    q.addBindValue(text(entry.summary));
    q.addBindValue(text(entry.origin.server));
    q.addBindValue(text(entry.origin.address));
    q.addBindValue(text(entry.origin.name));
    q.addBindValue(entryStateName(entry.state));
    q.addBindValue(text(entry.reply));
    q.addBindValue(text(entry.note));
    q.addBindValue(qint64(entry.queuedAt));
    q.addBindValue(qint64(entry.sentAt));
    q.addBindValue(qint64(entry.answeredAt));
    q.addBindValue(qint64(entry.settledAt));
    q.addBindValue(entry.interrupted ? 1 : 0);
    if (!q.exec())
        return false;
    entry.id = q.lastInsertId().toLongLong();
    if (++m_addsSincePrune >= kPruneEvery)
        prune();
    emit entryChanged(entry);
    return true;
}

bool Journal::update(const JournalEntry &entry)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("UPDATE journal SET previous = ?, summary = ?, state = ?, reply = ?, note = ?, "
                             "sent_at = ?, answered_at = ?, settled_at = ?, interrupted = ? WHERE id = ?"));
    q.addBindValue(text(encodeLevels(entry.previous)));
    q.addBindValue(text(entry.summary));
    q.addBindValue(entryStateName(entry.state));
    q.addBindValue(text(entry.reply));
    q.addBindValue(text(entry.note));
    q.addBindValue(qint64(entry.sentAt));
    q.addBindValue(qint64(entry.answeredAt));
    q.addBindValue(qint64(entry.settledAt));
    q.addBindValue(entry.interrupted ? 1 : 0);
    q.addBindValue(qint64(entry.id));
    if (!q.exec())
        return false;
    emit entryChanged(entry);
    return true;
}

std::optional<JournalEntry> Journal::find(int64_t id) const
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("SELECT ") + kColumns + QStringLiteral(" FROM journal WHERE id = ?"));
    q.addBindValue(qint64(id));
    if (!q.exec() || !q.next())
        return std::nullopt;
    return readRow(q);
}

std::vector<JournalEntry> Journal::list(int64_t sinceMs, const QString &destination, int limit) const
{
    std::vector<JournalEntry> out;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("SELECT ") + kColumns
        + QStringLiteral(" FROM journal WHERE queued_at >= ? AND (? = '' OR destination = ? COLLATE NOCASE) "
                         "ORDER BY id DESC LIMIT ?"));
    q.addBindValue(qint64(sinceMs));
    q.addBindValue(text(destination));
    q.addBindValue(text(destination));
    q.addBindValue(std::max(limit, 0));
    if (!q.exec())
        return out;
    while (q.next())
        out.push_back(readRow(q));
    std::reverse(out.begin(), out.end());
    return out;
}

std::optional<JournalEntry> Journal::lastTake(const QString &line, int16_t address, int output) const
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("SELECT ") + kColumns
        + QStringLiteral(" FROM journal WHERE kind = 'take' AND line = ? AND controller = ? AND output = ? "
                         "AND state IN ('acknowledged', 'confirmed') ORDER BY id DESC LIMIT 1"));
    q.addBindValue(text(line));
    q.addBindValue(int(address));
    q.addBindValue(output);
    if (!q.exec() || !q.next())
        return std::nullopt;
    return readRow(q);
}

int Journal::prune()
{
    m_addsSincePrune = 0;
    int removed = 0;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (m_limits.maxAgeDays > 0) {
        q.prepare(QStringLiteral("DELETE FROM journal WHERE queued_at < ?"));
        q.addBindValue(qint64(wallNow() - m_limits.maxAgeDays * 86400000LL));
        if (q.exec())
            removed += q.numRowsAffected();
    }
    if (m_limits.maxEntries > 0) {
        q.prepare(QStringLiteral("DELETE FROM journal WHERE id <= (SELECT MAX(id) FROM journal) - ?"));
        q.addBindValue(qint64(m_limits.maxEntries));
        if (q.exec())
            removed += q.numRowsAffected();
    }
    return removed;
}

} // namespace exel::hub
