// Checksums, frames, answer check, command texts and reply decoders of the
// controller protocol.
#include "hublinkprotocol.h"

#include "numberrules.h"

#include <algorithm>
#include <cmath>

namespace exel {

namespace {

int latin1Code(QChar c)
{
    const char16_t u = c.unicode();
    return u <= 0xFF ? u : '?';
}

QString threeDigits(int wireNumber)
{
    return QStringLiteral("%1").arg(wireNumber, 3, 10, QLatin1Char('0'));
}

bool prefixText(int intID, QString &out, QString &error)
{
    if (intID < 0 || intID > kInt16Max) {
        error = QStringLiteral("Controller address %1 cannot be sent: it must be 0 to %2.").arg(intID).arg(kInt16Max);
        return false;
    }
    out = intID == 0 ? QString() : QString::number(intID);
    return true;
}

bool destinationText(int intDst, QString &out, QString &error)
{
    if (intDst < 0 || intDst + 1 > kHublinkMaxWireNumber) {
        error = QStringLiteral("Destination %1 cannot be sent: the controller takes outputs 1 to %2.")
                    .arg(intDst + 1)
                    .arg(kHublinkMaxWireNumber);
        return false;
    }
    out = threeDigits(intDst + 1);
    return true;
}

HublinkCommand refused(const QString &error)
{
    HublinkCommand c;
    c.error = error;
    return c;
}

HublinkCommand accepted(const QString &text)
{
    HublinkCommand c;
    c.ok = true;
    c.text = text;
    return c;
}

// Text before and including the first CR LF, or -1 when there is none.
qsizetype lineEndAt(QStringView text, qsizetype from)
{
    for (qsizetype i = std::max<qsizetype>(from, 1); i < text.size(); ++i) {
        if (text[i] == u'\n' && text[i - 1] == u'\r')
            return i;
    }
    return -1;
}

} // namespace

int HublinkChecksum(QStringView text)
{
    int sum = 0;
    for (const QChar c : text)
        sum = (sum + latin1Code(c)) % 256;
    return sum;
}

QString HublinkChecksumChars(QStringView text)
{
    const int sum = HublinkChecksum(text);
    QString out(2, QLatin1Char('0'));
    out[0] = QChar(u'0' + (sum >> 4));
    out[1] = QChar(u'0' + (sum & 0x0F));
    return out;
}

QString HublinkFrame(QStringView text)
{
    return text.toString() + HublinkChecksumChars(text) + QStringLiteral("\r\n");
}

HublinkAnswer HublinkCheckAnswer(QStringView received)
{
    HublinkAnswer a;
    const qsizetype end = lineEndAt(received, 0);
    if (end < 0)
        return a;
    // Only the first line is the answer: a peer that sends two lines in one
    // burst must not turn a good first answer into a checksum failure.
    const QStringView line = received.first(end + 1);
    if (line.size() <= 4) {
        a.kind = HublinkAnswer::Kind::Good;
        a.body = line.first(1).toString();
        return a;
    }
    const QStringView body = line.first(line.size() - 4);
    const int hi = line[line.size() - 4].unicode() - u'0';
    const int lo = line[line.size() - 3].unicode() - u'0';
    // Characters outside "0".."?" can never form the sum; they are simply a mismatch.
    const long expected = static_cast<long>(hi) * 16 + lo;
    if (expected == HublinkChecksum(body)) {
        a.kind = HublinkAnswer::Kind::Good;
        a.body = body.toString();
    } else {
        a.kind = HublinkAnswer::Kind::Bad;
    }
    return a;
}

void HublinkReceiveBuffer::clear()
{
    m_text.clear();
    m_lineEnd = -1;
    m_overflow = false;
}

bool HublinkReceiveBuffer::append(QStringView chunk)
{
    if (m_lineEnd >= 0)
        return true;
    const qsizetype from = std::max<qsizetype>(m_text.size() - 1, 0);
    const qsizetype room = kMaxChars - m_text.size();
    if (chunk.size() > room) {
        m_overflow = true;
        chunk = chunk.first(std::max<qsizetype>(room, 0));
    }
    m_text += chunk;
    m_lineEnd = lineEndAt(m_text, from);
    return m_lineEnd >= 0;
}

void HublinkReceiveBuffer::dropFirstLine()
{
    if (m_lineEnd < 0)
        return;
    m_text.remove(0, m_lineEnd + 1);
    m_lineEnd = lineEndAt(m_text, 0);
}

namespace {
// The command letters after the address prefix.
QStringView commandLetters(QStringView command)
{
    qsizetype p = 0;
    while (p < command.size() && command[p].isDigit())
        ++p;
    return command.sliced(p);
}

// The output a status question asks about, as it is echoed ("" for any other command).
QStringView statusEcho(QStringView command)
{
    const QStringView cmd = commandLetters(command);
    if (!cmd.startsWith(u'Y'))
        return {};
    return cmd.sliced(1).first(std::min<qsizetype>(3, cmd.size() - 1));
}
} // namespace

bool HublinkAnswerFits(QStringView command, QStringView body)
{
    if (body.size() <= 4)
        return true;
    if (commandLetters(command).startsWith(u'Y'))
        return body.startsWith(statusEcho(command));
    return true;
}

bool HublinkLateAnswer(QStringView command, QStringView body, const QStringList &unanswered)
{
    if (!HublinkAnswerFits(command, body))
        return true;
    if (body.size() <= 4 || commandLetters(command).startsWith(u'Y'))
        return false;
    for (const QString &earlier : unanswered) {
        const QStringView echo = statusEcho(earlier);
        if (!echo.isEmpty() && body.startsWith(echo))
            return true;
    }
    return false;
}

HublinkAnswer HublinkReceiveBuffer::answer() const
{
    return HublinkCheckAnswer(m_text);
}

HublinkCommand HublinkYCommand(int intID, int intDst)
{
    QString prefix, dst, error;
    if (!prefixText(intID, prefix, error) || !destinationText(intDst, dst, error))
        return refused(error);
    return accepted(prefix + QStringLiteral("Y") + dst);
}

HublinkCommand HublinkWCommand(int intID)
{
    QString prefix, error;
    if (!prefixText(intID, prefix, error))
        return refused(error);
    return accepted(prefix + QStringLiteral("WS"));
}

HublinkCommand HublinkHCommand(int intID, int intNumLevs, int intDst, const std::vector<int16_t> &intSrc)
{
    QString prefix, dst, error;
    if (!prefixText(intID, prefix, error) || !destinationText(intDst, dst, error))
        return refused(error);
    if (intNumLevs < 0 || static_cast<size_t>(intNumLevs) > intSrc.size())
        return refused(QStringLiteral("A take for %1 levels needs a source for each of them; %2 given.")
                           .arg(intNumLevs)
                           .arg(intSrc.size()));
    QString text = prefix + QStringLiteral("H") + dst;
    for (int i = 0; i < intNumLevs; ++i) {
        const int src = intSrc[static_cast<size_t>(i)];
        if (src < -1 || src + 1 > kHublinkMaxWireNumber)
            return refused(QStringLiteral("Source %1 on level %2 cannot be sent: the controller takes inputs 1 to %3.")
                               .arg(src + 1)
                               .arg(i + 1)
                               .arg(kHublinkMaxWireNumber));
        text += threeDigits(src + 1);
    }
    return accepted(text);
}

HublinkCommand HublinkLCommand(int intID, int intDst)
{
    QString prefix, dst, error;
    if (!prefixText(intID, prefix, error) || !destinationText(intDst, dst, error))
        return refused(error);
    return accepted(prefix + QStringLiteral("LS") + dst);
}

bool HublinkDecodeStatus(QStringView reply, HublinkStatus &status, ErrorInfo &error)
{
    status = HublinkStatus();
    if (reply.size() <= 4) {
        status.intSrc.assign(2, 0);
        status.bolErr.assign(2, false);
        return true;
    }
    const QStringView rest = reply.sliced(3); // the echoed destination number
    const qsizetype len = rest.size();
    long long n = 0;
    qsizetype statusChars = 0;
    if (len <= 14) {
        // C++ division truncates toward zero, as the protocol's arithmetic does.
        n = (static_cast<long long>(len) - 8) / 3 + 2;
        statusChars = 2;
    } else {
        n = static_cast<long long>(roundHalfEven((static_cast<double>(len) - 14.0) / 3.5 + 4.0));
        if (n > kInt16Max) {
            error = overflowError();
            return false;
        }
        statusChars = static_cast<qsizetype>((n - 1) / 2 + 1);
    }
    status.levels = static_cast<int16_t>(n);
    status.intSrc.assign(static_cast<size_t>(n) + 1, 0);
    status.bolErr.assign(static_cast<size_t>(n) + 1, false);
    qsizetype statusPos = 0;
    qsizetype sourcePos = statusChars;
    int v = 0;
    for (long long i = 0; i < n; ++i) {
        if (i % 2 == 0) {
            // The status part always lies inside the reply for every length
            // the arithmetic above admits; a missing character reads as 0.
            v = statusPos < rest.size() ? latin1Code(rest[statusPos]) % 16 : 0;
            ++statusPos;
            status.bolErr[static_cast<size_t>(i)] = (v / 4) != 0;
        } else {
            status.bolErr[static_cast<size_t>(i)] = (v % 4) != 0;
        }
        // Characters missing at the end read as an empty number: no source.
        const QStringView digits = sourcePos < rest.size()
            ? rest.sliced(sourcePos).first(std::min<qsizetype>(3, rest.size() - sourcePos))
            : QStringView();
        sourcePos += 3;
        status.intSrc[static_cast<size_t>(i)] = static_cast<int16_t>(roundHalfEven(leadingNumeric(digits) - 1.0));
    }
    return true;
}

bool HublinkDecodeLocks(QStringView reply, std::vector<bool> &locks, ErrorInfo &error)
{
    locks.clear();
    if (reply.isEmpty()) {
        locks.assign(2, false);
        return true;
    }
    if (reply.size() > kInt16Max) {
        error = overflowError();
        return false;
    }
    locks.assign(static_cast<size_t>(reply.size()) + 1, false);
    for (qsizetype k = 0; k < reply.size(); ++k)
        locks[static_cast<size_t>(k)] = reply[k] != u'0';
    return true;
}

} // namespace exel
