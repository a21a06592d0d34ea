// Import and export of a 34,000-line configuration through the editor's
// database, against the sqlite3 tool's .import of the same rows into the same
// tables (the floor for raw insertion).
#include "dialogs.h"
#include "settingsstore.h"
#include "sysgen.h"
#include "textfile.h"
#include "xelcfgdb.h"
#include "xelcfgloadutilities.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace exel;

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double timeMs(const std::function<void()> &f)
{
    QElapsedTimer t;
    t.start();
    f();
    return t.nsecsElapsed() / 1e6;
}

// The rows of the generated system as CSV files, one per table, with keys.
QString writeCsv(const QString &dir, const QStringList &lines)
{
    QHash<QString, int> ctl, lvl, src, dst, sets;
    QStringList c, l, g, d, s, sd;
    auto id = [](QHash<QString, int> &h, const QString &n, int base = 0) {
        auto it = h.find(n);
        if (it != h.end())
            return *it;
        return *h.insert(n, base + int(h.size()) + 1);
    };
    for (const QString &line : lines) {
        const QStringList f = line.split(',');
        if (f[0] == "CTL") {
            c << QString("%1,%2,%3,%4").arg(id(ctl, f[1])).arg(f[1], f[2], f[3]);
        } else if (f[0] == "LVL") {
            const int n = id(lvl, f[1]);
            l << QString("%1,%2,%3,%4,%5,%6,%7").arg(n).arg(f[1]).arg(n).arg(ctl[f[2]]).arg(f[3], f[4], f[5]);
        } else if (f[0] == "SRC" || f[0] == "DST") {
            QHash<QString, int> &h = f[0] == "SRC" ? src : dst;
            const bool fresh = !h.contains(f[1]);
            const int n = id(h, f[1], f[0] == "SRC" ? 0 : 1000000);
            if (fresh)
                g << QString("%1,%2,%3").arg(n).arg(f[1], f[0]);
            d << QString("%1,%2,%3").arg(n).arg(lvl[f[2]]).arg(f[3]);
        } else if (f[0] == "SNS" || f[0] == "SND") {
            const bool fresh = !sets.contains(f[1]);
            const int n = id(sets, f[1]);
            if (fresh)
                s << QString("%1,%2").arg(n).arg(f[1]);
            sd << QString("%1,%2").arg(n).arg((f[0] == "SNS" ? src : dst)[f[2]]);
        }
    }
    QString script = ".mode csv\n";
    const std::pair<const char *, QStringList *> tables[] = { { "Controller", &c }, { "Lvl", &l }, { "Grp", &g },
        { "GrpDfn", &d }, { "GrpSet", &s }, { "GrpSetDfn", &sd } };
    for (const auto &[name, rows] : tables) {
        const QString path = dir + "/" + name + ".csv";
        ErrorInfo e;
        writeFileAtomic(path, (rows->join('\n') + '\n').toLatin1(), e);
        script += QString(".import %1 %2\n").arg(path, name);
    }
    return script;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const int runs = 5;
    const QStringList lines = generateSystemConfig(1000, 1000, 16, 2, 100);
    const QString cfg = dir.path() + "/BIG.CFG";
    ErrorInfo err;
    writeFileAtomic(cfg, crlfText(lines), err);

    ScriptedDialogs dialogs;
    SettingsStore settings(dir.path());
    XelCfgDb db(&dialogs, dir.path() + "/CFGDB.mdb");
    if (!db.Init()) {
        std::fprintf(stderr, "cannot open database: %s\n", qPrintable(db.lastError()));
        return 1;
    }
    XelCfgLoadUtilities io(db, dialogs, settings);
    std::vector<double> imports, exports, reference;
    for (int i = 0; i < runs; ++i) {
        bool ok = true;
        imports.push_back(timeMs([&] { ok = io.LoadConfigurationFile(cfg); }));
        if (!ok) {
            std::fprintf(stderr, "import failed: %s\n", qPrintable(io.lastFailure()));
            return 1;
        }
        dialogs.queueAnswer(MsgAnswer::Cancel);
        exports.push_back(timeMs([&] { io.SaveConfigurationFile(dir.path() + "/OUT.CFG"); }));
    }

    // Reference: a fresh database with the same schema, filled by sqlite3 .import.
    const QString script = writeCsv(dir.path(), lines);
    for (int i = 0; i < runs; ++i) {
        const QString refDb = dir.path() + QString("/ref%1.mdb").arg(i);
        {
            XelCfgDb empty(&dialogs, refDb);
            empty.Init();
        }
        QProcess p;
        reference.push_back(timeMs([&] {
            p.start("sqlite3", { refDb });
            p.write(script.toLatin1());
            p.closeWriteChannel();
            p.waitForFinished(60000);
        }));
        if (p.exitCode() != 0 || !p.readAllStandardError().isEmpty()) {
            std::fprintf(stderr, "sqlite3 reference failed\n");
            return 1;
        }
    }
    const double imp = median(imports), exp = median(exports), ref = median(reference);
    std::printf("editor_io_bench: %lld lines, medians of %d runs\n", static_cast<long long>(lines.size()), runs);
    std::printf(
        "  import  %8.1f ms  (target < 2000 ms)  %.1fx the sqlite3 .import reference\n", imp, runs ? imp / ref : 0);
    std::printf("  export  %8.1f ms  (target <  500 ms)\n", exp);
    std::printf("  sqlite3 .import of the same rows  %8.1f ms\n", ref);
    return 0;
}
