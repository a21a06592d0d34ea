// Fuzzes the MQTT server's command reader with any payload a client can
// publish. Checks what the server relies on: a command read is well formed
// (its names within the limits, a take with a source or levels, never both),
// a refusal always has a reason, and the error reply built from it is JSON.
#include "mqttprotocol.h"

#include <QJsonDocument>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace exel::hub;
using namespace exel::hub::mqtt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    CommandLimits limits;
    limits.maxBytes = 4096;
    limits.maxNameChars = 64;
    limits.maxLevels = 8;
    const QByteArrayView payload(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    Command c;
    QString why;
    if (!readCommand(payload, limits, c, why)) {
        if (why.isEmpty())
            std::abort();
        if (QJsonDocument::fromJson(errorReply(c.tag, why)).isNull())
            std::abort();
        return 0;
    }
    auto bounded = [&](const QString &s) { return !s.isEmpty() && s.size() <= limits.maxNameChars; };
    switch (c.kind) {
    case Command::Kind::Salvo:
        if (!bounded(c.salvo))
            std::abort();
        break;
    case Command::Kind::Take:
        if (c.source.isEmpty() == c.levels.empty() || static_cast<int>(c.levels.size()) > limits.maxLevels)
            std::abort();
        for (const auto &[level, source] : c.levels) {
            if (!bounded(level) || !bounded(source))
                std::abort();
        }
        [[fallthrough]];
    case Command::Kind::Lock:
    case Command::Kind::Unlock:
        if (!bounded(c.destination))
            std::abort();
        break;
    }
    return 0;
}
