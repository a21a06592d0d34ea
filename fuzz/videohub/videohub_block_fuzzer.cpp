// Fuzzes the Videohub block reader and request parser: the bytes a client
// sends, cut into pieces where the first byte says, read as the server reads
// them. Checks what the server relies on: every line and block bounded, a
// fault final, pieces read the same as the whole, and every request it acts
// on holds only ports of the listener (the second byte sets its size).
#include "videohubprotocol.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace exel::hub;

namespace {

void check(const std::vector<VideohubBlock> &blocks, int ports)
{
    for (const VideohubBlock &b : blocks) {
        if (b.header.isEmpty() || b.header.size() > VideohubBlockReader::kMaxLine
            || static_cast<int>(b.items.size()) > VideohubBlockReader::kMaxItems)
            std::abort();
        const VideohubRequest r = parseVideohubBlock(b, ports, ports);
        for (const auto &[out, in] : r.routes) {
            if (out < 0 || out >= ports || in < 0 || in >= ports)
                std::abort();
        }
        for (const auto &[out, what] : r.locks) {
            if (out < 0 || out >= ports || (what != 'O' && what != 'U' && what != 'F'))
                std::abort();
        }
        for (const auto &label : r.labels) {
            if (label.first < 0 || label.first >= ports)
                std::abort();
        }
        if (r.kind == VideohubRequest::Kind::Bad && (!r.routes.empty() || !r.locks.empty() || r.problem.isEmpty()))
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const size_t cut = data[0];
    const int ports = data[1] * 4 + 1;
    const char *bytes = reinterpret_cast<const char *>(data + 2);
    const qsizetype n = static_cast<qsizetype>(size - 2);

    VideohubBlockReader reader;
    std::vector<VideohubBlock> pieces;
    VideohubBlockReader::Fault fault = VideohubBlockReader::Fault::None;
    for (qsizetype at = 0; at < n;) {
        const qsizetype piece = std::min<qsizetype>(n - at, static_cast<qsizetype>(cut % 64) + 1);
        const VideohubBlockReader::Fault f = reader.feed(bytes + at, piece, pieces);
        if (fault != VideohubBlockReader::Fault::None && f != fault)
            std::abort(); // a fault is final
        fault = f;
        at += piece;
    }
    check(pieces, ports);

    VideohubBlockReader whole;
    std::vector<VideohubBlock> once;
    if (whole.feed(bytes, n, once) != fault || once.size() != pieces.size())
        std::abort();
    for (size_t i = 0; i < once.size(); ++i) {
        if (once[i].header != pieces[i].header || once[i].items != pieces[i].items)
            std::abort();
    }
    return 0;
}
