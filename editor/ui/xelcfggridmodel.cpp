// Editable grid model over the editor's grid queries.
#include "xelcfggridmodel.h"

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace exel {

namespace {
const QString kTrue = QStringLiteral("True");
const QString kFalse = QStringLiteral("False");
} // namespace

XelCfgGridModel::XelCfgGridModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

bool XelCfgGridModel::load(const QSqlDatabase &db, const QString &sql)
{
    beginResetModel();
    m_rows.clear();
    m_columns.clear();
    QSqlQuery q(db);
    q.setForwardOnly(true);
    const bool ok = q.exec(sql);
    m_loaded = ok;
    m_lastErrorNumber = ok ? 0 : q.lastError().nativeErrorCode().toInt();
    m_lastError = ok ? QString() : q.lastError().databaseText();
    if (ok) {
        const QSqlRecord rec = q.record();
        for (int c = 0; c < rec.count(); ++c)
            m_columns << rec.fieldName(c);
        while (q.next()) {
            QStringList row;
            for (int c = 0; c < rec.count(); ++c)
                row << (q.value(c).isNull() ? QString() : q.value(c).toString());
            m_rows << row;
        }
    }
    endResetModel();
    return ok;
}

int XelCfgGridModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int XelCfgGridModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant XelCfgGridModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size() || index.column() >= m_columns.size())
        return {};
    const int r = index.row();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return m_rows[r][index.column()];
    case Qt::BackgroundRole:
        if (isMarkedDelete(r))
            return QBrush(QColor(0xf4, 0xc7, 0xc3));
        if (isChanged(r))
            return QBrush(QColor(0xff, 0xf3, 0xc4));
        return {};
    case Qt::FontRole:
        if (isMarkedDelete(r)) {
            QFont f;
            f.setStrikeOut(true);
            return f;
        }
        return {};
    case Qt::TextAlignmentRole:
        // Numbers line up on the right, as in a spreadsheet.
        if (XelCfgUtilities::isNumericText(m_rows[r][index.column()]))
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::ToolTipRole:
        if (isMarkedDelete(r))
            return QStringLiteral("Marked for deletion: removed when the page is applied.");
        return {};
    default:
        return {};
    }
}

bool XelCfgGridModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || index.row() >= m_rows.size())
        return false;
    QString text = value.toString();
    if (text == m_rows[index.row()][index.column()])
        return true;
    if (m_validator) {
        const RuleResult r = m_validator(index.row(), index.column(), text);
        if (!r.ok) {
            emit entryRefused(r.message);
            return false;
        }
    }
    m_rows[index.row()][index.column()] = text;
    m_rows[index.row()][kChanged] = kTrue;
    emit dataChanged(this->index(index.row(), 0), this->index(index.row(), columnCount() - 1));
    return true;
}

QVariant XelCfgGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return section + 1;
    // Aliases carry trailing blanks that once sized the columns; the view sizes them now.
    return section < m_columns.size() ? m_columns[section].trimmed() : QVariant();
}

Qt::ItemFlags XelCfgGridModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (!m_readOnly.contains(index.column()) && !isMarkedDelete(index.row()))
        f |= Qt::ItemIsEditable;
    return f;
}

QString XelCfgGridModel::cell(int row, int column) const
{
    if (row < 0 || row >= m_rows.size() || column < 0 || column >= m_columns.size())
        return QString();
    return m_rows[row][column];
}

void XelCfgGridModel::setCell(int row, int column, const QString &value)
{
    if (row < 0 || row >= m_rows.size() || column < 0 || column >= m_columns.size())
        return;
    m_rows[row][column] = value;
    emit dataChanged(index(row, column), index(row, column));
}

qint64 XelCfgGridModel::rowId(int row) const
{
    bool ok = false;
    const qint64 id = cell(row, kId).toLongLong(&ok);
    return ok ? id : -1;
}

bool XelCfgGridModel::isChanged(int row) const
{
    return cell(row, kChanged) == kTrue;
}

bool XelCfgGridModel::isMarkedDelete(int row) const
{
    return cell(row, kDeleteFlag) == kTrue;
}

void XelCfgGridModel::setMarkedDelete(int row, bool marked)
{
    if (row < 0 || row >= m_rows.size())
        return;
    m_rows[row][kDeleteFlag] = marked ? kTrue : kFalse;
    m_rows[row][kDelete] = marked ? QStringLiteral("X") : QString();
    emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

int XelCfgGridModel::addRow()
{
    if (m_columns.size() <= kDeleteFlag)
        return -1;
    const int r = int(m_rows.size());
    beginInsertRows(QModelIndex(), r, r);
    QStringList row(m_columns.size());
    row[kChanged] = kTrue;
    row[kDeleteFlag] = kFalse;
    m_rows << row;
    endInsertRows();
    return r;
}

bool XelCfgGridModel::hasPendingChanges() const
{
    for (int r = 0; r < m_rows.size(); ++r)
        if (isChanged(r) || isMarkedDelete(r))
            return true;
    return false;
}

int XelCfgGridModel::columnOf(const QString &name) const
{
    for (int c = 0; c < m_columns.size(); ++c)
        if (m_columns[c].trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return c;
    return -1;
}

} // namespace exel
