// Fuzz target: a salvo file read against the default system, then saved back
// and read again; what was read must survive the round trip.
#include "dialogs.h"
#include "salvofiles.h"
#include "textfile.h"

#include <QDir>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

using namespace exel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static StatandConfig model = [] {
        StatandConfig m;
        m.BuildDefaultSystem();
        return m;
    }();
    static QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/F.PRE");
    ErrorInfo err;
    writeFileAtomic(path, QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size)), err);

    SalvoTable table;
    if (!LoadPresetFile(path, model, table))
        return 0;
    for (int r = 0; r < table.rows(); ++r)
        for (int c = 1; c <= table.levelColumns(); ++c) {
            const int s = table.at(r, c);
            if (s != -1 && !model.isValidSource(s))
                abort();
        }
    ScriptedDialogs dialogs;
    if (!SavePresetFile(table, table.rows(), table.levelColumns(), path, model, dialogs).isEmpty())
        abort();
    SalvoTable back;
    if (!LoadPresetFile(path, model, back) || back.cells != table.cells)
        abort();
    // And each line alone.
    const QString text = QString::fromLatin1(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    int d, s, l;
    ParsePresetLine(text, model, d, s, l);
    return 0;
}
