// Reader, parser and writer of the panel server's protocol.
#include "panelprotocol.h"

#include "hublinkprotocol.h"

namespace exel::hub {

namespace {

QString three(int n)
{
    return QStringLiteral("%1").arg(n, 3, 10, QLatin1Char('0'));
}

// Exactly three digits at from, or -1.
int threeDigits(QStringView text, qsizetype from)
{
    if (from < 0 || from + 3 > text.size())
        return -1;
    int v = 0;
    for (qsizetype i = from; i < from + 3; ++i) {
        const QChar c = text[i];
        if (c < u'0' || c > u'9')
            return -1;
        v = v * 10 + (c.unicode() - u'0');
    }
    return v;
}

} // namespace

void PanelRequestReader::feed(const char *data, qsizetype size, std::vector<PanelRequest> &out)
{
    for (qsizetype i = 0; i < size; ++i) {
        const char ch = data[i];
        if (ch == '\r' || ch == '\n') {
            if (m_skipping) {
                m_skipping = false;
                m_line.clear();
                continue;
            }
            if (m_line.isEmpty())
                continue;
            PanelRequest r;
            const QString text = QString::fromLatin1(m_line);
            m_line.clear();
            if (text.size() < 3) {
                r.kind = PanelRequest::Kind::BadChecksum;
            } else {
                const QString body = text.first(text.size() - 2);
                if (HublinkChecksumChars(body) == text.last(2)) {
                    r.kind = PanelRequest::Kind::Command;
                    r.body = body;
                } else {
                    r.kind = PanelRequest::Kind::BadChecksum;
                }
            }
            out.push_back(std::move(r));
            continue;
        }
        if (m_skipping)
            continue;
        if (m_line.size() >= kMaxLine) {
            m_skipping = true;
            m_line.clear();
            PanelRequest r;
            r.kind = PanelRequest::Kind::TooLong;
            out.push_back(std::move(r));
            continue;
        }
        m_line.append(ch);
    }
}

PanelCommand parsePanelCommand(QStringView body)
{
    PanelCommand c;
    qsizetype p = 0;
    while (p < body.size() && body[p] >= u'0' && body[p] <= u'9')
        ++p;
    if (p > 0) {
        c.hasAddress = true;
        bool ok = false;
        const int address = p <= 5 ? body.first(p).toInt(&ok) : -1;
        if (!ok || address < 0 || address > 32767) {
            c.kind = PanelCommand::Kind::BadAddress;
            return c;
        }
        c.address = static_cast<int16_t>(address);
    }
    const QStringView cmd = body.sliced(p);
    c.text = cmd.toString();
    if (cmd.startsWith(u'Y')) {
        c.output = cmd.size() == 4 ? threeDigits(cmd, 1) : -1;
        c.kind = c.output >= 1 ? PanelCommand::Kind::Status : PanelCommand::Kind::Malformed;
    } else if (cmd == u"WS") {
        c.kind = PanelCommand::Kind::Locks;
    } else if (cmd.startsWith(u"LS")) {
        c.output = cmd.size() == 5 ? threeDigits(cmd, 2) : -1;
        c.kind = c.output >= 1 ? PanelCommand::Kind::LockToggle : PanelCommand::Kind::Malformed;
    } else if (cmd.startsWith(u'H')) {
        const QStringView args = cmd.sliced(1);
        c.output = threeDigits(args, 0);
        c.kind = PanelCommand::Kind::Take;
        if (c.output < 1 || (args.size() - 3) % 3 != 0) {
            c.kind = PanelCommand::Kind::Malformed;
            return c;
        }
        for (qsizetype g = 3; g < args.size(); g += 3) {
            const int input = threeDigits(args, g);
            if (input < 0) {
                c.kind = PanelCommand::Kind::Malformed;
                c.inputs.clear();
                return c;
            }
            c.inputs.push_back(static_cast<int16_t>(input));
        }
    } else if (cmd == u"KCI") {
        c.kind = PanelCommand::Kind::Identity;
    } else if (cmd == u"KQLEV" || cmd == u"KQDST" || cmd == u"KQSRC" || cmd == u"KQRTY" || cmd == u"KQSTL") {
        c.kind = PanelCommand::Kind::Query;
    } else if (cmd == u"KQ") {
        c.kind = PanelCommand::Kind::QueryNext;
    } else if (cmd == u"QSR") {
        c.kind = PanelCommand::Kind::Repeat;
    }
    return c;
}

QByteArray statusAnswer(int output, const OutputStatus &status)
{
    const int n = status.levels();
    // Two levels per status character, at least two characters: the layout
    // the panel's decoder counts levels from.
    const int statusChars = std::max(2, (n + 1) / 2);
    QString part(statusChars, QLatin1Char('0'));
    QString inputs;
    for (int i = 0; i < n; ++i) {
        if (status.flag[static_cast<size_t>(i)]) {
            const int at = i / 2;
            part[at] = QChar(part[at].unicode() + (i % 2 == 0 ? 4 : 1));
        }
        inputs += three(status.input[static_cast<size_t>(i)]);
    }
    return HublinkFrame(three(output) + part + inputs).toLatin1();
}

QByteArray locksAnswer(const std::vector<bool> &locks)
{
    QString body;
    body.reserve(static_cast<qsizetype>(locks.size()));
    for (const bool l : locks)
        body += l ? QLatin1Char('1') : QLatin1Char('0');
    return HublinkFrame(body).toLatin1();
}

QByteArray relayAnswer(const QString &body)
{
    if (body.size() <= 1)
        return body.toLatin1() + "\r\n";
    return HublinkFrame(body).toLatin1();
}

} // namespace exel::hub
