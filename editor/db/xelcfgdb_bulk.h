// XelCfgDb::BulkStatements: the statements of an import's group phase on
// the connection's SQLite handle (private to the database's sources).
#pragma once

#include "xelcfgdb.h"

#include <sqlite3.h>

namespace exel {

// Statements of the group phase, prepared once on the connection's handle.
// Binding through QSqlQuery costs more per value than SQLite's own insert of
// the row; a configuration of a thousand sources on sixteen levels binds
// over a hundred thousand values.
struct XelCfgDb::BulkStatements {
    sqlite3 *handle = nullptr;
    sqlite3_stmt *insertGrp = nullptr;
    sqlite3_stmt *insertGrpDfn = nullptr;
    sqlite3_stmt *insertGrpSet = nullptr;
    sqlite3_stmt *insertMember = nullptr;
    sqlite3_stmt *deleteGrp = nullptr;
    sqlite3_stmt *deleteGrpDfn = nullptr;
    sqlite3_stmt *deleteGrpSet = nullptr;
    sqlite3_stmt *deleteMember = nullptr;
    // Names in the database by kind: sources, destinations, name sets.
    QHash<QString, qint64> sources, destinations, sets;

    ~BulkStatements()
    {
        for (sqlite3_stmt *s : { insertGrp, insertGrpDfn, insertGrpSet, insertMember, deleteGrp, deleteGrpDfn,
                 deleteGrpSet, deleteMember })
            sqlite3_finalize(s);
    }

    bool prepare(sqlite3_stmt *&s, const char *sql)
    {
        return sqlite3_prepare_v2(handle, sql, -1, &s, nullptr) == SQLITE_OK;
    }

    QHash<QString, qint64> &groups(const QString &type)
    {
        return type == QLatin1String("SRC") ? sources : destinations;
    }
};

} // namespace exel
