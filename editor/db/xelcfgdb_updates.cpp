// XelCfgDb: the grid writers, type conversion and level ordering.
#include "xelcfgdb.h"

#include "dialogs.h"
#include "numberrules.h"

namespace exel {

using namespace XelCfgUtilities;

namespace {

enum class FieldType { Text, Byte, Integer, Long };
struct FieldDef {
    const char *table;
    const char *field;
    FieldType type;
    int size;
};

const FieldDef kFields[] = {
    { "Controller", "CNID", FieldType::Long, 0 },
    { "Controller", "CNNAME", FieldType::Text, 8 },
    { "Controller", "CNADDRESS", FieldType::Byte, 0 },
    { "Controller", "CNNUMBERLEVELS", FieldType::Integer, 0 },
    { "Lvl", "LVID", FieldType::Long, 0 },
    { "Lvl", "LVNAME", FieldType::Text, 8 },
    { "Lvl", "LVORDER", FieldType::Integer, 0 },
    { "Lvl", "LVCNID", FieldType::Long, 0 },
    { "Lvl", "LVCNLEVELNUMBER", FieldType::Integer, 0 },
    { "Lvl", "LVNUMBERINS", FieldType::Integer, 0 },
    { "Lvl", "LVNUMBEROUTS", FieldType::Integer, 0 },
    { "Grp", "GPID", FieldType::Long, 0 },
    { "Grp", "GPNAME", FieldType::Text, 8 },
    { "Grp", "GPTYPE", FieldType::Text, 3 },
    { "GrpDfn", "GDGPID", FieldType::Long, 0 },
    { "GrpDfn", "GDLVID", FieldType::Long, 0 },
    { "GrpDfn", "GDIONUMBER", FieldType::Integer, 0 },
    { "GrpSet", "GSID", FieldType::Long, 0 },
    { "GrpSet", "GSNAME", FieldType::Text, 8 },
    { "GrpSetDfn", "GNGSID", FieldType::Long, 0 },
    { "GrpSetDfn", "GNGPID", FieldType::Long, 0 },
};

QString keyField(const QString &table)
{
    if (table == QLatin1String("Controller"))
        return QStringLiteral("CNID");
    if (table == QLatin1String("Lvl"))
        return QStringLiteral("LVID");
    if (table == QLatin1String("Grp"))
        return QStringLiteral("GPID");
    if (table == QLatin1String("GrpSet"))
        return QStringLiteral("GSID");
    return QString();
}

} // namespace

bool XelCfgDb::ConvertDataType(
    const QString &table, const QString &field, const QString &text, QVariant &value, QString &message)
{
    message.clear();
    for (const FieldDef &d : kFields) {
        if (table.compare(QLatin1String(d.table), Qt::CaseInsensitive) != 0
            || field.compare(QLatin1String(d.field), Qt::CaseInsensitive) != 0)
            continue;
        if (d.type == FieldType::Text) {
            const QString t = text.trimmed();
            if (t.size() > d.size) {
                message = QStringLiteral("Text too long for field ") + QLatin1String(d.field);
                return false;
            }
            value = t;
            return true;
        }
        if (!isNumericText(text)) {
            message = QStringLiteral("Type mismatch");
            return false;
        }
        const double v = numericValue(text);
        double lo = -2147483648.0, hi = 2147483647.0;
        if (d.type == FieldType::Byte) {
            lo = 0;
            hi = 255;
        } else if (d.type == FieldType::Integer) {
            lo = kInt16Min;
            hi = kInt16Max;
        }
        if (v < lo || v > hi) {
            message = QStringLiteral("Overflow");
            return false;
        }
        value = qint64(v);
        return true;
    }
    message = QStringLiteral("Type Not Supported by ConvertDataType");
    return false;
}

bool XelCfgDb::writeRow(const QString &table, const QString &action, qint64 key,
    const QList<QPair<QString, QString>> &fields, qint64 *newId, QString &message)
{
    const QString keyName = keyField(table);
    if (keyName.isEmpty()) {
        message = QStringLiteral("Type Not Supported by ConvertDataType");
        return false;
    }
    if (action == QLatin1String("Edit") || action == QLatin1String("Delete")) {
        const int found
            = scalarInt(QStringLiteral("SELECT COUNT(*) FROM %1 WHERE %2 = ?").arg(table, keyName), { key });
        if (found == 0) {
            if (m_dialogs)
                m_dialogs->message(
                    QStringLiteral("Record to ") + action + QStringLiteral("Not Found"), MsgIcon::Exclamation);
            return false;
        }
    }
    if (action == QLatin1String("Delete")) {
        QSqlQuery &q = prepared(QStringLiteral("DELETE FROM %1 WHERE %2 = ?").arg(table, keyName));
        q.bindValue(0, key);
        return run(q);
    }
    QVariantList values;
    QStringList names;
    for (const auto &[name, text] : fields) {
        QVariant v;
        if (!ConvertDataType(table, name, text, v, message))
            return false;
        names << name;
        values << v;
    }
    QString sql;
    if (action == QLatin1String("Add")) {
        sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                  .arg(table, names.join(QStringLiteral(", ")),
                      QStringList(names.size(), QStringLiteral("?")).join(QStringLiteral(", ")));
    } else if (action == QLatin1String("Edit")) {
        if (names.isEmpty())
            return true;
        sql = QStringLiteral("UPDATE %1 SET %2 = ? WHERE %3 = ?")
                  .arg(table, names.join(QStringLiteral(" = ?, ")), keyName);
        values << key;
    } else {
        message = QStringLiteral("Unknown action ") + action;
        return false;
    }
    QSqlQuery &q = prepared(sql);
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values[i]);
    if (!run(q))
        return false;
    if (newId)
        *newId = action == QLatin1String("Add") ? q.lastInsertId().toLongLong() : key;
    return true;
}

void XelCfgDb::tableUpdateFailed(const QString &what)
{
    if (m_dialogs)
        m_dialogs->message(what + QStringLiteral(" table update was not successful."), MsgIcon::Exclamation);
}

bool XelCfgDb::UpdateControllerTable(
    const QString &action, qint64 id, const QString &name, const QString &address, const QString &numberLevels)
{
    Transaction t(*this);
    QString message;
    QList<QPair<QString, QString>> fields;
    if (action != QLatin1String("Delete"))
        fields = { { QStringLiteral("CNNAME"), name.trimmed().toUpper() }, { QStringLiteral("CNADDRESS"), address },
            { QStringLiteral("CNNUMBERLEVELS"), numberLevels } };
    if (!writeRow(QStringLiteral("Controller"), action, id, fields, nullptr, message) || !t.commit()) {
        tableUpdateFailed(QStringLiteral("Controller"));
        return false;
    }
    noteEdit();
    return true;
}

bool XelCfgDb::clampNumbersToLevel(qint64 levelId)
{
    // Numbers above a lowered input or output count no longer exist on the
    // router: the source or destination becomes absent on that level.
    const QString lv = QString::number(levelId);
    for (const auto &[type, count] : { std::pair { "SRC", "LVNUMBERINS" }, std::pair { "DST", "LVNUMBEROUTS" } }) {
        const QString limit = QStringLiteral("(SELECT %1 FROM Lvl WHERE LVID = %2)").arg(QLatin1String(count), lv);
        if (!exec(QStringLiteral("UPDATE grpdfn ") + QStringLiteral("SET GDIONUMBER = 0 ")
                + QStringLiteral("WHERE GDGPID IN (") + QStringLiteral("SELECT GDGPID ")
                + QStringLiteral("FROM grp, grpdfn ") + QStringLiteral("WHERE GPID = GDGPID AND GPTYPE = '")
                + QLatin1String(type) + QLatin1Char('\'') + QStringLiteral(" AND GDLVID = ") + lv
                + QStringLiteral(" AND GDIONUMBER > ") + limit + QStringLiteral(") AND GDLVID = ") + lv))
            return false;
    }
    return true;
}

bool XelCfgDb::UpdateLevelTable(const QString &action, qint64 id, const QString &name, const QString &controllerName,
    const QString &offset, const QString &inputs, const QString &outputs, const QString &order)
{
    Transaction t(*this);
    QString message;
    bool ok = true;
    if (action == QLatin1String("Delete")) {
        ok = writeRow(QStringLiteral("Lvl"), action, id, {}, nullptr, message);
    } else {
        const QString controllerId = ControllerID(controllerName);
        ok = !controllerId.isEmpty();
        QString orderText = order;
        if (action == QLatin1String("Add") && orderText.trimmed().isEmpty())
            orderText = QString::number(HighLevelOrderNumber() + 1);
        QList<QPair<QString, QString>> fields { { QStringLiteral("LVNAME"), name.trimmed().toUpper() },
            { QStringLiteral("LVCNID"), controllerId }, { QStringLiteral("LVCNLEVELNUMBER"), offset },
            { QStringLiteral("LVNUMBERINS"), inputs }, { QStringLiteral("LVNUMBEROUTS"), outputs } };
        if (!orderText.trimmed().isEmpty())
            fields.append({ QStringLiteral("LVORDER"), orderText });
        qint64 newId = -1;
        ok = ok && writeRow(QStringLiteral("Lvl"), action, id, fields, &newId, message);
        if (ok && action == QLatin1String("Add"))
            ok = exec(QStringLiteral("INSERT INTO grpdfn ") + QStringLiteral("SELECT GPID AS GDGPID,")
                + QString::number(newId) + QStringLiteral(" AS GDLVID,") + QStringLiteral("0 AS GDIONUMBER ")
                + QStringLiteral("FROM grp"));
        if (ok && action == QLatin1String("Edit"))
            ok = clampNumbersToLevel(id);
    }
    if (!ok || !t.commit()) {
        tableUpdateFailed(QStringLiteral("Level"));
        return false;
    }
    noteEdit();
    return true;
}

QStringList XelCfgDb::BuildSQLArray(qint64 grpId, const QList<int> &numbers)
{
    QStringList out;
    const QList<LevelInfo> levels = Levels();
    for (int i = 0; i < levels.size(); ++i)
        out << QStringLiteral("UPDATE GrpDfn SET GDIONUMBER = %1 WHERE GDGPID = %2 AND GDLVID = %3")
                   .arg(i < numbers.size() ? numbers[i] : 0)
                   .arg(grpId)
                   .arg(levels[i].id);
    return out;
}

bool XelCfgDb::UpdateGrpTable(
    const QString &action, const QString &type, qint64 id, const QString &name, const QList<int> &numbers)
{
    Transaction t(*this);
    QString message;
    bool ok;
    if (action == QLatin1String("Delete")) {
        ok = writeRow(QStringLiteral("Grp"), action, id, {}, nullptr, message);
    } else {
        qint64 rowId = -1;
        QList<QPair<QString, QString>> fields { { QStringLiteral("GPNAME"), name.trimmed().toUpper() } };
        if (action == QLatin1String("Add"))
            fields.append({ QStringLiteral("GPTYPE"), type });
        ok = writeRow(QStringLiteral("Grp"), action, id, fields, &rowId, message);
        if (ok && action == QLatin1String("Add"))
            ok = exec(QStringLiteral("INSERT INTO GrpDfn (GDGPID, GDLVID, GDIONUMBER) SELECT %1, LVID, 0 FROM Lvl")
                          .arg(rowId));
        for (const QString &sql : ok && !numbers.isEmpty() ? BuildSQLArray(rowId, numbers) : QStringList()) {
            if (!(ok = exec(sql)))
                break;
        }
    }
    if (!ok || !t.commit()) {
        tableUpdateFailed(type == QLatin1String("DST") ? QStringLiteral("Destination") : QStringLiteral("Source"));
        return false;
    }
    noteEdit();
    return true;
}

bool XelCfgDb::UpdateGrpSetTable(const QString &action, qint64 id, const QString &name)
{
    Transaction t(*this);
    QString message;
    QList<QPair<QString, QString>> fields;
    if (action != QLatin1String("Delete"))
        fields = { { QStringLiteral("GSNAME"), name.trimmed().toUpper() } };
    if (!writeRow(QStringLiteral("GrpSet"), action, id, fields, nullptr, message) || !t.commit()) {
        tableUpdateFailed(QStringLiteral("Name Set"));
        return false;
    }
    noteEdit();
    return true;
}

bool XelCfgDb::UpdateGrpSetDfnTable(const QString &action, qint64 setId, const QList<qint64> &memberIds)
{
    Transaction t(*this);
    const bool add = action == QLatin1String("Add");
    if (!add && action != QLatin1String("Delete"))
        return false;
    // A member already in the set stays once: membership is a set, not a list.
    QSqlQuery &q = prepared(add ? QStringLiteral("INSERT OR IGNORE INTO GrpSetDfn (GNGSID, GNGPID) VALUES (?, ?)")
                                : QStringLiteral("DELETE FROM GrpSetDfn WHERE GNGSID = ? AND GNGPID = ?"));
    for (qint64 member : memberIds) {
        q.bindValue(0, setId);
        q.bindValue(1, member);
        if (!run(q))
            return false;
    }
    if (!t.commit())
        return false;
    noteEdit();
    return true;
}

int XelCfgDb::HighLevelOrderNumber()
{
    return scalarInt(QStringLiteral("SELECT COALESCE(MAX(LVORDER), 0) FROM Lvl"));
}

bool XelCfgDb::ValidLevelOrder()
{
    const QList<LevelInfo> levels = Levels();
    for (int i = 0; i < levels.size(); ++i)
        if (levels[i].order != i + 1)
            return false;
    return true;
}

bool XelCfgDb::UpdateLevelOrdering()
{
    Transaction t(*this);
    const QList<LevelInfo> levels = Levels();
    QSqlQuery &q = prepared(QStringLiteral("UPDATE Lvl SET LVORDER = ? WHERE LVID = ?"));
    for (int i = 0; i < levels.size(); ++i) {
        q.bindValue(0, i + 1);
        q.bindValue(1, levels[i].id);
        if (!run(q)) {
            if (m_dialogs)
                m_dialogs->message(QStringLiteral("UpdateLevelOrdering Failed on level: ") + levels[i].name,
                    MsgIcon::Exclamation, QStringLiteral("Database Error"));
            return false;
        }
    }
    if (!t.commit())
        return false;
    noteEdit();
    return true;
}

} // namespace exel
