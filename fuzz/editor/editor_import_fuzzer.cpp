// Fuzzes FieldSplit and the editor's import of a configuration file into an
// in-memory database, and checks the database invariants after every load.
#include "dialogs.h"
#include "settingsstore.h"
#include "xelcfgdb.h"
#include "xelcfgloadutilities.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

using namespace exel;

namespace {
QCoreApplication *g_app;
QTemporaryDir *g_dir;
ScriptedDialogs *g_dialogs;
SettingsStore *g_settings;
XelCfgDb *g_db;

int scalar(const QString &sql)
{
    QSqlQuery q(g_db->database());
    if (!q.exec(sql) || !q.next())
        abort();
    return q.value(0).toInt();
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    g_app = new QCoreApplication(*argc, *argv);
    g_dir = new QTemporaryDir;
    g_dialogs = new ScriptedDialogs;
    g_settings = new SettingsStore(g_dir->path());
    g_db = new XelCfgDb(g_dialogs, QStringLiteral(":memory:"));
    if (!g_db->Init())
        abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const QByteArray &line : bytes.split('\n')) {
        const QStringList fields = XelCfgLoadUtilities::FieldSplit(QString::fromLatin1(line));
        if (fields.isEmpty())
            abort(); // there is always a keyword field, even if empty
        for (const QString &f : fields)
            if (f != f.trimmed() || f != f.toUpper())
                abort();
    }

    const QString path = g_dir->path() + QStringLiteral("/in.cfg");
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        abort();
    f.write(bytes);
    f.close();
    g_dialogs->clear();
    XelCfgLoadUtilities io(*g_db, *g_dialogs, *g_settings);
    const bool ok = io.LoadConfigurationFile(path);
    // Whatever happened, the user saw version questions and at most one box.
    int boxes = 0;
    for (const ScriptedDialogs::Shown &shown : g_dialogs->shown())
        boxes += shown.buttons == MsgButtons::OkCancel ? 0 : 1;
    if (boxes > 1 || (ok && boxes != 0))
        abort();
    // Every source and destination has exactly one number per level.
    const int levels = scalar(QStringLiteral("SELECT COUNT(*) FROM Lvl"));
    const int groups = scalar(QStringLiteral("SELECT COUNT(*) FROM Grp"));
    if (scalar(QStringLiteral("SELECT COUNT(*) FROM GrpDfn")) != levels * groups)
        abort();
    // A failed load leaves the default system, never a half-built one.
    if (!ok && (levels != 4 || groups != 32))
        abort();
    // The rebuild runs with foreign keys off; they are on again afterwards,
    // and no row refers to one that is not there.
    if (scalar(QStringLiteral("PRAGMA foreign_keys")) != 1)
        abort();
    {
        QSqlQuery check(g_db->database());
        if (!check.exec(QStringLiteral("PRAGMA foreign_key_check")) || check.next())
            abort();
    }
    // Stored names are upper case, 1..8 characters, without commas. Checked
    // here rather than in SQL, whose LENGTH() stops at an embedded NUL.
    QSqlQuery q(g_db->database());
    if (!q.exec(QStringLiteral("SELECT GPNAME FROM Grp UNION ALL SELECT LVNAME FROM Lvl UNION ALL "
                               "SELECT CNNAME FROM Controller UNION ALL SELECT GSNAME FROM GrpSet")))
        abort();
    while (q.next()) {
        const QString name = q.value(0).toString();
        if (name.isEmpty() || name.size() > 8 || name.contains(QLatin1Char(',')) || name != name.toUpper())
            abort();
    }
    return 0;
}
