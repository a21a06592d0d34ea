// Load time of large configuration files through the panel's reader: the
// 1,000 x 1,000 system on 16 levels of two controllers (about 34,000 lines)
// and the same system doubled, to show that the load grows linearly.
#include "configreader.h"
#include "sysgen.h"
#include "textfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace exel;

namespace {

double medianLoadMs(const QString &path, int runs, int *lineCount)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        StatandConfig model;
        QElapsedTimer t;
        t.start();
        const ConfigLoadResult r = LoadConfigFile(model, path);
        times.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        if (!r.ok()) {
            std::fprintf(stderr, "load failed at line %d: %s\n", r.lineNumber, qPrintable(r.reason));
            return -1;
        }
    }
    QStringList lines;
    ErrorInfo err;
    readTextLines(path, lines, err);
    *lineCount = static_cast<int>(lines.size());
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

QString writeSystem(const QString &dir, const QString &name, int items)
{
    const QString path = dir + QLatin1Char('/') + name;
    ErrorInfo err;
    writeFileAtomic(path, crlfText(generateSystemConfig(items, items, 16, 2, 100)), err);
    return path;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 15;
    QTemporaryDir dir;
    const QString base = writeSystem(dir.path(), QStringLiteral("BASE.CFG"), 1000);
    const QString twice = writeSystem(dir.path(), QStringLiteral("DOUBLE.CFG"), 2000);
    int baseLines = 0;
    int twiceLines = 0;
    const double baseMs = medianLoadMs(base, runs, &baseLines);
    const double twiceMs = medianLoadMs(twice, runs, &twiceLines);
    std::printf("config load, median of %d runs\n", runs);
    std::printf("  %6d lines (1000 src x 1000 dst, 16 levels): %8.2f ms   (target < 50 ms)\n", baseLines, baseMs);
    std::printf("  %6d lines (2000 src x 2000 dst, 16 levels): %8.2f ms\n", twiceLines, twiceMs);
    std::printf("  ratio doubled/base: %.2f   (linear growth ~2)\n", twiceMs / baseMs);
    return baseMs < 0 || twiceMs < 0 ? 1 : 0;
}
