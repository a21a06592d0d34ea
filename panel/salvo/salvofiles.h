// Salvos: stored sets of routes, one ".PRE" text file per salvo in the program
// folder. The salvo table, its reader and writer, the name rule and firing.
#pragma once

#include "dialogs.h"
#include "errorinfo.h"
#include "hublink.h"
#include "pollinggate.h"
#include "statandconfig.h"
#include "takeandlocks.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace exel {

// Rows are destination rows; column 0 holds the destination index (-1: no
// destination), column k (1..levels) the source for level column k-1 (-1: not
// part of the salvo). levels maps level column k-1 to a level index.
struct SalvoTable {
    std::vector<std::vector<int16_t>> cells;
    std::vector<int16_t> levels;

    int rows() const { return static_cast<int>(cells.size()); }
    int levelColumns() const { return static_cast<int>(levels.size()); }
    int16_t at(int row, int column) const;
    void set(int row, int column, int16_t value);

    // One row per destination of the system (column 0 = d), every level of the
    // system as a column in table order, every route cell -1.
    static SalvoTable forSystem(const StatandConfig &model);
};

// A name is valid when it is not empty, has at most 20 characters and holds
// none of \ / " ? * < > | : . (so it can never leave the salvo folder).
bool isValidSalvoName(const QString &name);

// A name that may be loaded, fired or saved: a valid name, or one the folder
// already holds (a file named by hand may be longer than the rule allows; it
// is still a file of that folder).
bool isUsableSalvoName(const QString &name, const QString &folder);

// The file of salvo name in folder: the listed file whatever the case of its
// extension ("night.pre" is salvo "night"), else folder + "/" + name + ".PRE"
// for a new one.
QString salvoPath(const QString &folder, const QString &name);

// The salvos of a folder: every "*.PRE" file (any case of the extension),
// each cut before its first ".", sorted by name case-blind.
QStringList listSalvoNames(const QString &folder);

// Writes the salvo, asking before an existing file is replaced. Returns "" on
// success, "Duplicate File Name" when the operator declines, or "Error in
// Saving Salvo " + path when the write fails (the old file is then kept).
QString SavePresetFile(const SalvoTable &table, int rows, int levels, const QString &path,
                       const StatandConfig &model, Dialogs &dialogs);

// Reads a salvo into a table sized to the current system. Lines naming
// unknown destinations, sources or levels are skipped; the last line for a
// destination and level wins. False when the file cannot be read.
bool LoadPresetFile(const QString &path, const StatandConfig &model, SalvoTable &table, ErrorInfo *error = nullptr);

// "destination, source, level" to indices, each -1 when unknown; all three -1
// when a name is missing.
void ParsePresetLine(QStringView line, const StatandConfig &model, int &destination, int &source, int &level);

// The save dialog's OK: the name rule, then the write. True when saved; the
// reason is shown otherwise.
bool DoPresetSave(const QString &name, const SalvoTable &table, const QString &folder, const StatandConfig &model,
                  Dialogs &dialogs);
// The delete dialog's Delete: the name rule, then the file is removed.
void DoPresetDelete(const QString &name, const QString &folder, Dialogs &dialogs);

// Takes the routes of a block of the table, destination by destination.
// *problem (when given) gets the first route the link could not carry.
void TakeSalvoRows(const SalvoTable &table, int firstRow, int firstColumn, int lastRow, int lastColumn,
    StatandConfig &model, Hublink &link, QString *problem = nullptr);

// The main window's salvo fire: loads the named salvo, asks for confirmation
// and takes every route. Deferred while the link is busy.
KeyAction FireSalvo(const QString &name, const QString &folder, StatandConfig &model, Hublink &link, PollingGate *gate,
    Dialogs &dialogs, QString *problem = nullptr);

} // namespace exel
