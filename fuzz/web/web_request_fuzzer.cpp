// Fuzzes the web panel's readers: the bytes as the start of an HTTP
// connection (each request read in turn, as the server does), and the same
// bytes as one WebSocket message against a small router. Checks what the
// server relies on: a reader never claims more bytes than it has, a body
// never passes its limit, and every command read names only what the
// configuration has.
#include "configreader.h"
#include "webprotocol.h"

#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace exel;
using namespace exel::hub;

namespace {

const StatandConfig &model()
{
    static StatandConfig m;
    static bool loaded = false;
    if (!loaded) {
        QStringList lines { QStringLiteral("CTL,R1,0,2"), QStringLiteral("LVL,VIDEO,R1,1,8,8"),
            QStringLiteral("LVL,AUDIO,R1,2,8,8") };
        for (int i = 1; i <= 4; ++i) {
            for (const char *lvl : { "VIDEO", "AUDIO" }) {
                lines << QStringLiteral("SRC,CAM%1,%2,%1").arg(i).arg(QLatin1String(lvl));
                lines << QStringLiteral("DST,MON%1,%2,%1").arg(i).arg(QLatin1String(lvl));
            }
        }
        if (!LoadConfigLines(m, lines, QStringLiteral("FUZZ")).ok())
            std::abort();
        loaded = true;
    }
    return m;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const HttpLimits limits { 512, 256 };
    QByteArray rest = bytes;
    for (int i = 0; i < 64 && !rest.isEmpty(); ++i) {
        const HttpParse p = parseHttpRequest(rest, limits);
        if (p.status != HttpParse::Status::Complete)
            break;
        if (p.consumed <= 0 || p.consumed > rest.size() || p.request.body.size() > limits.maxBody
            || !p.request.path.startsWith(QLatin1Char('/')))
            std::abort();
        p.request.cookie(QStringLiteral("xelhub_session"));
        p.request.isWebSocketUpgrade();
        rest = rest.mid(p.consumed);
    }

    const StatandConfig &m = model();
    WebCommand c;
    QString error;
    if (parseWebMessage(bytes, m, c, error, 4096)) {
        if (c.op == WebCommand::Op::Take || c.op == WebCommand::Op::Lock) {
            if (!m.isValidDestination(c.destination))
                std::abort();
        }
        if (c.op == WebCommand::Op::Take) {
            bool any = false;
            if (c.sources.size() != static_cast<size_t>(m.levelCount()))
                std::abort();
            for (const int16_t s : c.sources) {
                if (s >= 0 && !m.isValidSource(s))
                    std::abort();
                any = any || s >= 0;
            }
            if (!any)
                std::abort();
        }
        for (const int d : c.destinations) {
            if (!m.isValidDestination(d))
                std::abort();
        }
        if (c.op == WebCommand::Op::Undo && c.id < 1)
            std::abort();
    } else if (error.isEmpty()) {
        std::abort();
    }
    return 0;
}
