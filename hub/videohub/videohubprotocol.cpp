// The Videohub block reader, request parser and block writer.
#include "videohubprotocol.h"

#include <array>

namespace exel::hub {

namespace {

// Headers a listener answers, queried with an empty block.
const std::array<const char *, 7> kKnown { "PROTOCOL PREAMBLE", "VIDEOHUB DEVICE", "INPUT LABELS", "OUTPUT LABELS",
    "VIDEO OUTPUT LOCKS", "VIDEO OUTPUT ROUTING", "CONFIGURATION" };

// A 0-based port number: digits only, below limit.
bool portNumber(const QByteArray &text, int limit, int &out)
{
    if (text.isEmpty() || text.size() > 4)
        return false;
    int n = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + (c - '0');
    }
    if (n >= limit)
        return false;
    out = n;
    return true;
}

// "a b" -> a, b (the first run of spaces or tabs splits).
bool splitItem(const QByteArray &item, QByteArray &first, QByteArray &rest)
{
    qsizetype sp = 0;
    while (sp < item.size() && item[sp] != ' ' && item[sp] != '\t')
        ++sp;
    if (sp == item.size())
        return false;
    first = item.left(sp);
    qsizetype r = sp;
    while (r < item.size() && (item[r] == ' ' || item[r] == '\t'))
        ++r;
    rest = item.mid(r);
    return true;
}

VideohubRequest bad(VideohubRequest r, const QString &why)
{
    r.kind = VideohubRequest::Kind::Bad;
    r.problem = why;
    r.routes.clear();
    r.locks.clear();
    r.labels.clear();
    return r;
}

} // namespace

QString VideohubBlockReader::faultText(Fault fault)
{
    switch (fault) {
    case Fault::None:
        return QString();
    case Fault::LineTooLong:
        return QStringLiteral("a line longer than %1 characters").arg(kMaxLine);
    case Fault::BlockTooLong:
        return QStringLiteral("a block of more than %1 items").arg(kMaxItems);
    case Fault::Binary:
        return QStringLiteral("binary data (control characters)");
    }
    return QString();
}

VideohubBlockReader::Fault VideohubBlockReader::feed(const char *data, qsizetype size, std::vector<VideohubBlock> &out)
{
    for (qsizetype i = 0; i < size && m_fault == Fault::None; ++i) {
        const char c = data[i];
        if (c == '\n') {
            endLine(out);
            continue;
        }
        const auto u = static_cast<unsigned char>(c);
        // Text only: tabs and CR are allowed, UTF-8 labels too; anything
        // else below space is not this protocol.
        if ((u < 0x20 && c != '\t' && c != '\r') || u == 0x7f) {
            m_fault = Fault::Binary;
            break;
        }
        if (m_line.size() >= kMaxLine) {
            m_fault = Fault::LineTooLong;
            break;
        }
        m_line.append(c);
    }
    return m_fault;
}

void VideohubBlockReader::endLine(std::vector<VideohubBlock> &out)
{
    QByteArray line = std::move(m_line);
    m_line.clear();
    while (!line.isEmpty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
        line.chop(1);
    if (line.isEmpty()) {
        if (m_inBlock) {
            out.push_back(std::move(m_block));
            m_block = VideohubBlock {};
            m_inBlock = false;
        }
        return; // blank lines between blocks are nothing
    }
    if (!m_inBlock) {
        m_block.header = line;
        m_inBlock = true;
        return;
    }
    if (static_cast<int>(m_block.items.size()) >= kMaxItems) {
        m_fault = Fault::BlockTooLong;
        return;
    }
    m_block.items.push_back(line);
}

bool videohubKnownBlock(const QByteArray &header)
{
    for (const char *k : kKnown) {
        if (header == k)
            return true;
    }
    return false;
}

VideohubRequest parseVideohubBlock(const VideohubBlock &block, int inputs, int outputs)
{
    using Kind = VideohubRequest::Kind;
    VideohubRequest r;
    if (!block.header.endsWith(':'))
        return bad(r, QStringLiteral("not a block header: \"%1\"").arg(QString::fromUtf8(block.header.left(40))));
    r.header = block.header.chopped(1);
    if (r.header == "PING") {
        if (!block.items.empty())
            return bad(r, QStringLiteral("PING with items"));
        r.kind = Kind::Ping;
        return r;
    }
    if (!videohubKnownBlock(r.header))
        return bad(r, QStringLiteral("unknown block \"%1\"").arg(QString::fromUtf8(r.header.left(40))));
    if (block.items.empty()) {
        r.kind = Kind::Query;
        return r;
    }
    const QString at = QString::fromUtf8(r.header);
    auto itemText = [](const QByteArray &item) { return QString::fromUtf8(item.left(40)); };
    if (r.header == "VIDEO OUTPUT ROUTING") {
        r.kind = Kind::Routing;
        for (const QByteArray &item : block.items) {
            QByteArray a, b;
            int out = 0, in = 0;
            if (!splitItem(item, a, b) || !portNumber(a, outputs, out) || !portNumber(b, inputs, in))
                return bad(r, QStringLiteral("%1: bad or out-of-range item \"%2\"").arg(at, itemText(item)));
            r.routes.emplace_back(out, in);
        }
        return r;
    }
    if (r.header == "VIDEO OUTPUT LOCKS") {
        r.kind = Kind::Locks;
        for (const QByteArray &item : block.items) {
            QByteArray a, b;
            int out = 0;
            if (!splitItem(item, a, b) || !portNumber(a, outputs, out) || b.size() != 1
                || (b[0] != 'O' && b[0] != 'U' && b[0] != 'F'))
                return bad(r, QStringLiteral("%1: bad or out-of-range item \"%2\"").arg(at, itemText(item)));
            r.locks.emplace_back(out, b[0]);
        }
        return r;
    }
    if (r.header == "INPUT LABELS" || r.header == "OUTPUT LABELS") {
        r.kind = Kind::Labels;
        r.inputLabels = r.header == "INPUT LABELS";
        const int limit = r.inputLabels ? inputs : outputs;
        for (const QByteArray &item : block.items) {
            QByteArray a, b;
            int n = 0;
            if (!splitItem(item, a, b))
                a = item; // "5" alone: an empty label
            if (!portNumber(a, limit, n))
                return bad(r, QStringLiteral("%1: bad or out-of-range item \"%2\"").arg(at, itemText(item)));
            r.labels.emplace_back(n, QString::fromUtf8(b));
        }
        return r;
    }
    // The device, preamble and configuration blocks are not set by clients.
    return bad(r, QStringLiteral("%1 cannot be changed").arg(at));
}

QByteArray videohubItem(int number, const QByteArray &text)
{
    return QByteArray::number(number) + ' ' + text;
}

void appendVideohubBlock(QByteArray &out, const char *header, const std::vector<QByteArray> &items)
{
    out += header;
    out += ":\n";
    for (const QByteArray &item : items) {
        out += item;
        out += '\n';
    }
    out += '\n';
}

} // namespace exel::hub
