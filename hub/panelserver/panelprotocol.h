// The controller's line protocol as the hub serves it to panels, without any
// I/O: the request reader (bytes to checksum-checked request lines, bounded),
// the request parser, and the answer writer (the hub's state in the
// controller's own answer layout, with valid checksums).
#pragma once

#include "routerstate.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

namespace exel::hub {

struct PanelRequest {
    enum class Kind {
        Command, // a line with a good checksum; body holds it without the checksum
        BadChecksum, // a line whose checksum does not match (or too short to carry one)
        TooLong, // more than kMaxLine characters without a line end
    };
    Kind kind = Kind::Command;
    QString body;
};

// Splits what a client sends into request lines. A line ends at CR or LF;
// empty lines (the LF after a CR) are skipped. No request is longer than
// kMaxLine characters: a longer one is reported once as TooLong and the rest
// of it, up to its line end, is skipped, so memory stays bounded whatever
// arrives.
class PanelRequestReader {
public:
    static constexpr int kMaxLine = 512;

    void feed(const char *data, qsizetype size, std::vector<PanelRequest> &out);
    void feed(const QByteArray &bytes, std::vector<PanelRequest> &out) { feed(bytes.constData(), bytes.size(), out); }
    // Characters of a line not yet ended.
    qsizetype pending() const { return m_line.size(); }

private:
    QByteArray m_line;
    bool m_skipping = false;
};

struct PanelCommand {
    enum class Kind {
        Status, // Yddd
        Locks, // WS
        Take, // Hddd[iii...]
        LockToggle, // LSddd
        Identity, // KCI
        Query, // KQLEV KQDST KQSRC KQRTY KQSTL
        QueryNext, // KQ
        Repeat, // QSR
        Unknown, // anything else: a controller answers "E"
        Malformed, // a known command with a bad shape: "E" as well
        BadAddress, // an address prefix no 16-bit controller address can be: no answer
    };
    Kind kind = Kind::Unknown;
    bool hasAddress = false;
    int16_t address = 0;
    int output = 0; // 1-based, Status, Take, LockToggle
    std::vector<int16_t> inputs; // Take: per controller level, 1-based, 0 unchanged
    QString text; // the command without its address prefix
};

// Reads a request body ([address]command, checksum removed).
PanelCommand parsePanelCommand(QStringView body);

// The answers as the controller frames them.
// "ddd" + status characters + one "iii" per level, checksum, CR LF.
QByteArray statusAnswer(int output, const OutputStatus &status);
// One '1' or '0' per output, checksum, CR LF.
QByteArray locksAnswer(const std::vector<bool> &locks);
// A reply body relayed as the controller sent it: one character without
// checksum ("G" CR LF), a longer one framed.
QByteArray relayAnswer(const QString &body);

} // namespace exel::hub
