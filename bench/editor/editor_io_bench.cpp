// Import and export of a 34,000-line configuration (and of the same system at
// 2x and 4x the size) through the editor's database, against the sqlite3
// tool's .import of the same rows into the same tables (the floor for raw
// insertion), the two interleaved run by run.
#include "../benchkit.h"
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
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    std::printf("editor_io_bench: import against sqlite3 .import of the same rows into the same tables,\n"
                "interleaved run by run, medians of %d runs each\n",
        runs);
    benchkit::printLoad("before");

    ScriptedDialogs dialogs;
    SettingsStore settings(dir.path());
    XelCfgDb db(&dialogs, dir.path() + "/CFGDB.mdb");
    if (!db.Init()) {
        std::fprintf(stderr, "cannot open database: %s\n", qPrintable(db.lastError()));
        return 1;
    }
    XelCfgLoadUtilities io(db, dialogs, settings);
    double baseImport = 0;
    int refNo = 0;
    // A second argument stops after that size (1, 2 or 4), for profiling.
    const int maxScale = argc > 2 ? std::max(1, atoi(argv[2])) : 4;
    for (int scale : { 1, 2, 4 }) {
        if (scale > maxScale)
            break;
        const int items = 1000 * scale;
        const QStringList lines = generateSystemConfig(items, items, 16, 2, 100);
        const QString cfg = dir.path() + QString("/BIG%1.CFG").arg(scale);
        ErrorInfo err;
        writeFileAtomic(cfg, crlfText(lines), err);
        const QString script = writeCsv(dir.path(), lines);
        std::vector<double> imports, exports, reference;
        bool ok = true;
        for (int i = 0; i < runs && ok; ++i) {
            // Reference: a fresh database with the same schema, made before the clock starts.
            const QString refDb = dir.path() + QString("/ref%1.mdb").arg(refNo++);
            {
                XelCfgDb empty(&dialogs, refDb);
                empty.Init();
            }
            auto product = [&] {
                imports.push_back(benchkit::msOf([&] { ok = io.LoadConfigurationFile(cfg); }));
                if (!ok)
                    std::fprintf(stderr, "import failed: %s\n", qPrintable(io.lastFailure()));
            };
            auto floor = [&] {
                QProcess p;
                reference.push_back(benchkit::msOf([&] {
                    p.start("sqlite3", { refDb });
                    p.write(script.toLatin1());
                    p.closeWriteChannel();
                    p.waitForFinished(60000);
                }));
                if (p.exitCode() != 0 || !p.readAllStandardError().isEmpty()) {
                    std::fprintf(stderr, "sqlite3 reference failed\n");
                    ok = false;
                }
            };
            benchkit::alternate(i, product, floor);
            QFile::remove(refDb);
            if (ok) {
                dialogs.queueAnswer(MsgAnswer::Cancel);
                exports.push_back(benchkit::msOf([&] { io.SaveConfigurationFile(dir.path() + "/OUT.CFG"); }));
            }
        }
        if (!ok)
            return 1;
        const double imp = benchkit::median(imports), exp = benchkit::median(exports),
                     ref = benchkit::median(reference);
        if (scale == 1)
            baseImport = imp;
        std::printf("  %dx %6lld lines: import %7.1f ms, sqlite3 .import %6.1f ms, ratio %.2f (goal <= 2)%s", scale,
            static_cast<long long>(lines.size()), imp, ref, imp / ref, imp / ref <= 2 ? "" : " MISSED");
        if (scale > 1)
            std::printf(", growth %.2f of 1x (linear: %d)", imp / baseImport, scale);
        std::printf("; export %6.1f ms\n", exp);
    }
    std::printf("  (targets for the 1x file: import < 2000 ms, export < 500 ms)\n");
    benchkit::printLoad("after");
    return 0;
}
