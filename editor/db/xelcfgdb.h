// XelCfgDb: the configuration editor's database (CFGDB.mdb in the program
// folder) with every query and update the editor needs.
#pragma once

#include "xelcfgutilities.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>

class QLockFile;

namespace exel {

class Dialogs;

// One level as the editor sees it, in level order.
struct LevelInfo {
    qint64 id = -1;
    QString name;
    int order = 0;
    qint64 controllerId = -1;
    QString controllerName;
    int offset = 0;
    int inputs = 0;
    int outputs = 0;
};

// One source or destination with its number on every level (level order).
struct GroupInfo {
    qint64 id = -1;
    QString name;
    QList<int> numbers;
};

class XelCfgDb {
public:
    // path empty: CFGDB.mdb in the program folder. Boxes the database shows
    // itself (table updates, missing records, level ordering) go to dlg.
    explicit XelCfgDb(Dialogs *dlg = nullptr, QString path = QString());
    ~XelCfgDb();
    XelCfgDb(const XelCfgDb &) = delete;
    XelCfgDb &operator=(const XelCfgDb &) = delete;

    // Opens the database, creating the file and its schema when missing.
    // False with lastError() when the file cannot be opened or is not ours, or
    // when another editor holds it: one editor per database, so two cannot
    // both pass the uniqueness rules with the same name. The hold is a lock
    // file beside the database ("CFGDB.mdb.lock"), released when this object
    // goes; one left by a process that died is taken over.
    bool Init();
    // After a failed Init: true when another editor holds the database, and
    // who that is ("process 123 (xelcfg) of user ann on host studio").
    bool heldElsewhere() const { return !m_holder.isEmpty(); }
    QString holder() const { return m_holder; }
    // How long a statement waits for a database another program has locked
    // before it fails (SQLite's busy time-out; 5000 ms unless set).
    void setBusyTimeout(int ms);
    bool isOpen() const;
    QString lastError() const { return m_lastError; }
    QString path() const { return m_path; }
    QSqlDatabase database() const;

    // The current configuration shown in the caption: "<Default>", "Untitled"
    // or the title of the file last loaded or saved, with its path.
    QString currentTitle() const { return m_title; }
    QString currentPath() const { return m_currentPath; }
    void setCurrent(const QString &title, const QString &path)
    {
        m_title = title;
        m_currentPath = path;
    }

    // True when grid edits were stored since the database last matched a file,
    // the built-in default or an empty configuration: work that the next start,
    // which imports the default configuration again, would throw away.
    bool hasUnsavedChanges() const { return m_unsaved; }
    // The database now matches what was loaded, saved or emptied.
    void markSaved() { m_unsaved = m_editPending = false; }

    // Uniqueness tests: true when no other row has the value.
    bool nameSetNameUnique(const QString &name, qint64 excludeId = -1);
    bool controllerNameUnique(const QString &name);
    bool levelNameUnique(const QString &name);
    bool groupNameUnique(const QString &type, const QString &name);
    bool controllerAddressUnique(int address);
    bool levelOffSetUnique(qint64 controllerId, int offset);

    // Counts.
    int NumberOfZeroControllers();
    int numberOfLevels();
    int NumberOfGroups(const QString &type);

    // Lists. The ForFile lists are the export texts of one keyword (fields
    // joined by ","); they return true when rows were found.
    QStringList GetNameSets();
    bool GetRecordsForFile(const QString &keyword, QStringList &texts);
    bool GetGroupSetsForFile(const QString &type, QStringList &texts);

    // Query texts of the main window's grids. The first four columns of the
    // editable grids are bookkeeping: Changed, Delete, the key, Delete Flag.
    QString CntrlGridEntries() const;
    QString LevelGridEntries() const;
    QString GrpSetListGridEntries() const;
    // One row per source ("SRC") or destination ("DST"), one column per level.
    QString GrpGridEntries(const QString &type);
    // Sources or destinations a member can be picked from.
    QString GrpSetGridEntries(const QString &type) const;
    // Members of one name set.
    QString GrpSetDfnSQL(qint64 setId) const;
    // Number of every group of a type on every level, by name then level order.
    QString GroupArrayEntries(const QString &type) const;
    // Column captions of the group grid, joined by "|".
    QString GroupFormatString(const QString &type);

    // Look-ups.
    QStringList ControllerLevels(qint64 controllerId);
    QStringList Controllers();
    QList<LevelInfo> Levels();
    QList<GroupInfo> Groups(const QString &type);
    QString ControllerID(const QString &name); // "" when none
    qint64 nameSetID(const QString &name); // -1 when none
    QString nameSetName(qint64 id);
    qint64 levelId(const QString &name);
    qint64 grpId(const QString &type, const QString &name);
    int ControllerNumberLevels(qint64 controllerId); // -1 when none
    QStringList nameSetMembers(qint64 setId, const QString &type);

    // Range tests for a source's input / destination's output number on a level.
    bool InputInLevelRange(const QString &levelName, int number, QString &range);
    bool OutputInLevelRange(const QString &levelName, int number, QString &range);
    // True for 0, else true when no destination (other than excludeGrpId) uses the output on the level.
    bool OutputUniqueForLevel(qint64 levelId, int number, qint64 excludeGrpId = -1);

    // Updates.
    // Statements that store a group's numbers, one per level in level order.
    QStringList BuildSQLArray(qint64 grpId, const QList<int> &numbers);
    int HighLevelOrderNumber();
    bool ValidLevelOrder();
    // Renumbers the levels 1..n keeping their present order.
    bool UpdateLevelOrdering();
    bool ReinitDatabase();

    // Grid writers: action "Add", "Edit" or "Delete"; id is the key for Edit
    // and Delete. Failures show the table's "... update was not successful." box.
    bool UpdateControllerTable(const QString &action, qint64 id, const QString &name = QString(),
        const QString &address = QString(), const QString &numberLevels = QString());
    bool UpdateLevelTable(const QString &action, qint64 id, const QString &name = QString(),
        const QString &controllerName = QString(), const QString &offset = QString(), const QString &inputs = QString(),
        const QString &outputs = QString(), const QString &order = QString());
    // numbers: one per level in level order; empty keeps the stored ones (a rename).
    bool UpdateGrpTable(const QString &action, const QString &type, qint64 id, const QString &name = QString(),
        const QList<int> &numbers = {});
    bool UpdateGrpSetTable(const QString &action, qint64 id, const QString &name = QString());
    bool UpdateGrpSetDfnTable(const QString &action, qint64 setId, const QList<qint64> &memberIds);

    // Converts text to the type of table.field (Text n, Byte, Integer, Long).
    // False with "Type Not Supported by ConvertDataType" for a field it does
    // not know, or "Overflow" / "Type mismatch" for a value that does not fit.
    bool ConvertDataType(
        const QString &table, const QString &field, const QString &text, QVariant &value, QString &message);

    // Validates and stores one record of a configuration file: CTL (name,
    // address, levels), LVL (name, controller, offset, inputs, outputs),
    // SRC/DST (name, numbers per level), SNS/SND (set name, members).
    bool AddRecordFromFile(const QString &keyword, const QStringList &fields, QString &message);

    // Empties the database and stores the built-in system; title "<Default>".
    bool LoadDefaultDatabase();

    // Nested transactions: the outermost is BEGIN/COMMIT, inner ones savepoints,
    // so a failed record rolls back alone inside a bulk import.
    class Transaction {
    public:
        explicit Transaction(XelCfgDb &db);
        ~Transaction(); // rolls back unless committed
        bool commit();
        void rollback();

    private:
        XelCfgDb &m_db;
        int m_level = 0;
        bool m_open = false;
    };

    // While a bulk import adds its sources, destinations and name sets, the
    // levels stay as they are: the level list is read once, and the outputs
    // destinations already use on each level, the names of the groups and
    // name sets and their keys are kept in memory instead of asked for per
    // record. The rows go in through statements prepared once on SQLite's own
    // handle; each record still goes in whole or not at all. Only for that
    // phase of an import, inside its transaction.
    class GroupImport {
    public:
        explicit GroupImport(XelCfgDb &db);
        ~GroupImport();
        GroupImport(const GroupImport &) = delete;
        GroupImport &operator=(const GroupImport &) = delete;

    private:
        XelCfgDb &m_db;
    };

    // While a whole configuration is rebuilt (an import, the default
    // database), foreign keys are not enforced: the rebuild empties every
    // table and makes every key itself, and with enforcement on SQLite
    // deletes the rows of a table one by one instead of clearing it. Only
    // takes effect outside a transaction (SQLite ignores the setting inside
    // one); enforcement is back on when this goes.
    class Rebuild {
    public:
        explicit Rebuild(XelCfgDb &db);
        ~Rebuild();
        Rebuild(const Rebuild &) = delete;
        Rebuild &operator=(const Rebuild &) = delete;

    private:
        XelCfgDb &m_db;
        bool m_off = false;
    };

    // Runs one statement; false (with lastError) on failure.
    bool exec(const QString &sql);

private:
    friend class Transaction;
    friend class GroupImport;
    struct BulkStatements;
    // The group phase's statements (xelcfgdb_bulk.cpp); false when the
    // driver gives no SQLite handle, and the records go the usual way.
    bool startBulk();
    void endBulk();
    bool bulkGroupNameUnique(const QString &type, const QString &name) const;
    bool bulkInsertGroup(const QString &type, const QString &name, const QList<int> &numbers);
    qint64 bulkGroupId(const QString &type, const QString &name) const;
    bool bulkAddNameSet(const QString &name, const QList<qint64> &members);
    // A statement kept prepared, run without binds (transaction control).
    bool execKept(const QString &sql);
    QSqlQuery &prepared(const QString &sql);
    bool createSchema();
    int scalarInt(const QString &sql, const QVariantList &binds = {}, int fallback = 0);
    qint64 scalarId(const QString &sql, const QVariantList &binds = {});
    bool run(QSqlQuery &q);
    bool writeRow(const QString &table, const QString &action, qint64 key, const QList<QPair<QString, QString>> &fields,
        qint64 *newId, QString &message);
    void tableUpdateFailed(const QString &table);
    bool addController(const QStringList &f, QString &message);
    bool addLevel(const QStringList &f, QString &message);
    bool addGroup(const QString &type, const QStringList &f, QString &message);
    bool addNameSet(const QString &type, const QStringList &f, QString &message);
    bool insertGroupRows(
        const QString &type, const QString &name, const QList<LevelInfo> &levels, const QList<int> &numbers);
    bool bulkNameSet(
        const QString &type, const QString &typeWord, const QString &name, const QStringList &f, QString &message);
    bool insertLevelRow(
        const QString &name, qint64 controllerId, int order, int offset, int ins, int outs, qint64 &newId);
    bool clampNumbersToLevel(qint64 levelId);
    // A grid edit was stored; inside a transaction it counts once that commits.
    void noteEdit();

    Dialogs *m_dialogs;
    QString m_path;
    QString m_connection;
    QString m_lastError;
    QString m_title = QStringLiteral("<Default>");
    QString m_currentPath;
    QHash<QString, QSqlQuery> m_queries;
    int m_txDepth = 0;
    bool m_unsaved = false;
    bool m_editPending = false;
    std::unique_ptr<QLockFile> m_lock;
    QString m_holder;
    // Set while a GroupImport lives.
    bool m_groupImport = false;
    QList<LevelInfo> m_importLevels;
    QHash<qint64, QSet<int>> m_importOutputs; // level id -> outputs in use by destinations
    std::unique_ptr<BulkStatements> m_bulk; // while a GroupImport lives, when the driver allows
};

} // namespace exel
