// Salvo files and firing.
#include "salvofiles.h"

#include "textfile.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace exel {

namespace {
const QString kSaveTitle = QStringLiteral("Salvo Save");
const QString kDeleteTitle = QStringLiteral("Salvo Delete");
} // namespace

int16_t SalvoTable::at(int row, int column) const
{
    if (row < 0 || row >= rows() || column < 0)
        return -1;
    const auto &r = cells[static_cast<size_t>(row)];
    return static_cast<size_t>(column) < r.size() ? r[static_cast<size_t>(column)] : int16_t(-1);
}

void SalvoTable::set(int row, int column, int16_t value)
{
    if (row < 0 || row >= rows() || column < 0)
        return;
    auto &r = cells[static_cast<size_t>(row)];
    if (static_cast<size_t>(column) < r.size())
        r[static_cast<size_t>(column)] = value;
}

SalvoTable SalvoTable::forSystem(const StatandConfig &model)
{
    SalvoTable t;
    const int levels = model.levelCount();
    t.cells.assign(static_cast<size_t>(model.destinationCount()), std::vector<int16_t>(static_cast<size_t>(levels) + 1, -1));
    for (int d = 0; d < model.destinationCount(); ++d)
        t.cells[static_cast<size_t>(d)][0] = static_cast<int16_t>(d);
    for (int l = 0; l < levels; ++l)
        t.levels.push_back(static_cast<int16_t>(l));
    return t;
}

bool isValidSalvoName(const QString &name)
{
    if (name.isEmpty() || name.size() > 20)
        return false;
    for (QChar c : name)
        if (QStringLiteral("\\/\"?*<>|:.").contains(c))
            return false;
    // Control characters make names no operator can type again.
    for (QChar c : name)
        if (c.unicode() < 32)
            return false;
    return true;
}

bool isUsableSalvoName(const QString &name, const QString &folder)
{
    return isValidSalvoName(name) || (!name.isEmpty() && listSalvoNames(folder).contains(name));
}

QString salvoPath(const QString &folder, const QString &name)
{
    const QString upper = folder + QLatin1Char('/') + name + QStringLiteral(".PRE");
    if (QFileInfo(upper).isFile())
        return upper;
    // File names are case-sensitive here: the listing shows "night.pre" as
    // "night", and firing, deleting or saving it must use that file, not
    // look for (or make) a second "night.PRE".
    const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files, QDir::Name);
    for (const QFileInfo &f : files)
        if (f.completeBaseName() == name && f.suffix().compare(QLatin1String("PRE"), Qt::CaseInsensitive) == 0)
            return f.filePath();
    return upper;
}

QStringList listSalvoNames(const QString &folder)
{
    QDir dir(folder);
    QStringList names;
    const QFileInfoList files = dir.entryInfoList(QDir::Files | QDir::Readable, QDir::NoSort);
    for (const QFileInfo &f : files) {
        if (f.suffix().compare(QLatin1String("PRE"), Qt::CaseInsensitive) != 0)
            continue;
        const QString name = f.fileName().section(QLatin1Char('.'), 0, 0);
        if (!name.isEmpty())
            names << name;
    }
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    return names;
}

QString SavePresetFile(const SalvoTable &table, int rows, int levels, const QString &path, const StatandConfig &model,
                       Dialogs &dialogs)
{
    if (QFileInfo(path).exists()) {
        if (dialogs.messageBox(QStringLiteral("File Exists.\nDo You wish to overwrite file?"), MsgButtons::YesNo,
                               MsgIcon::None, kSaveTitle)
            == MsgAnswer::No)
            return QStringLiteral("Duplicate File Name");
    }
    QStringList lines;
    rows = std::min(rows, table.rows());
    levels = std::min(levels, table.levelColumns());
    for (int r = 0; r < rows; ++r) {
        const int dst = table.at(r, 0);
        if (dst == -1)
            continue;
        for (int k = 1; k <= levels; ++k) {
            const int src = table.at(r, k);
            if (src == -1)
                continue;
            lines << model.DestinationName(dst) + QStringLiteral(", ") + model.SourceName(src)
                    + QStringLiteral(", ") + model.LevelName(table.levels[static_cast<size_t>(k - 1)]);
        }
    }
    ErrorInfo error;
    if (!writeFileAtomic(path, crlfText(lines), error))
        return QStringLiteral("Error in Saving Salvo ") + path;
    return QString();
}

void ParsePresetLine(QStringView line, const StatandConfig &model, int &destination, int &source, int &level)
{
    destination = source = level = -1;
    const qsizetype c1 = line.indexOf(u',');
    if (c1 < 0)
        return;
    const QStringView rest = line.mid(c1 + 1);
    const qsizetype c2 = rest.indexOf(u',');
    if (c2 < 0)
        return;
    const QString dst = line.left(c1).trimmed().toString();
    const QString src = rest.left(c2).trimmed().toString();
    const QString lev = rest.mid(c2 + 1).trimmed().toString();
    if (dst.isEmpty() || src.isEmpty() || lev.isEmpty())
        return;
    destination = model.FindDestination(dst);
    source = model.FindSource(src);
    level = model.FindLevel(lev);
}

bool LoadPresetFile(const QString &path, const StatandConfig &model, SalvoTable &table, ErrorInfo *error)
{
    table = SalvoTable::forSystem(model);
    QStringList lines;
    ErrorInfo err;
    if (!readTextLines(path, lines, err)) {
        if (error)
            *error = err;
        return false;
    }
    for (const QString &line : lines) {
        if (line.isEmpty() || line.startsWith(QLatin1Char('*')))
            continue;
        int d, s, l;
        ParsePresetLine(line, model, d, s, l);
        if (d == -1 || s == -1 || l == -1)
            continue;
        table.set(d, l + 1, static_cast<int16_t>(s));
    }
    return true;
}

bool DoPresetSave(const QString &name, const SalvoTable &table, const QString &folder, const StatandConfig &model,
                  Dialogs &dialogs)
{
    // The name becomes a path: the same rule as delete keeps it inside the folder.
    if (!isUsableSalvoName(name, folder)) {
        dialogs.messageBox(QStringLiteral("Invalid Salvo Name"), MsgButtons::Ok, MsgIcon::Exclamation, kSaveTitle);
        return false;
    }
    const QString result = SavePresetFile(table, table.rows(), table.levelColumns(), salvoPath(folder, name), model,
                                          dialogs);
    if (!result.isEmpty()) {
        dialogs.messageBox(QStringLiteral("Salvo Save Failed\n") + result, MsgButtons::YesNo, MsgIcon::None,
                           kSaveTitle);
        return false;
    }
    return true;
}

void DoPresetDelete(const QString &name, const QString &folder, Dialogs &dialogs)
{
    if (!isValidSalvoName(name)) {
        dialogs.messageBox(QStringLiteral("Invalid Salvo Name"), MsgButtons::Ok, MsgIcon::None, kDeleteTitle);
        return;
    }
    const QByteArray path = QFile::encodeName(salvoPath(folder, name));
    if (::unlink(path.constData()) != 0) {
        const ErrorInfo e = errorFromErrno(errno);
        dialogs.messageBox(QStringLiteral("Delete Salvo File Error.\n") + errorLines(e), MsgButtons::Ok,
                           MsgIcon::Exclamation, kDeleteTitle);
    }
}

void TakeSalvoRows(const SalvoTable &table, int firstRow, int firstColumn, int lastRow, int lastColumn,
    StatandConfig &model, Hublink &link, QString *problem)
{
    if (firstColumn == 0)
        firstColumn = 1;
    if (lastRow >= table.rows())
        lastRow = table.rows() - 1;
    if (lastColumn > table.levelColumns())
        lastColumn = table.levelColumns();
    if (!(lastRow >= firstRow && firstRow >= 0 && lastColumn >= firstColumn && firstColumn >= 0))
        return;
    TakeRequest request;
    request.sources.assign(static_cast<size_t>(model.levelCount()), -1);
    for (int r = firstRow; r <= lastRow; ++r) {
        const int16_t dst = table.at(r, 0);
        if (dst == -1)
            continue;
        request.destination = dst;
        bool any = false;
        for (int c = firstColumn; c <= lastColumn; ++c) {
            const int level = table.levels[static_cast<size_t>(c - 1)];
            const int16_t src = table.at(r, c);
            if (level >= 0 && level < model.levelCount())
                request.sources[static_cast<size_t>(level)] = src;
            if (src != -1)
                any = true;
        }
        if (any)
            TakeToDestination(model, link, request, problem);
    }
}

KeyAction FireSalvo(const QString &name, const QString &folder, StatandConfig &model, Hublink &link, PollingGate *gate,
    Dialogs &dialogs, QString *problem)
{
    if (link.isCPUBusy())
        return KeyAction::Deferred;
    if (gate)
        gate->TurnOffTimer();
    if (!name.isEmpty()) {
        SalvoTable table;
        // A name from the list is a file of the folder; anything else is refused
        // before it becomes a path.
        if (!isUsableSalvoName(name, folder) || !LoadPresetFile(salvoPath(folder, name), model, table)) {
            dialogs.messageBox(QStringLiteral("Cannot Fire Salvo ") + name + QStringLiteral(".  File Format Error!"),
                               MsgButtons::Ok, MsgIcon::None, QString());
        } else if (dialogs.messageBox(QStringLiteral("Taking Salvo ") + name + QStringLiteral("\nAre you Sure?"),
                       MsgButtons::OkCancel, MsgIcon::Exclamation, QString())
            == MsgAnswer::Ok) {
            TakeSalvoRows(table, 0, 1, model.destinationCount() - 1, model.levelCount(), model, link, problem);
        }
    }
    if (gate)
        gate->TurnOnTimer();
    return KeyAction::Done;
}

} // namespace exel
