// Fuzz target: an arbitrary query file (whatever a controller sent) through
// the record reader, the counting pass and the conversion, then the written
// configuration through the panel's reader and onto the key banks.
#include "configr7x0.h"
#include "configreader.h"
#include "keybanks.h"

#include <QByteArray>
#include <QStringList>

#include <cstddef>
#include <cstdint>

using namespace exel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 65536)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));

    // The answer splitter as the query conversation uses it.
    QString answer = QString::fromLatin1(bytes.left(512));
    QStringList fields;
    const int n = SplitText(QStringLiteral("*"), answer, fields);
    if (n < 0 || fields.size() != n + 1)
        __builtin_trap();

    QueryCounts counts;
    ErrorInfo error;
    if (!SizeFromQueryData(bytes, counts, error))
        return 0;
    QStringList lines;
    if (!TransferQueryData(bytes, counts, lines).ok)
        return 0;

    StatandConfig model;
    LoadConfigLines(model, lines, QStringLiteral("FUZZ"));
    KeyBanks banks(model);
    banks.load1stSystem();
    banks.btnDestination_Click(0);
    banks.btnLevel_Click(0);
    banks.LabelDstStatus_Click(5);
    return 0;
}
