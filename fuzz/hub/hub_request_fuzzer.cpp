// Fuzzes the panel server's request reader and parser: the bytes a client
// sends, cut into pieces where the first byte says, and the same bytes as
// lines framed with a correct checksum so the parser behind it is reached.
// Checks what the server relies on: bounded memory, and every request it
// hands on carries a good checksum and parses to a well-formed command.
#include "hublinkprotocol.h"
#include "panelprotocol.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace exel;
using namespace exel::hub;

namespace {

void check(const std::vector<PanelRequest> &requests)
{
    for (const PanelRequest &r : requests) {
        if (r.kind != PanelRequest::Kind::Command)
            continue;
        if (r.body.size() > PanelRequestReader::kMaxLine)
            std::abort();
        const PanelCommand c = parsePanelCommand(r.body);
        const bool numbered = c.kind == PanelCommand::Kind::Status || c.kind == PanelCommand::Kind::Take
            || c.kind == PanelCommand::Kind::LockToggle;
        if (numbered && (c.output < 1 || c.output > 999))
            std::abort();
        for (const int16_t input : c.inputs) {
            if (input < 0 || input > 999)
                std::abort();
        }
        if (c.address < 0)
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t cut = data[0];
    const char *bytes = reinterpret_cast<const char *>(data + 1);
    const qsizetype n = static_cast<qsizetype>(size - 1);

    PanelRequestReader reader;
    std::vector<PanelRequest> out;
    for (qsizetype at = 0; at < n;) {
        const qsizetype piece = std::min<qsizetype>(n - at, static_cast<qsizetype>(cut % 64) + 1);
        reader.feed(bytes + at, piece, out);
        if (reader.pending() > PanelRequestReader::kMaxLine)
            std::abort();
        at += piece;
    }
    check(out);

    // The same text as framed lines: each piece between line ends gets its checksum.
    QByteArray framed;
    for (const QByteArray &line : QByteArray(bytes, n).split('\n'))
        framed += HublinkFrame(QString::fromLatin1(line).remove(QLatin1Char('\r'))).toLatin1();
    PanelRequestReader again;
    out.clear();
    again.feed(framed, out);
    check(out);
    return 0;
}
