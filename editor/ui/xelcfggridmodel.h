// The editable table behind each grid of the editor's main window: rows read
// from a grid query, edits checked cell by cell, changed and delete-marked rows
// kept until the page is applied or cancelled.
#pragma once

#include "xelcfgutilities.h"

#include <QAbstractTableModel>
#include <QList>
#include <QSet>
#include <QSqlDatabase>
#include <QStringList>

#include <functional>

namespace exel {

class XelCfgGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // Bookkeeping columns every grid query starts with.
    static constexpr int kChanged = 0;
    static constexpr int kDelete = 1;
    static constexpr int kId = 2;
    static constexpr int kDeleteFlag = 3;

    // Checks a value typed into (row, column); may rewrite it (trimmed, upper case).
    using Validator = std::function<RuleResult(int row, int column, QString &value)>;

    explicit XelCfgGridModel(QObject *parent = nullptr);

    // Reads the rows of sql; false (model emptied, lastError set) when the query fails.
    bool load(const QSqlDatabase &db, const QString &sql);
    // Whether the last load succeeded: a grid that could not be read has no
    // columns, and takes no new rows.
    bool isLoaded() const { return m_loaded; }
    // The database's error of the last failed load (number and description).
    int lastErrorNumber() const { return m_lastErrorNumber; }
    QString lastError() const { return m_lastError; }
    void setValidator(Validator v) { m_validator = std::move(v); }
    void setReadOnlyColumns(const QSet<int> &columns) { m_readOnly = columns; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    QString cell(int row, int column) const;
    // Sets a cell without validation (defaults of a new row).
    void setCell(int row, int column, const QString &value);
    qint64 rowId(int row) const; // -1 for a row not yet stored
    bool isChanged(int row) const;
    bool isMarkedDelete(int row) const;
    void setMarkedDelete(int row, bool marked);
    // Appends an empty new row; -1 (nothing added) when the grid is not loaded.
    int addRow();
    bool hasPendingChanges() const;
    QStringList columnNames() const { return m_columns; }
    int columnOf(const QString &name) const;
    // Replaces a column's caption (the query's alias cannot carry every name).
    void setColumnName(int column, const QString &name)
    {
        if (column >= 0 && column < m_columns.size())
            m_columns[column] = name;
    }

signals:
    // An edit was refused; the window shows the message.
    void entryRefused(const QString &message);

private:
    QStringList m_columns;
    QList<QStringList> m_rows;
    Validator m_validator;
    QSet<int> m_readOnly;
    bool m_loaded = false;
    int m_lastErrorNumber = 0;
    QString m_lastError;
};

} // namespace exel
