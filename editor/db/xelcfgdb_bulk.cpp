// XelCfgDb: the group phase of an import — sources, destinations and name
// sets written through statements kept prepared on the connection's own
// SQLite handle, with the look-ups the record rules need kept in memory.
#include "xelcfgdb_bulk.h"

#include <QSqlDriver>

namespace exel {

namespace {

// Runs a statement that returns no rows with the values bound.
template <class... Values> bool step(sqlite3_stmt *s, Values... values)
{
    int i = 0;
    (sqlite3_bind_int64(s, ++i, sqlite3_int64(values)), ...);
    const int rc = sqlite3_step(s);
    sqlite3_reset(s);
    return rc == SQLITE_DONE;
}

bool stepText(sqlite3_stmt *s, const QString &text1, const QString &text2 = QString())
{
    // Names are upper-cased text of the file: UTF-16 as Qt holds it.
    sqlite3_bind_text16(s, 1, text1.utf16(), int(text1.size() * 2), SQLITE_STATIC);
    if (sqlite3_bind_parameter_count(s) > 1)
        sqlite3_bind_text16(s, 2, text2.utf16(), int(text2.size() * 2), SQLITE_STATIC);
    const int rc = sqlite3_step(s);
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
    return rc == SQLITE_DONE;
}

} // namespace

bool XelCfgDb::startBulk()
{
    const QVariant v = database().driver()->handle();
    if (!v.isValid() || qstrcmp(v.typeName(), "sqlite3*") != 0)
        return false;
    auto bulk = std::make_unique<BulkStatements>();
    bulk->handle = *static_cast<sqlite3 *const *>(v.constData());
    if (!bulk->handle)
        return false;
    if (!bulk->prepare(bulk->insertGrp, "INSERT INTO Grp (GPNAME, GPTYPE) VALUES (?, ?)")
        || !bulk->prepare(bulk->insertGrpDfn, "INSERT INTO GrpDfn (GDGPID, GDLVID, GDIONUMBER) VALUES (?, ?, ?)")
        || !bulk->prepare(bulk->insertGrpSet, "INSERT INTO GrpSet (GSNAME) VALUES (?)")
        || !bulk->prepare(bulk->insertMember, "INSERT OR IGNORE INTO GrpSetDfn (GNGSID, GNGPID) VALUES (?, ?)")
        || !bulk->prepare(bulk->deleteGrp, "DELETE FROM Grp WHERE GPID = ?")
        || !bulk->prepare(bulk->deleteGrpDfn, "DELETE FROM GrpDfn WHERE GDGPID = ?")
        || !bulk->prepare(bulk->deleteGrpSet, "DELETE FROM GrpSet WHERE GSID = ?")
        || !bulk->prepare(bulk->deleteMember, "DELETE FROM GrpSetDfn WHERE GNGSID = ? AND GNGPID = ?"))
        return false;
    // The rows already there (none after ReinitDatabase), so that the
    // uniqueness rules see them as they would in the database.
    {
        QSqlQuery &q = prepared(QStringLiteral("SELECT GPID, GPTYPE, GPNAME FROM Grp"));
        if (!run(q))
            return false;
        while (q.next())
            bulk->groups(q.value(1).toString()).insert(q.value(2).toString(), q.value(0).toLongLong());
        q.finish();
    }
    QSqlQuery &q = prepared(QStringLiteral("SELECT GSID, GSNAME FROM GrpSet"));
    if (!run(q))
        return false;
    while (q.next())
        bulk->sets.insert(q.value(1).toString(), q.value(0).toLongLong());
    q.finish();
    m_bulk = std::move(bulk);
    return true;
}

void XelCfgDb::endBulk()
{
    m_bulk.reset();
}

bool XelCfgDb::bulkGroupNameUnique(const QString &type, const QString &name) const
{
    return !m_bulk->groups(type).contains(name);
}

// The record's rows go in together; when one fails, those already written
// are taken out again, so the record leaves nothing behind without a
// savepoint of its own (each savepoint copies every page the record touches).
bool XelCfgDb::bulkInsertGroup(const QString &type, const QString &name, const QList<int> &numbers)
{
    BulkStatements &b = *m_bulk;
    if (!stepText(b.insertGrp, name, type)) {
        m_lastError = QString::fromUtf8(sqlite3_errmsg(b.handle));
        return false;
    }
    const qint64 id = sqlite3_last_insert_rowid(b.handle);
    for (int i = 0; i < m_importLevels.size(); ++i) {
        if (!step(b.insertGrpDfn, id, m_importLevels[i].id, numbers[i])) {
            m_lastError = QString::fromUtf8(sqlite3_errmsg(b.handle));
            step(b.deleteGrpDfn, id);
            step(b.deleteGrp, id);
            return false;
        }
    }
    b.groups(type).insert(name, id);
    return true;
}

qint64 XelCfgDb::bulkGroupId(const QString &type, const QString &name) const
{
    return m_bulk->groups(type).value(name, -1);
}

bool XelCfgDb::bulkAddNameSet(const QString &name, const QList<qint64> &members)
{
    BulkStatements &b = *m_bulk;
    qint64 setId = b.sets.value(name, -1);
    const bool fresh = setId < 0;
    if (fresh) {
        if (!stepText(b.insertGrpSet, name)) {
            m_lastError = QString::fromUtf8(sqlite3_errmsg(b.handle));
            return false;
        }
        setId = sqlite3_last_insert_rowid(b.handle);
    }
    // A member already in the set stays once; only those this record added
    // are taken out when a later one fails.
    QList<qint64> added;
    for (qint64 member : members) {
        if (!step(b.insertMember, setId, member)) {
            m_lastError = QString::fromUtf8(sqlite3_errmsg(b.handle));
            for (qint64 m : added)
                step(b.deleteMember, setId, m);
            if (fresh)
                step(b.deleteGrpSet, setId);
            return false;
        }
        if (sqlite3_changes(b.handle) > 0)
            added << member;
    }
    if (fresh)
        b.sets.insert(name, setId);
    return true;
}

} // namespace exel
