// Load time of large configuration files through the panel's reader against
// its floor, measured in the same process and interleaved run by run: a plain
// C++ reading of the same file twice (getline, split on commas, hash the name
// field), which is the least any two-pass reader must do. The 1,000 x 1,000
// system on 16 levels of two controllers (about 34,000 lines), then the same
// system at 2x and 4x the size, to show that the load grows linearly.
#include "../benchkit.h"
#include "configreader.h"
#include "sysgen.h"
#include "textfile.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

using namespace exel;

namespace {

size_t g_sink = 0; // keeps the floor's work from being optimised away

// The floor: two passes of getline, split at commas, hash field 1.
void plainTwoPassRead(const std::string &path)
{
    std::vector<std::string_view> fields;
    for (int pass = 0; pass < 2; ++pass) {
        std::ifstream in(path, std::ios::binary);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            fields.clear();
            std::string_view rest(line);
            for (;;) {
                const size_t comma = rest.find(',');
                fields.push_back(rest.substr(0, comma));
                if (comma == std::string_view::npos)
                    break;
                rest.remove_prefix(comma + 1);
            }
            if (fields.size() > 1)
                g_sink += std::hash<std::string_view> {}(fields[1]);
        }
    }
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
    std::printf("config load: the panel's reader against a plain two-pass read of the same file,\n"
                "interleaved run by run, medians of %d runs each\n",
        runs);
    benchkit::printLoad("before");
    double baseMs = 0;
    bool allOk = true;
    for (int scale : { 1, 2, 4 }) {
        const int items = 1000 * scale;
        const QString path = writeSystem(dir.path(), QStringLiteral("SYS%1.CFG").arg(scale), items);
        QStringList lines;
        ErrorInfo err;
        readTextLines(path, lines, err);
        const std::string plainPath = path.toStdString();
        bool ok = true;
        const benchkit::Pair pair = benchkit::interleaved(
            runs,
            [&] {
                StatandConfig model;
                const ConfigLoadResult r = LoadConfigFile(model, path);
                if (!r.ok())
                    std::fprintf(stderr, "load failed at line %d: %s\n", r.lineNumber, qPrintable(r.reason));
                return r.ok();
            },
            [&] { plainTwoPassRead(plainPath); }, ok);
        allOk = allOk && ok;
        if (scale == 1)
            baseMs = pair.product;
        std::printf("  %3dx %6lld lines (%4d src x %4d dst, 16 levels): reader %8.2f ms, floor %7.2f ms, "
                    "ratio %.2f (goal <= 2)%s",
            scale, static_cast<long long>(lines.size()), items, items, pair.product, pair.floor, pair.ratio(),
            pair.ratio() <= 2 ? "" : " MISSED");
        if (scale > 1)
            std::printf(", growth %.2f of 1x (linear: %d)", pair.product / baseMs, scale);
        std::printf("\n");
    }
    std::printf("  (target for the 1x load < 50 ms; floor checksum %zu)\n", g_sink % 10);
    benchkit::printLoad("after");
    return allOk ? 0 : 1;
}
