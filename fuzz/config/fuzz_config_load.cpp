// Fuzz target: a whole configuration file through both passes of the panel's
// reader, then every lookup the key banks use on what was loaded.
#include "configreader.h"

#include <QByteArray>
#include <QStringList>

#include <cstddef>
#include <cstdint>

using namespace exel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromLatin1(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' || text[i] == u'\n') {
            lines << text.mid(start, i - start);
            start = i + 1;
        }
    }
    lines << text.mid(start);

    StatandConfig model;
    LoadConfigLines(model, lines, QStringLiteral("FUZZ"));
    for (int s = 0; s < model.nameSetCount(); ++s) {
        const auto dests = model.NameSetDestinationList(s);
        model.ActiveLevels(dests);
        for (const ListEntry &e : model.NameSetSourceList(s))
            model.SourceNumbers(e.index);
    }
    for (int l = 0; l < model.levelCount(); ++l)
        model.FindLevelByController(model.level(l).controllerAddress, model.level(l).levelNumber);

    // Each line on its own against the loaded tables.
    for (const QString &line : lines)
        ParseConfigLine(model, line);
    return 0;
}
