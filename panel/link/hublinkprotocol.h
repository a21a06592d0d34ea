// The controller's line protocol without any I/O: checksums, framing, the
// answer check, the command texts of the link routines and the decoders of the
// status and lock-table replies.
#pragma once

#include "errorinfo.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>
#include <vector>

namespace exel {

// Default wait for an answer, in seconds, when a caller passes 0 or less.
constexpr int kHublinkDefaultTimeout = 2;

// Numbers on the wire are three decimal digits, 1-based: index 0 goes out as
// "001", so 998 is the highest index a command can carry.
constexpr int kHublinkMaxWireNumber = 999;

// Sum of the character codes modulo 256. Characters are taken as Latin-1
// bytes; anything outside Latin-1 counts as '?', which is what goes out.
int HublinkChecksum(QStringView text);

// The two checksum characters of text: '0' + high nibble, then '0' + low
// nibble, so they run from "0" to "?" and never use hexadecimal letters.
QString HublinkChecksumChars(QStringView text);

// One line as it goes on the wire: text, checksum characters, CR, LF.
QString HublinkFrame(QStringView text);

// What the wait loop learnt from the characters received so far.
struct HublinkAnswer {
    enum class Kind {
        Incomplete, // no CR LF yet: not an answer (at a time-out: bad, not silent)
        Good, // body holds the answer without checksum and line end
        Bad, // a line arrived but its checksum does not match
    };
    Kind kind = Kind::Incomplete;
    QString body;

    bool good() const { return kind == Kind::Good; }
};

// The answer check. The answer is the received text up to and including its
// first CR LF (anything after it is not part of this answer). Length 5 or
// more: the two characters before CR LF are the checksum of the text before
// them. Length 1 to 4: a short acknowledgement without checksum; the result is
// its first character alone.
HublinkAnswer HublinkCheckAnswer(QStringView received);

// Characters collected while waiting for one answer. It reports when a CR LF
// has arrived and caps its size, so that a peer that streams text without a
// line end cannot grow it without bound.
class HublinkReceiveBuffer {
public:
    static constexpr qsizetype kMaxChars = 65536;

    void clear();
    // Appends what arrived; returns true once the buffer holds a CR LF.
    bool append(QStringView chunk);
    bool hasLineEnd() const { return m_lineEnd >= 0; }
    // More than kMaxChars arrived without a line end; what was over is dropped.
    bool overflowed() const { return m_overflow; }
    bool isEmpty() const { return m_text.isEmpty(); }
    // Drops the first line (through its CR LF); what followed it stays.
    void dropFirstLine();
    const QString &text() const { return m_text; }
    // The answer check over what has arrived (Incomplete until a CR LF).
    HublinkAnswer answer() const;

private:
    QString m_text;
    qsizetype m_lineEnd = -1;
    bool m_overflow = false;
};

// Whether a good answer can be the answer to command (its text as sent,
// address prefix included, without checksum), by what the protocol defines of
// the answer: a status answer echoes the output asked about. Every other
// answer fits whatever characters it holds (a lock table marks a lock with any
// character but "0"; take, lock and query answers are the controller's own),
// and so do short answers (four characters or fewer), which carry nothing to
// match.
bool HublinkAnswerFits(QStringView command, QStringView body);

// Whether a good answer that arrived while command waits is the late answer
// to an earlier question rather than this one's. Only a question that went
// unanswered can still be answered late (unanswered: their command texts, as
// sent); the controller answers in order, so the late answer comes first. It
// is told apart by the protocol: an answer that does not fit command, or a
// status answer (longer than four characters) that echoes the output of an
// unanswered status question while command is not a status question for that
// output.
bool HublinkLateAnswer(QStringView command, QStringView body, const QStringList &unanswered);

// A command text built for the wire, or the reason it cannot be sent.
struct HublinkCommand {
    bool ok = false;
    QString text; // without checksum and line end
    QString error; // why it was refused
};

// Controller prefix: the address in decimal without leading zeros, nothing for 0.
// Destinations are 0-based indices sent as three 1-based digits; a source of
// -1 is sent as "000" (level left unchanged). Anything three digits cannot
// carry is refused, never sent wrapped or widened.
HublinkCommand HublinkYCommand(int intID, int intDst);
HublinkCommand HublinkWCommand(int intID);
HublinkCommand HublinkHCommand(int intID, int intNumLevs, int intDst, const std::vector<int16_t> &intSrc);
HublinkCommand HublinkLCommand(int intID, int intDst);

// A destination status reply decoded. intSrc and bolErr run 0..levels (two
// elements at least); every element past the last level is 0 / false.
// intSrc(i) is the input routed to controller level i, 0-based, -1 for none.
struct HublinkStatus {
    int16_t levels = 0;
    std::vector<int16_t> intSrc;
    std::vector<bool> bolErr;
};

// Decodes the reply of a Y command (checksum and line end already removed).
// False, with error 6 "Overflow", only when the reply claims more levels than
// a 16-bit count can hold.
bool HublinkDecodeStatus(QStringView reply, HublinkStatus &status, ErrorInfo &error);

// Decodes the reply of a WS command: element k is the lock flag of the output
// sent on the wire as k + 1; the last element is false and is not an output.
// An empty reply gives two false elements. False with error 6 when the reply
// has more characters than a 16-bit output number can address.
bool HublinkDecodeLocks(QStringView reply, std::vector<bool> &locks, ErrorInfo &error);

} // namespace exel
