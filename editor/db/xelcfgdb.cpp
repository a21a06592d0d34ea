// XelCfgDb: connection, schema, transactions, queries and look-ups.
#include "xelcfgdb.h"

#include "dialogs.h"
#include "programfolder.h"
#include "xelcfgdb_bulk.h"

#include <QAtomicInt>
#include <QFileInfo>
#include <QLockFile>
#include <QSqlError>
#include <QSqlRecord>

namespace exel {
namespace {

QAtomicInt g_connectionSerial;

// Schema version kept in PRAGMA user_version, so a foreign file is recognised.
constexpr int kSchemaVersion = 1;

const char *const kSchema[] = {
    "CREATE TABLE Controller ("
    " CNID INTEGER PRIMARY KEY AUTOINCREMENT,"
    " CNNAME VARCHAR(8) NOT NULL,"
    " CNADDRESS TINYINT NOT NULL CHECK (CNADDRESS BETWEEN 0 AND 255),"
    " CNNUMBERLEVELS SMALLINT NOT NULL CHECK (CNNUMBERLEVELS BETWEEN -32768 AND 32767))",
    "CREATE UNIQUE INDEX CNID ON Controller (CNID)",
    "CREATE INDEX CNNAME ON Controller (CNNAME)",
    "CREATE TABLE Lvl ("
    " LVID INTEGER PRIMARY KEY AUTOINCREMENT,"
    " LVNAME VARCHAR(8) NOT NULL,"
    " LVORDER SMALLINT NOT NULL CHECK (LVORDER BETWEEN -32768 AND 32767),"
    " LVCNID INTEGER NOT NULL,"
    " LVCNLEVELNUMBER SMALLINT NOT NULL CHECK (LVCNLEVELNUMBER BETWEEN -32768 AND 32767),"
    " LVNUMBERINS SMALLINT NOT NULL CHECK (LVNUMBERINS BETWEEN -32768 AND 32767),"
    " LVNUMBEROUTS SMALLINT NOT NULL CHECK (LVNUMBEROUTS BETWEEN -32768 AND 32767),"
    " CONSTRAINT ControllerLevs FOREIGN KEY (LVCNID) REFERENCES Controller (CNID) ON DELETE CASCADE)",
    "CREATE INDEX LVCNID ON Lvl (LVCNID)",
    "CREATE INDEX LVNAME ON Lvl (LVNAME)",
    "CREATE TABLE Grp ("
    " GPID INTEGER PRIMARY KEY AUTOINCREMENT,"
    " GPNAME VARCHAR(8) NOT NULL,"
    " GPTYPE VARCHAR(3) NOT NULL CHECK (GPTYPE IN ('SRC', 'DST')))",
    "CREATE UNIQUE INDEX GPID ON Grp (GPID)",
    "CREATE INDEX GPTYPENAME ON Grp (GPTYPE, GPNAME)",
    "CREATE TABLE GrpDfn ("
    " GDGPID INTEGER NOT NULL,"
    " GDLVID INTEGER NOT NULL,"
    " GDIONUMBER SMALLINT NOT NULL DEFAULT 0 CHECK (GDIONUMBER BETWEEN -32768 AND 32767),"
    " CONSTRAINT GrpGrpDfns FOREIGN KEY (GDGPID) REFERENCES Grp (GPID) ON DELETE CASCADE,"
    " CONSTRAINT LevGrpDfns FOREIGN KEY (GDLVID) REFERENCES Lvl (LVID) ON DELETE CASCADE)",
    "CREATE UNIQUE INDEX GrpDfnKey ON GrpDfn (GDGPID, GDLVID)",
    "CREATE INDEX GrpDfnLevel ON GrpDfn (GDLVID, GDIONUMBER)",
    "CREATE TABLE GrpSet ("
    " GSID INTEGER PRIMARY KEY AUTOINCREMENT,"
    " GSNAME VARCHAR(8) NOT NULL)",
    "CREATE INDEX GSNAME ON GrpSet (GSNAME)",
    "CREATE TABLE GrpSetDfn ("
    " GNGSID INTEGER NOT NULL,"
    " GNGPID INTEGER NOT NULL,"
    " CONSTRAINT GrpSetGrpSetDfns FOREIGN KEY (GNGSID) REFERENCES GrpSet (GSID) ON DELETE CASCADE,"
    " CONSTRAINT GrpGrpSetDfns FOREIGN KEY (GNGPID) REFERENCES Grp (GPID) ON DELETE CASCADE)",
    "CREATE UNIQUE INDEX GrpSetDfnKey ON GrpSetDfn (GNGSID, GNGPID)",
    "CREATE INDEX GrpSetDfnMember ON GrpSetDfn (GNGPID)",
};

} // namespace

XelCfgDb::XelCfgDb(Dialogs *dlg, QString path)
    : m_dialogs(dlg)
    , m_path(path.isEmpty() ? inProgramFolder(QStringLiteral("CFGDB.mdb")) : std::move(path))
    , m_connection(QStringLiteral("xelcfgdb-%1").arg(g_connectionSerial.fetchAndAddRelaxed(1)))
{
}

XelCfgDb::~XelCfgDb()
{
    m_bulk.reset();
    m_queries.clear();
    // The lock file goes last, once the connection below is closed.
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        if (db.isOpen())
            db.close();
    }
    if (QSqlDatabase::contains(m_connection))
        QSqlDatabase::removeDatabase(m_connection);
    m_lock.reset();
}

namespace {

// Who holds a lock file, in words a technician can act on.
QString lockHolderText(const QLockFile &lock, const QString &lockPath)
{
    qint64 pid = 0;
    QString host, program;
    if (!lock.getLockInfo(&pid, &host, &program))
        return QStringLiteral("another editor (lock file %1)").arg(lockPath);
    QString text = QStringLiteral("process %1").arg(pid);
    if (!program.isEmpty())
        text += QStringLiteral(" (%1)").arg(program);
    const QString user = QFileInfo(lockPath).owner();
    if (!user.isEmpty())
        text += QStringLiteral(" of user %1").arg(user);
    if (!host.isEmpty())
        text += QStringLiteral(" on host %1").arg(host);
    return text;
}

} // namespace

void XelCfgDb::setBusyTimeout(int ms)
{
    if (isOpen())
        exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(qMax(0, ms)));
}

QSqlDatabase XelCfgDb::database() const
{
    return QSqlDatabase::database(m_connection, false);
}

bool XelCfgDb::isOpen() const
{
    return database().isOpen();
}

bool XelCfgDb::Init()
{
    m_lastError.clear();
    m_holder.clear();
    if (isOpen())
        return true;
    // An in-memory database is this connection's alone: nothing to lock.
    if (!m_lock && m_path != QLatin1String(":memory:")) {
        const QString lockPath = m_path + QStringLiteral(".lock");
        auto lock = std::make_unique<QLockFile>(lockPath);
        // An editor runs for hours: only a holder that is gone makes a lock stale.
        lock->setStaleLockTime(0);
        if (!lock->tryLock(0)) {
            if (lock->error() == QLockFile::LockFailedError) {
                m_holder = lockHolderText(*lock, lockPath);
                m_lastError = QStringLiteral("%1 is in use by %2.").arg(m_path, m_holder);
            } else {
                m_lastError = QStringLiteral("%1 cannot be locked for this editor: the lock file %2 cannot be written.")
                                  .arg(m_path, lockPath);
            }
            return false;
        }
        m_lock = std::move(lock);
    }
    QSqlDatabase db = QSqlDatabase::contains(m_connection)
        ? QSqlDatabase::database(m_connection, false)
        : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    if (!db.isValid()) {
        m_lastError = QStringLiteral("The SQLite driver is not available.");
        return false;
    }
    const bool existed = QFileInfo::exists(m_path);
    db.setDatabaseName(m_path);
    if (!db.open()) {
        m_lastError = db.lastError().text();
        return false;
    }
    // Cascading deletes rely on this, and SQLite keeps it per connection.
    if (!exec(QStringLiteral("PRAGMA foreign_keys = ON")))
        return false;
    // Every record of an import runs in its own savepoint; keep their journals
    // in memory rather than in temporary files.
    exec(QStringLiteral("PRAGMA temp_store = MEMORY"));
    const int version = scalarInt(QStringLiteral("PRAGMA user_version"), {}, -1);
    const int tables = scalarInt(QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE type = 'table'"), {}, -1);
    if (version < 0 || tables < 0) {
        m_lastError = QStringLiteral("%1 is not a configuration database.").arg(m_path);
        db.close();
        return false;
    }
    if (version == 0 && tables == 0)
        return createSchema();
    if (version != kSchemaVersion) {
        m_lastError = QStringLiteral("%1 is not a configuration database of this program (schema %2).")
                          .arg(m_path)
                          .arg(version);
        m_queries.clear();
        db.close();
        return false;
    }
    Q_UNUSED(existed);
    return true;
}

bool XelCfgDb::createSchema()
{
    Transaction t(*this);
    for (const char *sql : kSchema) {
        if (!exec(QString::fromLatin1(sql)))
            return false;
    }
    if (!exec(QStringLiteral("PRAGMA user_version = %1").arg(kSchemaVersion)))
        return false;
    return t.commit();
}

bool XelCfgDb::execKept(const QString &sql)
{
    return run(prepared(sql));
}

bool XelCfgDb::exec(const QString &sql)
{
    QSqlQuery q(database());
    if (!q.exec(sql)) {
        m_lastError = q.lastError().text();
        return false;
    }
    return true;
}

QSqlQuery &XelCfgDb::prepared(const QString &sql)
{
    auto it = m_queries.find(sql);
    if (it == m_queries.end()) {
        QSqlQuery q(database());
        q.setForwardOnly(true);
        if (!q.prepare(sql))
            m_lastError = q.lastError().text();
        it = m_queries.insert(sql, q);
    }
    it->finish();
    return *it;
}

bool XelCfgDb::run(QSqlQuery &q)
{
    if (!q.exec()) {
        m_lastError = q.lastError().text();
        return false;
    }
    return true;
}

int XelCfgDb::scalarInt(const QString &sql, const QVariantList &binds, int fallback)
{
    QSqlQuery &q = prepared(sql);
    for (int i = 0; i < binds.size(); ++i)
        q.bindValue(i, binds[i]);
    if (!run(q) || !q.next())
        return fallback;
    const int v = q.value(0).toInt();
    q.finish();
    return v;
}

qint64 XelCfgDb::scalarId(const QString &sql, const QVariantList &binds)
{
    QSqlQuery &q = prepared(sql);
    for (int i = 0; i < binds.size(); ++i)
        q.bindValue(i, binds[i]);
    if (!run(q) || !q.next())
        return -1;
    const qint64 v = q.value(0).toLongLong();
    q.finish();
    return v;
}

// --- transactions

XelCfgDb::Transaction::Transaction(XelCfgDb &db)
    : m_db(db)
    , m_level(db.m_txDepth)
{
    m_open = m_level == 0 ? m_db.execKept(QStringLiteral("BEGIN"))
                          : m_db.execKept(QStringLiteral("SAVEPOINT sp%1").arg(m_level));
    if (m_open)
        ++m_db.m_txDepth;
}

XelCfgDb::Transaction::~Transaction()
{
    if (m_open)
        rollback();
}

bool XelCfgDb::Transaction::commit()
{
    if (!m_open)
        return false;
    const bool ok = m_level == 0 ? m_db.execKept(QStringLiteral("COMMIT"))
                                 : m_db.execKept(QStringLiteral("RELEASE sp%1").arg(m_level));
    if (!ok) {
        rollback();
        return false;
    }
    m_open = false;
    --m_db.m_txDepth;
    if (m_level == 0 && m_db.m_editPending) {
        m_db.m_editPending = false;
        m_db.m_unsaved = true;
    }
    return true;
}

void XelCfgDb::Transaction::rollback()
{
    if (!m_open)
        return;
    // Statements still stepping would keep the rollback from finishing.
    for (QSqlQuery &q : m_db.m_queries)
        q.finish();
    if (m_level == 0) {
        m_db.exec(QStringLiteral("ROLLBACK"));
    } else {
        m_db.exec(QStringLiteral("ROLLBACK TO sp%1").arg(m_level));
        m_db.exec(QStringLiteral("RELEASE sp%1").arg(m_level));
    }
    m_open = false;
    --m_db.m_txDepth;
    if (m_level == 0)
        m_db.m_editPending = false;
}

void XelCfgDb::noteEdit()
{
    if (m_txDepth > 0)
        m_editPending = true;
    else
        m_unsaved = true;
}

// --- uniqueness

bool XelCfgDb::nameSetNameUnique(const QString &name, qint64 excludeId)
{
    return scalarInt(QStringLiteral("SELECT COUNT(*) FROM GrpSet WHERE GSNAME = ? AND GSID <> ?"),
               { name.trimmed().toUpper(), excludeId }, 1)
        == 0;
}

bool XelCfgDb::controllerNameUnique(const QString &name)
{
    return scalarInt(
               QStringLiteral("SELECT COUNT(*) FROM Controller WHERE CNNAME = ?"), { name.trimmed().toUpper() }, 1)
        == 0;
}

bool XelCfgDb::levelNameUnique(const QString &name)
{
    return scalarInt(QStringLiteral("SELECT COUNT(*) FROM Lvl WHERE LVNAME = ?"), { name.trimmed().toUpper() }, 1) == 0;
}

bool XelCfgDb::groupNameUnique(const QString &type, const QString &name)
{
    return scalarInt(QStringLiteral("SELECT COUNT(*) FROM Grp WHERE GPTYPE = ? AND GPNAME = ?"),
               { type, name.trimmed().toUpper() }, 1)
        == 0;
}

bool XelCfgDb::controllerAddressUnique(int address)
{
    return scalarInt(QStringLiteral("SELECT COUNT(*) FROM Controller WHERE CNADDRESS = ?"), { address }, 1) == 0;
}

bool XelCfgDb::levelOffSetUnique(qint64 controllerId, int offset)
{
    return scalarInt(QStringLiteral("SELECT COUNT(*) FROM Lvl WHERE LVCNID = ? AND LVCNLEVELNUMBER = ?"),
               { controllerId, offset }, 1)
        == 0;
}

// --- counts

int XelCfgDb::NumberOfZeroControllers()
{
    return scalarInt(QStringLiteral("SELECT COUNT(*) FROM Controller WHERE CNADDRESS = 0"));
}

int XelCfgDb::numberOfLevels()
{
    return scalarInt(QStringLiteral("SELECT COUNT(*) FROM Lvl"));
}

int XelCfgDb::NumberOfGroups(const QString &type)
{
    return scalarInt(QStringLiteral("SELECT COUNT(*) FROM Grp WHERE GPTYPE = ?"), { type });
}

// --- lists

QStringList XelCfgDb::GetNameSets()
{
    QStringList out;
    QSqlQuery &q = prepared(QStringLiteral("SELECT GSNAME FROM GrpSet ORDER BY GSNAME"));
    if (run(q))
        while (q.next())
            out << q.value(0).toString();
    return out;
}

namespace {

void appendRows(QSqlQuery &q, QStringList &texts)
{
    const int columns = q.record().count();
    while (q.next()) {
        QString line;
        for (int c = 0; c < columns; ++c) {
            if (c)
                line += QLatin1Char(',');
            const QVariant v = q.value(c);
            if (!v.isNull())
                line += v.toString();
        }
        texts << line;
    }
}

} // namespace

bool XelCfgDb::GetRecordsForFile(const QString &keyword, QStringList &texts)
{
    texts.clear();
    const QString key = keyword.toUpper();
    QString sql;
    QVariantList binds;
    if (key == QLatin1String("CTL")) {
        sql = QStringLiteral("SELECT CNNAME, CNADDRESS, CNNUMBERLEVELS FROM Controller ORDER BY CNNAME, CNID");
    } else if (key == QLatin1String("LVL")) {
        sql = QStringLiteral("SELECT LVNAME, CNNAME, LVCNLEVELNUMBER, LVNUMBERINS, LVNUMBEROUTS "
                             "FROM Lvl LEFT JOIN Controller ON Lvl.LVCNID = Controller.CNID ORDER BY LVORDER, LVID");
    } else if (key == QLatin1String("SRC") || key == QLatin1String("DST")) {
        if (numberOfLevels() > 0)
            sql = QStringLiteral("SELECT GPNAME, LVNAME, GDIONUMBER FROM Grp, GrpDfn, Lvl "
                                 "WHERE Grp.GPID = GrpDfn.GDGPID AND GrpDfn.GDLVID = Lvl.LVID AND GPTYPE = ? "
                                 "ORDER BY GPNAME, LVORDER, LVID");
        else
            sql = QStringLiteral("SELECT GPNAME, ', ' FROM Grp WHERE GPTYPE = ? ORDER BY GPNAME, GPID");
        binds << key;
    } else if (key == QLatin1String("SNS")) {
        return GetGroupSetsForFile(QStringLiteral("SRC"), texts);
    } else if (key == QLatin1String("SND")) {
        return GetGroupSetsForFile(QStringLiteral("DST"), texts);
    } else {
        return false;
    }
    QSqlQuery &q = prepared(sql);
    for (int i = 0; i < binds.size(); ++i)
        q.bindValue(i, binds[i]);
    if (!run(q))
        return false;
    appendRows(q, texts);
    return !texts.isEmpty();
}

bool XelCfgDb::GetGroupSetsForFile(const QString &type, QStringList &texts)
{
    texts.clear();
    QSqlQuery *q;
    if (NumberOfGroups(type) > 0) {
        q = &prepared(QStringLiteral("SELECT GSNAME, GPNAME FROM GrpSet, GrpSetDfn, Grp "
                                     "WHERE GrpSet.GSID = GrpSetDfn.GNGSID AND GrpSetDfn.GNGPID = Grp.GPID "
                                     "AND GPTYPE = ? ORDER BY GSNAME, GPNAME"));
        q->bindValue(0, type);
    } else {
        q = &prepared(QStringLiteral("SELECT GSNAME, '' FROM GrpSet ORDER BY GSNAME, GSID"));
    }
    if (!run(*q))
        return false;
    appendRows(*q, texts);
    return !texts.isEmpty();
}

// --- grid query texts

QString XelCfgDb::CntrlGridEntries() const
{
    return QStringLiteral("SELECT 'False' AS [Changed], '' AS [Delete], CNID, "
                          "'False' AS [Delete Flag],"
                          "CNNAME AS [Controller], CNADDRESS AS [Controller Address],"
                          "CNNUMBERLEVELS AS [Number of Levels] "
                          "from Controller Order by CNNAME");
}

QString XelCfgDb::LevelGridEntries() const
{
    return QStringLiteral("SELECT 'False' AS [Changed], '' AS [Delete], LVID, "
                          "'False' AS [Delete Flag],"
                          "LVCNID, LVNAME AS [Level          ],"
                          "LVORDER AS [Number], "
                          "CNNAME AS [Controller          ], "
                          "LVCNLEVELNUMBER AS [Level Offset], "
                          "LVNUMBERINS AS [# of Inputs], LVNUMBEROUTS AS [# of Outputs] "
                          "from Lvl, Controller "
                          "Where Lvl.LVCNID = Controller.CNID "
                          "ORDER by LVORDER");
}

QString XelCfgDb::GrpSetListGridEntries() const
{
    // A blank is needed before "from" for SQLite to tell the alias from the keyword.
    return QStringLiteral("SELECT 'False' AS [Changed], '' AS [Delete], GSID, "
                          "'False' AS [Delete Flag],"
                          "GSNAME AS [Name Set] "
                          "from GrpSet Order by GSNAME");
}

namespace {
QString typeWord(const QString &type)
{
    return type == QLatin1String("DST") ? QStringLiteral("Destination") : QStringLiteral("Source");
}
QString sqlText(const QString &text)
{
    return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QLatin1String("''")) + QLatin1Char('\'');
}
// A column alias made from a name the user typed. Names may hold any character
// but a comma, so "]" or a quote must not end the alias early.
QString sqlAlias(const QString &name)
{
    return QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
}
} // namespace

QString XelCfgDb::GrpGridEntries(const QString &type)
{
    QString sql = QStringLiteral("SELECT 'False' AS [Changed], '' AS [Delete], GPID, "
                                 "'False' AS [Delete Flag],"
                                 "GPNAME AS [%1]")
                      .arg(typeWord(type));
    for (const LevelInfo &l : Levels())
        sql += QStringLiteral(", (SELECT GDIONUMBER FROM GrpDfn WHERE GDGPID = GPID AND GDLVID = %1) AS %2")
                   .arg(l.id)
                   .arg(sqlAlias(l.name));
    sql += QStringLiteral(" from Grp Where GPTYPE = %1 Order by GPNAME").arg(sqlText(type));
    return sql;
}

QString XelCfgDb::GrpSetGridEntries(const QString &type) const
{
    return QStringLiteral("SELECT GPID, GPNAME AS [%1] from Grp Where GPTYPE = %2 Order by GPNAME")
        .arg(typeWord(type) + QLatin1Char('s'), sqlText(type));
}

QString XelCfgDb::GrpSetDfnSQL(qint64 setId) const
{
    return QStringLiteral("SELECT GPID, GPTYPE AS [Type], GPNAME AS [Member] from GrpSetDfn, Grp "
                          "Where GrpSetDfn.GNGPID = Grp.GPID AND GNGSID = %1 Order by GPTYPE DESC, GPNAME")
        .arg(setId);
}

QString XelCfgDb::GroupArrayEntries(const QString &type) const
{
    return QStringLiteral("SELECT GPID, GPNAME, GDLVID, GDIONUMBER from Grp, GrpDfn, Lvl "
                          "Where Grp.GPID = GrpDfn.GDGPID AND GrpDfn.GDLVID = Lvl.LVID AND GPTYPE = %1 "
                          "Order by GPNAME, LVORDER")
        .arg(sqlText(type));
}

QString XelCfgDb::GroupFormatString(const QString &type)
{
    QStringList captions { typeWord(type) };
    for (const LevelInfo &l : Levels())
        captions << l.name;
    return captions.join(QLatin1Char('|'));
}

// --- look-ups

QStringList XelCfgDb::ControllerLevels(qint64 controllerId)
{
    QStringList out;
    QSqlQuery &q = prepared(QStringLiteral("SELECT LVNAME FROM Lvl WHERE LVCNID = ? ORDER BY LVORDER"));
    q.bindValue(0, controllerId);
    if (run(q))
        while (q.next())
            out << q.value(0).toString();
    return out;
}

QStringList XelCfgDb::Controllers()
{
    QStringList out;
    QSqlQuery &q = prepared(QStringLiteral("SELECT CNNAME FROM Controller ORDER BY CNNAME"));
    if (run(q))
        while (q.next())
            out << q.value(0).toString();
    return out;
}

QList<LevelInfo> XelCfgDb::Levels()
{
    QList<LevelInfo> out;
    QSqlQuery &q = prepared(
        QStringLiteral("SELECT LVID, LVNAME, LVORDER, LVCNID, CNNAME, LVCNLEVELNUMBER, LVNUMBERINS, LVNUMBEROUTS "
                       "FROM Lvl LEFT JOIN Controller ON Lvl.LVCNID = Controller.CNID ORDER BY LVORDER, LVID"));
    if (run(q))
        while (q.next())
            out.append(
                LevelInfo { q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toInt(), q.value(3).toLongLong(),
                    q.value(4).toString(), q.value(5).toInt(), q.value(6).toInt(), q.value(7).toInt() });
    return out;
}

QList<GroupInfo> XelCfgDb::Groups(const QString &type)
{
    const QList<LevelInfo> levels = Levels();
    QHash<qint64, int> column;
    for (int i = 0; i < levels.size(); ++i)
        column.insert(levels[i].id, i);
    QList<GroupInfo> out;
    QHash<qint64, int> row;
    {
        QSqlQuery &q = prepared(QStringLiteral("SELECT GPID, GPNAME FROM Grp WHERE GPTYPE = ? ORDER BY GPNAME, GPID"));
        q.bindValue(0, type);
        if (run(q))
            while (q.next()) {
                row.insert(q.value(0).toLongLong(), int(out.size()));
                out.append(GroupInfo { q.value(0).toLongLong(), q.value(1).toString(), QList<int>(levels.size(), 0) });
            }
    }
    QSqlQuery &q = prepared(QStringLiteral(
        "SELECT GDGPID, GDLVID, GDIONUMBER FROM GrpDfn, Grp WHERE GrpDfn.GDGPID = Grp.GPID AND GPTYPE = ?"));
    q.bindValue(0, type);
    if (run(q))
        while (q.next()) {
            const auto r = row.constFind(q.value(0).toLongLong());
            const auto c = column.constFind(q.value(1).toLongLong());
            if (r != row.constEnd() && c != column.constEnd())
                out[*r].numbers[*c] = q.value(2).toInt();
        }
    return out;
}

QString XelCfgDb::ControllerID(const QString &name)
{
    const qint64 id
        = scalarId(QStringLiteral("SELECT CNID FROM Controller WHERE CNNAME = ?"), { name.trimmed().toUpper() });
    return id < 0 ? QString() : QString::number(id);
}

qint64 XelCfgDb::nameSetID(const QString &name)
{
    return scalarId(QStringLiteral("SELECT GSID FROM GrpSet WHERE GSNAME = ?"), { name.trimmed().toUpper() });
}

QString XelCfgDb::nameSetName(qint64 id)
{
    QSqlQuery &q = prepared(QStringLiteral("SELECT GSNAME FROM GrpSet WHERE GSID = ?"));
    q.bindValue(0, id);
    if (!run(q) || !q.next())
        return QString();
    const QString name = q.value(0).toString();
    q.finish();
    return name;
}

qint64 XelCfgDb::levelId(const QString &name)
{
    return scalarId(QStringLiteral("SELECT LVID FROM Lvl WHERE LVNAME = ?"), { name.trimmed().toUpper() });
}

qint64 XelCfgDb::grpId(const QString &type, const QString &name)
{
    return scalarId(
        QStringLiteral("SELECT GPID FROM Grp WHERE GPTYPE = ? AND GPNAME = ?"), { type, name.trimmed().toUpper() });
}

int XelCfgDb::ControllerNumberLevels(qint64 controllerId)
{
    return scalarInt(QStringLiteral("SELECT CNNUMBERLEVELS FROM Controller WHERE CNID = ?"), { controllerId }, -1);
}

QStringList XelCfgDb::nameSetMembers(qint64 setId, const QString &type)
{
    QStringList out;
    QSqlQuery &q = prepared(QStringLiteral("SELECT GPNAME FROM GrpSetDfn, Grp WHERE GrpSetDfn.GNGPID = Grp.GPID "
                                           "AND GNGSID = ? AND GPTYPE = ? ORDER BY GPNAME"));
    q.bindValue(0, setId);
    q.bindValue(1, type);
    if (run(q))
        while (q.next())
            out << q.value(0).toString();
    return out;
}

// --- range tests

namespace {
bool inRange(int number, int count, QString &range)
{
    if (number == 0)
        return true;
    if (number < 0 || count < 0)
        return false;
    range = QStringLiteral("0 to ") + QString::number(count);
    return number <= count;
}
} // namespace

bool XelCfgDb::InputInLevelRange(const QString &levelName, int number, QString &range)
{
    range = QStringLiteral("0 to 0");
    const int count = scalarInt(
        QStringLiteral("SELECT LVNUMBERINS FROM Lvl WHERE LVNAME = ?"), { levelName.trimmed().toUpper() }, -1);
    return inRange(number, count, range);
}

bool XelCfgDb::OutputInLevelRange(const QString &levelName, int number, QString &range)
{
    range = QStringLiteral("0 to 0");
    const int count = scalarInt(
        QStringLiteral("SELECT LVNUMBEROUTS FROM Lvl WHERE LVNAME = ?"), { levelName.trimmed().toUpper() }, -1);
    return inRange(number, count, range);
}

bool XelCfgDb::OutputUniqueForLevel(qint64 levelId, int number, qint64 excludeGrpId)
{
    if (number == 0)
        return true;
    if (m_groupImport && excludeGrpId < 0)
        return !m_importOutputs.value(levelId).contains(number);
    return scalarInt(QStringLiteral("SELECT COUNT(*) FROM GrpDfn, Grp WHERE GrpDfn.GDGPID = Grp.GPID "
                                    "AND GPTYPE = 'DST' AND GDLVID = ? AND GDIONUMBER = ? AND GDGPID <> ?"),
               { levelId, number, excludeGrpId }, 1)
        == 0;
}

} // namespace exel

namespace exel {

// --- bulk import of groups

XelCfgDb::GroupImport::GroupImport(XelCfgDb &db)
    : m_db(db)
{
    m_db.m_importLevels = m_db.Levels();
    m_db.m_importOutputs.clear();
    QSqlQuery &q = m_db.prepared(QStringLiteral("SELECT GDLVID, GDIONUMBER FROM GrpDfn, Grp WHERE GrpDfn.GDGPID = "
                                                "Grp.GPID AND GPTYPE = 'DST' AND GDIONUMBER <> 0"));
    if (m_db.run(q))
        while (q.next())
            m_db.m_importOutputs[q.value(0).toLongLong()].insert(q.value(1).toInt());
    q.finish();
    m_db.m_groupImport = true;
    // Without the handle the records take the usual way, only slower.
    m_db.startBulk();
}

XelCfgDb::GroupImport::~GroupImport()
{
    m_db.endBulk();
    m_db.m_groupImport = false;
    m_db.m_importLevels.clear();
    m_db.m_importOutputs.clear();
}

// --- rebuilds

XelCfgDb::Rebuild::Rebuild(XelCfgDb &db)
    : m_db(db)
{
    if (m_db.m_txDepth == 0 && m_db.isOpen())
        m_off = m_db.exec(QStringLiteral("PRAGMA foreign_keys = OFF"));
}

XelCfgDb::Rebuild::~Rebuild()
{
    if (m_off)
        m_db.exec(QStringLiteral("PRAGMA foreign_keys = ON"));
}

} // namespace exel
