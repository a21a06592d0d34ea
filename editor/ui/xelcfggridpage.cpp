// Grid rules and Apply/Cancel of the editor's pages.
#include "xelcfggridpage.h"

#include "dialogs.h"
#include "errorinfo.h"
#include "numberrules.h"

namespace exel {

using namespace XelCfgUtilities;

namespace {
// Visible columns of the grid queries, after the four bookkeeping ones.
constexpr int kCtlName = 4, kCtlAddress = 5, kCtlLevels = 6;
constexpr int kLvlControllerId = 4, kLvlName = 5, kLvlNumber = 6, kLvlController = 7, kLvlOffset = 8, kLvlIns = 9,
              kLvlOuts = 10;
constexpr int kGrpName = 4;
constexpr int kSetName = 4;
} // namespace

XelCfgGridPage::XelCfgGridPage(GridKind kind, XelCfgDb &db, Dialogs &dialogs, QObject *parent)
    : QObject(parent)
    , m_kind(kind)
    , m_db(db)
    , m_dialogs(dialogs)
{
    m_model.setValidator([this](int row, int column, QString &value) {
        m_typing = true;
        const RuleResult r = validate(row, column, value);
        m_typing = false;
        return r;
    });
    connect(&m_model, &XelCfgGridModel::entryRefused, this,
        [this](const QString &message) { m_dialogs.message(message, MsgIcon::Exclamation, kDataEntryError); });
}

QList<int> XelCfgGridPage::hiddenColumns() const
{
    QList<int> hidden { XelCfgGridModel::kChanged, XelCfgGridModel::kDelete, XelCfgGridModel::kId,
        XelCfgGridModel::kDeleteFlag };
    if (m_kind == GridKind::Level)
        hidden << kLvlControllerId;
    return hidden;
}

int XelCfgGridPage::firstDataColumn() const
{
    return m_kind == GridKind::Level ? kLvlName : 4;
}

bool XelCfgGridPage::reload()
{
    QString sql;
    switch (m_kind) {
    case GridKind::Controller:
        sql = m_db.CntrlGridEntries();
        break;
    case GridKind::Level:
        sql = m_db.LevelGridEntries();
        break;
    case GridKind::Source:
    case GridKind::Destination:
        m_levels = m_db.Levels();
        sql = m_db.GrpGridEntries(groupType());
        break;
    case GridKind::NameSetList:
        sql = m_db.GrpSetListGridEntries();
        break;
    }
    const bool ok = m_model.load(m_db.database(), sql);
    // Level columns are captioned by the levels' own names: the driver drops
    // a double quote from a column alias, and a level name may hold one.
    if (ok && (m_kind == GridKind::Source || m_kind == GridKind::Destination))
        for (int i = 0; i < m_levels.size(); ++i)
            m_model.setColumnName(kGrpName + 1 + i, m_levels[i].name);
    return ok;
}

QString XelCfgGridPage::readFailure() const
{
    if (m_model.isLoaded())
        return QString();
    return QStringLiteral("Unable to read this page from the configuration database.") + QLatin1Char('\n')
        + errorLines(ErrorInfo { m_model.lastErrorNumber(), m_model.lastError() });
}

int XelCfgGridPage::addRow()
{
    // A grid whose query failed has no columns: a row added to it has no cells
    // to hold its defaults.
    if (!m_model.isLoaded() && !reload()) {
        m_dialogs.message(readFailure(), MsgIcon::Exclamation, QStringLiteral("Database Error"));
        return -1;
    }
    const int r = m_model.addRow();
    if (r < 0)
        return -1;
    switch (m_kind) {
    case GridKind::Controller:
        m_model.setCell(r, kCtlLevels, QStringLiteral("1"));
        break;
    case GridKind::Level: {
        m_model.setCell(r, kLvlNumber, QString::number(r + 1));
        // The first controller with an offset left free, and that offset: one
        // the offset rule will accept (within the controller's level count).
        const QStringList controllers = m_db.Controllers();
        if (!controllers.isEmpty())
            m_model.setCell(r, kLvlController, controllers.first());
        for (const QString &controller : controllers) {
            const int levels = m_db.ControllerNumberLevels(m_db.ControllerID(controller).toLongLong());
            int free = 0;
            for (int offset = 1; offset <= levels && free == 0; ++offset) {
                bool used = false;
                for (int o = 0; o < r && !used; ++o)
                    used = !m_model.isMarkedDelete(o) && m_model.cell(o, kLvlController) == controller
                        && int(numericValue(m_model.cell(o, kLvlOffset))) == offset;
                if (!used)
                    free = offset;
            }
            if (free > 0) {
                m_model.setCell(r, kLvlController, controller);
                m_model.setCell(r, kLvlOffset, QString::number(free));
                break;
            }
        }
        break;
    }
    case GridKind::Source:
    case GridKind::Destination:
        for (int c = kGrpName + 1; c < m_model.columnCount(); ++c)
            m_model.setCell(r, c, QStringLiteral("0"));
        break;
    case GridKind::NameSetList:
        break;
    }
    return r;
}

bool XelCfgGridPage::nameUsedElsewhere(int row, int column, const QString &value) const
{
    for (int r = 0; r < m_model.rowCount(); ++r)
        if (r != row && !m_model.isMarkedDelete(r) && m_model.cell(r, column).compare(value, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

RuleResult XelCfgGridPage::validate(int row, int column, QString &value)
{
    switch (m_kind) {
    case GridKind::Controller:
        return validateController(row, column, value);
    case GridKind::Level:
        return validateLevel(row, column, value);
    case GridKind::Source:
    case GridKind::Destination:
        return validateGroup(row, column, value);
    case GridKind::NameSetList:
        return validateNameSet(row, column, value);
    }
    return RuleResult::pass();
}

RuleResult XelCfgGridPage::validateController(int row, int column, QString &value)
{
    if (column == kCtlName) {
        if (RuleResult r = CheckName(value); !r)
            return r;
        value = value.toUpper();
        if (nameUsedElsewhere(row, column, value))
            return RuleResult::fail(QStringLiteral("Controller Name is not unique."));
    } else if (column == kCtlAddress) {
        value = value.trimmed();
        if (RuleResult r = CheckAddress(value); !r)
            return r;
        value = QString::number(int(numericValue(value)));
        int others = 0;
        bool zeroElsewhere = false;
        for (int r = 0; r < m_model.rowCount(); ++r) {
            if (r == row || m_model.isMarkedDelete(r))
                continue;
            ++others;
            if (m_model.cell(r, column) == value)
                return RuleResult::fail(QStringLiteral("Controller Address is not unique."));
            zeroElsewhere = zeroElsewhere || m_model.cell(r, column) == QLatin1String("0");
        }
        if ((value == QLatin1String("0") && others > 0) || zeroElsewhere)
            return RuleResult::fail(QStringLiteral("A controller address of zero indicates a single drop controller."));
    } else if (column == kCtlLevels) {
        value = value.trimmed();
        if (!CheckCount(value))
            return RuleResult::fail(QStringLiteral("Number of Levels must be in range 1 to 32767."));
        value = QString::number(int(numericValue(value)));
        // Levels already on this controller must keep an offset in range.
        const QString id = m_model.cell(row, XelCfgGridModel::kId);
        if (!id.isEmpty()) {
            for (const LevelInfo &l : m_db.Levels())
                if (l.controllerId == id.toLongLong() && l.offset > value.toInt())
                    return RuleResult::fail(QStringLiteral("Level Offset must be in range 1 to ") + value
                        + QStringLiteral(" (level ") + l.name + QStringLiteral(")."));
        }
    }
    return RuleResult::pass();
}

RuleResult XelCfgGridPage::validateLevel(int row, int column, QString &value)
{
    if (column == kLvlName) {
        if (RuleResult r = CheckName(value); !r)
            return r;
        value = value.toUpper();
        if (nameUsedElsewhere(row, column, value))
            return RuleResult::fail(QStringLiteral("Level Name is not unique."));
    } else if (column == kLvlNumber) {
        value = value.trimmed();
        int live = 0;
        for (int r = 0; r < m_model.rowCount(); ++r)
            live += m_model.isMarkedDelete(r) ? 0 : 1;
        if (!CheckCount(value) || numericValue(value) > live)
            return RuleResult::fail(QStringLiteral("Valid range for Level is 1 to ") + QString::number(live));
        value = QString::number(int(numericValue(value)));
        for (int r = 0; r < m_model.rowCount(); ++r) {
            if (r == row || m_model.isMarkedDelete(r) || m_model.cell(r, column) != value)
                continue;
            if (!m_typing)
                return RuleResult::fail(QStringLiteral("Level Number is not unique."));
            // Typing a number another level holds moves that level to this one's
            // old place, so levels are reordered by swapping.
            m_model.setCell(r, column, m_model.cell(row, column));
            m_model.setCell(r, XelCfgGridModel::kChanged, QStringLiteral("True"));
        }
    } else if (column == kLvlController) {
        value = value.trimmed().toUpper();
        if (m_db.ControllerID(value).isEmpty())
            return RuleResult::fail(QStringLiteral("Controller, ") + value + QStringLiteral(", for Level, ")
                + m_model.cell(row, kLvlName) + QStringLiteral(", is not valid."));
        // The offset must stay valid on the new controller.
        QString offset = m_model.cell(row, kLvlOffset);
        if (!offset.isEmpty()) {
            const int levels = m_db.ControllerNumberLevels(m_db.ControllerID(value).toLongLong());
            if (numericValue(offset) > levels)
                return RuleResult::fail(
                    QStringLiteral("Level Offset must be in range 1 to ") + QString::number(levels));
        }
    } else if (column == kLvlOffset) {
        value = value.trimmed();
        const QString controller = m_model.cell(row, kLvlController);
        const QString id = m_db.ControllerID(controller);
        if (id.isEmpty())
            return RuleResult::fail(QStringLiteral("Controller, ") + controller + QStringLiteral(", for Level, ")
                + m_model.cell(row, kLvlName) + QStringLiteral(", is not valid."));
        const int levels = m_db.ControllerNumberLevels(id.toLongLong());
        if (!CheckCount(value) || numericValue(value) > levels)
            return RuleResult::fail(QStringLiteral("Level Offset must be in range 1 to ") + QString::number(levels));
        value = QString::number(int(numericValue(value)));
        for (int r = 0; r < m_model.rowCount(); ++r)
            if (r != row && !m_model.isMarkedDelete(r) && m_model.cell(r, kLvlController) == controller
                && m_model.cell(r, kLvlOffset) == value)
                return RuleResult::fail(QStringLiteral("Level Offset is not unique for associated controller."));
    } else if (column == kLvlIns || column == kLvlOuts) {
        value = value.trimmed();
        if (!CheckCount(value))
            return RuleResult::fail((column == kLvlIns ? QStringLiteral("Invalid number of inputs for level, ")
                                                       : QStringLiteral("Invalid number of outputs for level, "))
                + m_model.cell(row, kLvlName));
        value = QString::number(int(numericValue(value)));
    }
    return RuleResult::pass();
}

RuleResult XelCfgGridPage::validateGroup(int row, int column, QString &value)
{
    const bool source = m_kind == GridKind::Source;
    if (column == kGrpName) {
        if (RuleResult r = CheckName(value); !r)
            return r;
        value = value.toUpper();
        if (nameUsedElsewhere(row, column, value))
            return RuleResult::fail((source ? QStringLiteral("Source Name, ") : QStringLiteral("Destination Name, "))
                + value + QStringLiteral(", is not Unique."));
        return RuleResult::pass();
    }
    const int level = column - kGrpName - 1;
    if (level < 0 || level >= m_levels.size())
        return RuleResult::pass();
    value = value.trimmed();
    if (!CheckIONumber(value))
        return RuleResult::fail(source ? QStringLiteral("Not a valid input.") : QStringLiteral("Not a valid output."));
    const int number = int(numericValue(value));
    const int count = source ? m_levels[level].inputs : m_levels[level].outputs;
    if (number > count)
        return RuleResult::fail(QStringLiteral("Valid range for Level is 0 to ") + QString::number(count));
    value = QString::number(number);
    if (!source && number != 0 && nameUsedElsewhere(row, column, value))
        return RuleResult::fail(QStringLiteral("Output is not unique on that level."));
    return RuleResult::pass();
}

RuleResult XelCfgGridPage::validateNameSet(int row, int column, QString &value)
{
    if (column != kSetName)
        return RuleResult::pass();
    if (RuleResult r = CheckName(value); !r)
        return r;
    value = value.toUpper();
    if (nameUsedElsewhere(row, column, value))
        return RuleResult::fail(QStringLiteral("Name Set name is not unique."));
    return RuleResult::pass();
}

RuleResult XelCfgGridPage::validateRow(int row)
{
    for (int c = firstDataColumn(); c < m_model.columnCount(); ++c) {
        QString v = m_model.cell(row, c);
        const RuleResult r = validate(row, c, v);
        if (!r.ok)
            return r;
        m_model.setCell(row, c, v);
    }
    return RuleResult::pass();
}

bool XelCfgGridPage::toggleDelete(int row)
{
    if (row < 0 || row >= m_model.rowCount())
        return false;
    const bool marked = m_model.isMarkedDelete(row);
    if (!marked) {
        if (m_kind == GridKind::Controller && m_model.rowId(row) >= 0) {
            const QStringList levels = m_db.ControllerLevels(m_model.rowId(row));
            if (!levels.isEmpty()
                && m_dialogs.messageBox(QStringLiteral("Deleting controller will also delete ")
                           + QStringLiteral(" the following levels:") + QLatin1Char('\n')
                           + levels.join(QLatin1Char('\n')) + QLatin1Char('\n') + QStringLiteral("Continue?"),
                       MsgButtons::OkCancel, MsgIcon::Exclamation, QStringLiteral("Delete Warning"))
                    != MsgAnswer::Ok)
                return false;
        }
        if (m_model.rowId(row) < 0) {
            // A row never stored simply goes away when applied; mark it all the same.
        }
        m_model.setMarkedDelete(row, true);
        return true;
    }
    // Unmarking brings the row back: it must not clash with a row edited meanwhile.
    for (int c = firstDataColumn(); c < m_model.columnCount(); ++c) {
        QString v = m_model.cell(row, c);
        const RuleResult r = validate(row, c, v);
        if (!r.ok) {
            m_dialogs.message(QStringLiteral("Cannot Unmark Delete because ") + r.message, MsgIcon::Exclamation,
                QStringLiteral("Delete Warning"));
            return true;
        }
    }
    m_model.setMarkedDelete(row, false);
    return false;
}

bool XelCfgGridPage::writeRow(int row)
{
    const qint64 id = m_model.rowId(row);
    const auto cell = [&](int c) { return m_model.cell(row, c); };
    if (m_model.isMarkedDelete(row)) {
        if (id < 0)
            return true;
        switch (m_kind) {
        case GridKind::Controller:
            return m_db.UpdateControllerTable(QStringLiteral("Delete"), id);
        case GridKind::Level:
            return m_db.UpdateLevelTable(QStringLiteral("Delete"), id);
        case GridKind::Source:
        case GridKind::Destination:
            return m_db.UpdateGrpTable(QStringLiteral("Delete"), groupType(), id);
        case GridKind::NameSetList:
            return m_db.UpdateGrpSetTable(QStringLiteral("Delete"), id);
        }
    }
    const QString action = id < 0 ? QStringLiteral("Add") : QStringLiteral("Edit");
    switch (m_kind) {
    case GridKind::Controller:
        return m_db.UpdateControllerTable(action, id, cell(kCtlName), cell(kCtlAddress), cell(kCtlLevels));
    case GridKind::Level:
        return m_db.UpdateLevelTable(action, id, cell(kLvlName), cell(kLvlController), cell(kLvlOffset), cell(kLvlIns),
            cell(kLvlOuts), cell(kLvlNumber));
    case GridKind::Source:
    case GridKind::Destination: {
        QList<int> numbers;
        for (int c = kGrpName + 1; c < m_model.columnCount(); ++c)
            numbers << int(numericValue(cell(c)));
        return m_db.UpdateGrpTable(action, groupType(), id, cell(kGrpName), numbers);
    }
    case GridKind::NameSetList:
        return m_db.UpdateGrpSetTable(action, id, cell(kSetName));
    }
    return false;
}

bool XelCfgGridPage::Apply()
{
    m_failedRow = -1;
    for (int r = 0; r < m_model.rowCount(); ++r) {
        if (m_model.isMarkedDelete(r) || !m_model.isChanged(r))
            continue;
        const RuleResult rule = validateRow(r);
        if (!rule.ok) {
            m_failedRow = r;
            m_dialogs.message(rule.message, MsgIcon::Exclamation, kDataEntryError);
            return false;
        }
    }
    {
        XelCfgDb::Transaction t(m_db);
        // Deletes first, so a name or number freed by a deleted row can be reused.
        for (int pass = 0; pass < 2; ++pass) {
            for (int r = 0; r < m_model.rowCount(); ++r) {
                const bool del = m_model.isMarkedDelete(r);
                if ((pass == 0) != del || (!del && !m_model.isChanged(r)))
                    continue;
                if (!writeRow(r)) {
                    m_failedRow = r;
                    return false; // the table update has shown its box; t rolls back
                }
            }
        }
        // Deleting a controller deletes its levels with it: the levels left
        // close up to 1..n, keeping their order, before anything is saved.
        if (m_kind == GridKind::Controller && !m_db.ValidLevelOrder() && !m_db.UpdateLevelOrdering())
            return false;
        if (!t.commit())
            return false;
    }
    reload();
    emit applied();
    return true;
}

} // namespace exel
