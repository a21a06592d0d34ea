// The Videohub Ethernet protocol as pure functions: the block reader (bytes
// in, blocks out, every size bounded), the parser of a client's block into a
// request, and the writer of blocks. No sockets here; the server and the fuzz
// target drive these.
//
// On the wire a block is a header line ending in ':', one item per line and a
// blank line; numbers are 0-based. Lines end in LF (a CR before it is taken
// off).
#pragma once

#include <QByteArray>
#include <QString>

#include <utility>
#include <vector>

namespace exel::hub {

struct VideohubBlock {
    QByteArray header; // as sent, without the line end ("VIDEO OUTPUT ROUTING:")
    std::vector<QByteArray> items;
};

class VideohubBlockReader {
public:
    static constexpr int kMaxLine = 1024; // characters in one line
    static constexpr int kMaxItems = 2048; // items in one block (a 999-output dump fits twice)

    enum class Fault { None, LineTooLong, BlockTooLong, Binary };

    // Takes the next bytes; every block they complete is appended to out.
    // After a fault nothing more is read and the fault is returned again.
    Fault feed(const char *data, qsizetype size, std::vector<VideohubBlock> &out);
    Fault fault() const { return m_fault; }
    static QString faultText(Fault fault);

private:
    void endLine(std::vector<VideohubBlock> &out);

    QByteArray m_line;
    VideohubBlock m_block;
    bool m_inBlock = false;
    Fault m_fault = Fault::None;
};

struct VideohubRequest {
    enum class Kind {
        Ping, // PING: answered ACK
        Query, // a known header with no items: its current state
        Routing, // VIDEO OUTPUT ROUTING: with items
        Locks, // VIDEO OUTPUT LOCKS: with items
        Labels, // INPUT LABELS: or OUTPUT LABELS: with items
        Bad // NAK: unknown block, number out of range, bad item
    };
    Kind kind = Kind::Bad;
    QByteArray header; // the block's header without ':'
    std::vector<std::pair<int, int>> routes; // output, input
    std::vector<std::pair<int, char>> locks; // output, 'O' lock, 'U' unlock, 'F' force open
    std::vector<std::pair<int, QString>> labels; // number, text
    bool inputLabels = false; // Labels: INPUT LABELS (else OUTPUT LABELS)
    QString problem; // Bad: why, for the log
};

// A client's block, checked against the listener's input and output counts:
// every item must be good or the whole block is refused.
VideohubRequest parseVideohubBlock(const VideohubBlock &block, int inputs, int outputs);

// The blocks a listener serves, by header (without ':').
bool videohubKnownBlock(const QByteArray &header);

// One block: header (without ':'), items, blank line.
void appendVideohubBlock(QByteArray &out, const char *header, const std::vector<QByteArray> &items);
// An item "number text".
QByteArray videohubItem(int number, const QByteArray &text);

} // namespace exel::hub
