// TolCommCore members over the engine's modem record, modem list and dialing.
#include "tolcommcore.h"

#include "tolcom32.h"

#include <QPointer>

namespace {

constexpr int kModemFields = 7;
// The engine stores a field of at most a modem list line's length.
constexpr int kModemFieldMax = 199;

// Dial results as the host reads them back from Dial; "CONNECTED" is success.
QString dialResultText(int result)
{
    switch (result) {
    case -1:
        return QString();
    case 0:
        return QStringLiteral("CONNECTED");
    case 1:
        return QStringLiteral("NO CARRIER");
    case 2:
        return QStringLiteral("NO DIALTONE");
    case 3:
        return QStringLiteral("BUSY");
    case 4:
        return QStringLiteral("TIMEOUT");
    default:
        return QStringLiteral("INVALID NUMBER");
    }
}

} // namespace

QString TolCommCore::modemField(int index)
{
    char buf[2048];
    GetModemOptions(engine(), buf, sizeof buf);
    const QStringList fields = QString::fromLatin1(buf).split(u'\t');
    return index < fields.size() ? fields.at(index) : QString();
}

void TolCommCore::setModemField(int index, const QString &value)
{
    const uint32_t h = engine();
    // A tab or line end would split the record; a command longer than a modem
    // list line could never have come from one.
    if (value.size() > kModemFieldMax) {
        raiseInvalidValue();
        return;
    }
    if (!checkText(value, false))
        return;
    char buf[2048];
    GetModemOptions(h, buf, sizeof buf);
    QStringList fields = QString::fromLatin1(buf).split(u'\t');
    while (fields.size() < kModemFields)
        fields << QString();
    fields[index] = value;
    if (SetModemOptions(h, fields.mid(0, kModemFields).join(u'\t').toLatin1().constData()) != 0)
        raiseInvalidValue();
}

void TolCommCore::setModemIndex(int entry)
{
    const uint32_t h = engine();
    if (entry < 0 || !LoadModemOptions(h, entry)) {
        raiseInvalidValue();
        return;
    }
    m_modemIndex = entry;
}

void TolCommCore::setOutputModem(const QString &command)
{
    const uint32_t h = engine();
    if (!checkText(command, false))
        return;
    if (!GetPortOpen(h)) {
        raiseError(kErrPortNotOpen, QStringLiteral("Operation valid only when the port is open"));
        return;
    }
    QPointer<TolCommCore> self(this);
    ++m_inputDepth;
    OutputModem(h, command.toLatin1().constData());
    if (self)
        --m_inputDepth;
}

bool TolCommCore::getInitModem()
{
    const uint32_t h = engine();
    QPointer<TolCommCore> self(this);
    ++m_inputDepth;
    const bool ok = InitModem(h) != 0;
    if (self)
        --m_inputDepth;
    return ok;
}

bool TolCommCore::getInitModemForAnswer()
{
    const uint32_t h = engine();
    QPointer<TolCommCore> self(this);
    ++m_inputDepth;
    const bool ok = InitModemForAnswer(h) != 0;
    if (self)
        --m_inputDepth;
    return ok;
}

bool TolCommCore::getHangUp()
{
    const uint32_t h = engine();
    QPointer<TolCommCore> self(this);
    ++m_inputDepth;
    const bool ok = HangUp(h) != 0;
    if (self)
        --m_inputDepth;
    return ok;
}

QString TolCommCore::getDial() const
{
    return dialResultText(m_dialResult);
}

void TolCommCore::setDial(const QString &number)
{
    const uint32_t h = engine();
    // A carriage return inside the number would end the dial command early
    // and send the rest to the modem as a command of its own.
    // A refused number must not read back as a successful dial.
    m_dialResult = 5;
    if (!checkText(number, false))
        return;
    QPointer<TolCommCore> self(this);
    ++m_inputDepth;
    const int result = ::Dial(h, number.toLatin1().constData());
    if (!self)
        return;
    --m_inputDepth;
    m_dialResult = result;
}

TolCommCore::DialMode TolCommCore::getDialMode()
{
    return DialMode(GetDialMode(engine()));
}

void TolCommCore::setDialMode(DialMode v)
{
    if (v != Dial_Tone && v != Dial_Pulse) {
        raiseInvalidValue();
        return;
    }
    engineSet(SetDialMode, v);
}

int TolCommCore::getDialTimeOut()
{
    return GetDialTimeOut(engine());
}

void TolCommCore::setDialTimeOut(int ms)
{
    if (ms < 0) {
        raiseInvalidValue();
        return;
    }
    engineSet(SetDialTimeOut, ms);
}
