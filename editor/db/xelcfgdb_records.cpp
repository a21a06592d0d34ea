// XelCfgDb: the record rules and inserts behind AddRecordFromFile, and the
// built-in default database.
#include "xelcfgdb.h"

#include "numberrules.h"

#include <optional>

namespace exel {

using namespace XelCfgUtilities;

namespace {

QString field(const QStringList &f, int i)
{
    return i < f.size() ? f[i].trimmed() : QString();
}

} // namespace

bool XelCfgDb::ReinitDatabase()
{
    Transaction t(*this);
    for (const char *sql : { "DELETE FROM grpsetdfn", "DELETE FROM grpset", "DELETE FROM grpdfn", "DELETE FROM grp",
             "DELETE FROM lvl", "DELETE FROM controller" }) {
        if (!exec(QString::fromLatin1(sql)))
            return false;
    }
    return t.commit();
}

bool XelCfgDb::AddRecordFromFile(const QString &keyword, const QStringList &fields, QString &message)
{
    message.clear();
    const QString key = keyword.trimmed().toUpper();
    // Each record goes in whole or not at all, also inside a bulk import. The
    // bulk group phase takes out what a failed record wrote itself: a
    // savepoint per record would copy every page each record touches.
    const bool bulk = m_bulk && key != QLatin1String("CTL") && key != QLatin1String("LVL");
    std::optional<Transaction> t;
    if (!bulk)
        t.emplace(*this);
    bool ok;
    if (key == QLatin1String("CTL"))
        ok = addController(fields, message);
    else if (key == QLatin1String("LVL"))
        ok = addLevel(fields, message);
    else if (key == QLatin1String("SRC") || key == QLatin1String("DST"))
        ok = addGroup(key, fields, message);
    else if (key == QLatin1String("SNS"))
        ok = addNameSet(QStringLiteral("SRC"), fields, message);
    else if (key == QLatin1String("SND"))
        ok = addNameSet(QStringLiteral("DST"), fields, message);
    else
        return false;
    if (!ok)
        return false;
    if (t && !t->commit()) {
        message = QStringLiteral("Database Error: ") + m_lastError;
        return false;
    }
    return true;
}

bool XelCfgDb::addController(const QStringList &f, QString &message)
{
    QString name = field(f, 0).toUpper();
    const QString address = field(f, 1);
    const QString levels = field(f, 2);
    if (RuleResult r = CheckName(name); !r) {
        message = QStringLiteral("Controller, ") + name + QLatin1Char(':') + r.message;
        return false;
    }
    if (!controllerNameUnique(name)) {
        message = QStringLiteral("Controller Name, ") + name + QStringLiteral(", is not Unique.");
        return false;
    }
    if (RuleResult r = CheckAddress(address); !r) {
        message = QStringLiteral("Controller Address, ") + address + QLatin1Char(':') + r.message;
        return false;
    }
    const int addressValue = int(numericValue(address));
    if (!controllerAddressUnique(addressValue)) {
        message = QStringLiteral("Controller Address, ") + address + QStringLiteral(", is not Unique.");
        return false;
    }
    if (NumberOfZeroControllers() > 0) {
        message = QStringLiteral("The database contains a controller with an ") + QStringLiteral("address of 0.")
            + QLatin1Char('\n') + QStringLiteral("This indicates a single drop controller.") + QLatin1Char('\n')
            + QStringLiteral("Only one controller is allowed in this case.");
        return false;
    }
    if (!CheckCount(levels)) {
        message = QStringLiteral("Number of levels, ") + levels + QStringLiteral(", for Controller, ") + name
            + QStringLiteral(", is not valid.");
        return false;
    }
    QSqlQuery &q
        = prepared(QStringLiteral("INSERT INTO Controller (CNNAME, CNADDRESS, CNNUMBERLEVELS) VALUES (?, ?, ?)"));
    q.bindValue(0, name);
    q.bindValue(1, addressValue);
    q.bindValue(2, int(numericValue(levels)));
    if (!run(q)) {
        message = QStringLiteral("Controller could not be added to database.");
        return false;
    }
    return true;
}

bool XelCfgDb::insertLevelRow(
    const QString &name, qint64 controllerId, int order, int offset, int ins, int outs, qint64 &newId)
{
    QSqlQuery &q = prepared(QStringLiteral("INSERT INTO Lvl (LVNAME, LVORDER, LVCNID, LVCNLEVELNUMBER, LVNUMBERINS, "
                                           "LVNUMBEROUTS) VALUES (?, ?, ?, ?, ?, ?)"));
    q.bindValue(0, name);
    q.bindValue(1, order);
    q.bindValue(2, controllerId);
    q.bindValue(3, offset);
    q.bindValue(4, ins);
    q.bindValue(5, outs);
    if (!run(q))
        return false;
    newId = q.lastInsertId().toLongLong();
    // Every source and destination has one number per level: 0 on a new level.
    return exec(QStringLiteral("INSERT INTO grpdfn ") + QStringLiteral("SELECT GPID AS GDGPID,")
        + QString::number(newId) + QStringLiteral(" AS GDLVID,") + QStringLiteral("0 AS GDIONUMBER ")
        + QStringLiteral("FROM grp"));
}

bool XelCfgDb::addLevel(const QStringList &f, QString &message)
{
    QString name = field(f, 0).toUpper();
    const QString controller = field(f, 1).toUpper();
    const QString offset = field(f, 2);
    const QString ins = field(f, 3);
    const QString outs = field(f, 4);
    if (RuleResult r = CheckName(name); !r) {
        message = QStringLiteral("Level, ") + name + QLatin1Char(':') + r.message;
        return false;
    }
    if (!levelNameUnique(name)) {
        message = QStringLiteral("Level Name, ") + name + QStringLiteral(", is not Unique.");
        return false;
    }
    const QString controllerId = ControllerID(controller);
    if (controllerId.isEmpty()) {
        message = QStringLiteral("Controller, ") + controller + QStringLiteral(", for Level, ") + name
            + QStringLiteral(", is not valid.");
        return false;
    }
    const QString head = QStringLiteral("Level: ") + name + QStringLiteral(", Controller Level Offset, ") + offset;
    if (!CheckCount(offset)) {
        message = head + QStringLiteral(", is out of range.");
        return false;
    }
    const int offsetValue = int(numericValue(offset));
    if (offsetValue > ControllerNumberLevels(controllerId.toLongLong())) {
        message = head + QStringLiteral(" is not in range for that controller.");
        return false;
    }
    if (!levelOffSetUnique(controllerId.toLongLong(), offsetValue)) {
        message = head + QStringLiteral(", is not unique for that controller.");
        return false;
    }
    if (!CheckCount(ins)) {
        message = QStringLiteral("Invalid number of inputs for level, ") + name;
        return false;
    }
    if (!CheckCount(outs)) {
        message = QStringLiteral("Invalid number of outputs for level, ") + name;
        return false;
    }
    const int order = numberOfLevels() + 1;
    if (order > kInt16Max) {
        message = QStringLiteral("Level could not be added to database.");
        return false;
    }
    qint64 id = -1;
    if (!insertLevelRow(
            name, controllerId.toLongLong(), order, offsetValue, int(numericValue(ins)), int(numericValue(outs)), id)) {
        message = QStringLiteral("Level could not be added to database.");
        return false;
    }
    return true;
}

bool XelCfgDb::addGroup(const QString &type, const QStringList &f, QString &message)
{
    const bool source = type == QLatin1String("SRC");
    const QString typeWord = source ? QStringLiteral("Source") : QStringLiteral("Destination");
    const QString numberWord = source ? QStringLiteral("Input") : QStringLiteral("Output");
    QString name = field(f, 0).toUpper();
    if (RuleResult r = CheckName(name); !r) {
        message = typeWord + QLatin1Char(':') + name + QStringLiteral(" is not valid.  Error:") + r.message;
        return false;
    }
    if (m_bulk ? !bulkGroupNameUnique(type, name) : !groupNameUnique(type, name)) {
        message = typeWord + QStringLiteral(" Name, ") + name + QStringLiteral(", is not Unique.");
        return false;
    }
    const QList<LevelInfo> levels = m_groupImport ? m_importLevels : Levels();
    const QStringList given = f.mid(1);
    if (!given.isEmpty() && levels.isEmpty()) {
        message = QStringLiteral("Level Definitions exist for ") + typeWord + QLatin1Char(':') + name
            + QStringLiteral(", but no levels exist.");
        return false;
    }
    QList<int> numbers(levels.size(), 0);
    for (int i = 0; i < levels.size() && i < given.size(); ++i) {
        const QString text = given[i].trimmed();
        const double value = roundHalfEven(leadingNumeric(text));
        const int count = source ? levels[i].inputs : levels[i].outputs;
        if (value < 0 || value > count) {
            message = typeWord + QLatin1Char(':') + name + QStringLiteral(", ") + numberWord + QLatin1Char(' ') + text
                + QLatin1Char(',') + QStringLiteral("on ") + levels[i].name
                + QStringLiteral(" level is not in level range:") + QStringLiteral("0 to ") + QString::number(count);
            return false;
        }
        numbers[i] = int(value);
        if (!source && !OutputUniqueForLevel(levels[i].id, numbers[i])) {
            message = QStringLiteral("Destination: ") + name + QStringLiteral(", Output for ") + levels[i].name
                + QStringLiteral(" level is not unique.");
            return false;
        }
    }
    const QString failed = typeWord + QStringLiteral(" could not be added to database.");
    if (m_bulk) {
        if (!bulkInsertGroup(type, name, numbers)) {
            message = failed;
            return false;
        }
    } else if (!insertGroupRows(type, name, levels, numbers)) {
        message = failed;
        return false;
    }
    if (m_groupImport && !source)
        for (int i = 0; i < levels.size(); ++i)
            if (numbers[i] != 0)
                m_importOutputs[levels[i].id].insert(numbers[i]);
    return true;
}

bool XelCfgDb::insertGroupRows(
    const QString &type, const QString &name, const QList<LevelInfo> &levels, const QList<int> &numbers)
{
    QSqlQuery &q = prepared(QStringLiteral("INSERT INTO Grp (GPNAME, GPTYPE) VALUES (?, ?)"));
    q.bindValue(0, name);
    q.bindValue(1, type);
    if (!run(q))
        return false;
    const qint64 id = q.lastInsertId().toLongLong();
    QSqlQuery &d = prepared(QStringLiteral("INSERT INTO GrpDfn (GDGPID, GDLVID, GDIONUMBER) VALUES (?, ?, ?)"));
    for (int i = 0; i < levels.size(); ++i) {
        d.bindValue(0, id);
        d.bindValue(1, levels[i].id);
        d.bindValue(2, numbers[i]);
        if (!run(d))
            return false;
    }
    return true;
}

bool XelCfgDb::addNameSet(const QString &type, const QStringList &f, QString &message)
{
    QString name = field(f, 0).toUpper();
    if (RuleResult r = CheckName(name); !r) {
        message = QStringLiteral("NameSet, ") + name + QLatin1Char(':') + r.message;
        return false;
    }
    const QString typeWord = type == QLatin1String("SRC") ? QStringLiteral("Source") : QStringLiteral("Destination");
    if (m_bulk)
        return bulkNameSet(type, typeWord, name, f, message);
    qint64 setId = nameSetID(name);
    if (setId < 0) {
        QSqlQuery &q = prepared(QStringLiteral("INSERT INTO GrpSet (GSNAME) VALUES (?)"));
        q.bindValue(0, name);
        if (!run(q)) {
            message = QStringLiteral("Name set, ") + name + QStringLiteral(", could not be added.");
            return false;
        }
        setId = q.lastInsertId().toLongLong();
    }
    QList<qint64> members;
    for (int i = 1; i < f.size(); ++i) {
        const QString member = f[i].trimmed().toUpper();
        if (member.isEmpty())
            break; // the member list ends at its first empty entry
        const qint64 id = grpId(type, member);
        if (id < 0) {
            message = QStringLiteral("Nameset:") + name + QStringLiteral(", ") + typeWord + QLatin1Char(':') + member
                + QStringLiteral(" could not be added.");
            return false;
        }
        members << id;
    }
    if (!members.isEmpty() && !UpdateGrpSetDfnTable(QStringLiteral("Add"), setId, members)) {
        message = QStringLiteral("Name set, ") + name + QStringLiteral(", could not be added.");
        return false;
    }
    return true;
}

bool XelCfgDb::bulkNameSet(
    const QString &type, const QString &typeWord, const QString &name, const QStringList &f, QString &message)
{
    // The members are checked before anything is written, as the usual way
    // does, and the set is only made once they are known.
    QList<qint64> members;
    for (int i = 1; i < f.size(); ++i) {
        const QString member = f[i].trimmed().toUpper();
        if (member.isEmpty())
            break;
        const qint64 id = bulkGroupId(type, member);
        if (id < 0) {
            message = QStringLiteral("Nameset:") + name + QStringLiteral(", ") + typeWord + QLatin1Char(':') + member
                + QStringLiteral(" could not be added.");
            return false;
        }
        members << id;
    }
    if (!bulkAddNameSet(name, members)) {
        message = QStringLiteral("Name set, ") + name + QStringLiteral(", could not be added.");
        return false;
    }
    return true;
}

bool XelCfgDb::LoadDefaultDatabase()
{
    Rebuild rebuild(*this);
    Transaction t(*this);
    if (!ReinitDatabase())
        return false;
    QString message;
    bool ok = AddRecordFromFile(
        QStringLiteral("CTL"), { QStringLiteral("CNTRL1"), QStringLiteral("0"), QStringLiteral("4") }, message);
    for (int l = 1; ok && l <= 4; ++l)
        ok = AddRecordFromFile(QStringLiteral("LVL"),
            { QStringLiteral("LEVEL%1").arg(l), QStringLiteral("CNTRL1"), QString::number(l), QStringLiteral("16"),
                QStringLiteral("16") },
            message);
    QStringList sources { QStringLiteral("ALL") }, dests { QStringLiteral("ALL") };
    for (int n = 1; ok && n <= 16; ++n) {
        const QString num = QString::number(n);
        ok = AddRecordFromFile(QStringLiteral("SRC"), { QStringLiteral("SOURCE") + num, num, num, num, num }, message)
            && AddRecordFromFile(QStringLiteral("DST"), { QStringLiteral("DEST") + num, num, num, num, num }, message);
        sources << QStringLiteral("SOURCE") + num;
        dests << QStringLiteral("DEST") + num;
    }
    ok = ok && AddRecordFromFile(QStringLiteral("SNS"), sources, message)
        && AddRecordFromFile(QStringLiteral("SND"), dests, message);
    if (!ok || !t.commit()) {
        if (message.isEmpty())
            message = m_lastError;
        m_lastError = message;
        return false;
    }
    setCurrent(QStringLiteral("<Default>"), QString());
    markSaved();
    return true;
}

} // namespace exel
