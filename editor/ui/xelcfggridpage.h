// One editable page of the editor's main window without its widgets: the
// grid's rows, the grid rules checked while typing, deletion marking with its
// warnings, and Apply/Cancel through the database's table updates.
#pragma once

#include "xelcfgdb.h"
#include "xelcfggridmodel.h"

#include <QObject>

namespace exel {

class Dialogs;

enum class GridKind { Controller, Level, Source, Destination, NameSetList };

class XelCfgGridPage : public QObject {
    Q_OBJECT
public:
    XelCfgGridPage(GridKind kind, XelCfgDb &db, Dialogs &dialogs, QObject *parent = nullptr);

    GridKind kind() const { return m_kind; }
    XelCfgGridModel *model() { return &m_model; }
    // Columns the grid hides: the bookkeeping columns and foreign keys.
    QList<int> hiddenColumns() const;

    // Cancel: re-reads the page from the database, dropping every change.
    bool reload();
    // After a failed reload: "Unable to read ..." with the database's error.
    QString readFailure() const;
    // A new row with sensible defaults, not yet stored; its index. A page that
    // could not be read is read again first; when that fails too the reason is
    // shown and -1 returned, and nothing is added.
    int addRow();
    // Toggles the delete mark of a row, with the warnings that go with it.
    // Returns whether the row is marked afterwards.
    bool toggleDelete(int row);
    // Writes delete-marked, changed and new rows in one transaction. A row that
    // breaks a rule is shown in a "Data Entry Error" box and nothing is written.
    bool Apply();
    // The first rule a row breaks, checked on all its cells (ok when none).
    RuleResult validateRow(int row);
    // The grid rule for one value typed into (row, column).
    RuleResult validate(int row, int column, QString &value);

    // Row of the last refused row in Apply (-1 when none).
    int failedRow() const { return m_failedRow; }

signals:
    void applied();

private:
    RuleResult validateController(int row, int column, QString &value);
    RuleResult validateLevel(int row, int column, QString &value);
    RuleResult validateGroup(int row, int column, QString &value);
    RuleResult validateNameSet(int row, int column, QString &value);
    bool nameUsedElsewhere(int row, int column, const QString &value) const;
    bool writeRow(int row);
    int firstDataColumn() const;
    QString groupType() const
    {
        return m_kind == GridKind::Destination ? QStringLiteral("DST") : QStringLiteral("SRC");
    }

    GridKind m_kind;
    XelCfgDb &m_db;
    Dialogs &m_dialogs;
    XelCfgGridModel m_model;
    QList<LevelInfo> m_levels; // level columns of a source or destination page
    int m_failedRow = -1;
    bool m_typing = false; // validating a value typed into the grid, not a whole row
};

// Messages of the grid rules.
inline const QString kDataEntryError = QStringLiteral("Data Entry Error");

} // namespace exel
