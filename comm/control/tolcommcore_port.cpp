// TolCommCore members over the engine's port, input and output operations.
#include "tolcommcore.h"

#include "tolcom32.h"

#include <errorinfo.h>

#include <QPointer>

#include <cerrno>
#include <vector>

namespace {

const char kInputBusyText[]
    = "Cannot read from the comm port while a LookUp or Input operation.  After you choose Break, select View | "
      "Call Stack to see what other TolComm properties were accessed.";

// Caps on buffers the control sizes from its own properties.
constexpr int kMaxLookUpInput = 1 << 20;

} // namespace

// ---- Port settings ---------------------------------------------------------------

int TolCommCore::getCommPort()
{
    return GetCommPort(engine());
}

void TolCommCore::setCommPort(int port)
{
    const uint32_t h = engine();
    // The engine keeps a number below 1 (and only logs it), but no device can
    // ever open under it; and it ignores a change while the port is open.
    if (port < 1 || GetPortOpen(h)) {
        raiseInvalidValue();
        return;
    }
    engineSet(SetCommPort, port);
}

QString TolCommCore::getSettings()
{
    char buf[64];
    GetSettings(engine(), buf, sizeof buf);
    return QString::fromLatin1(buf);
}

void TolCommCore::setSettings(const QString &text)
{
    const uint32_t h = engine();
    if (text.size() > 256 || !checkText(text, true))
        return;
    if (SetSettings(h, text.toLatin1().constData()) != 0)
        raiseInvalidValue();
}

TolCommCore::Handshaking TolCommCore::getHandshaking()
{
    return Handshaking(GetHandshaking(engine()));
}

void TolCommCore::setHandshaking(Handshaking v)
{
    if (v < Handshaking_None || v > Handshaking_Both) {
        raiseInvalidValue();
        return;
    }
    engineSet(SetHandshaking, v);
}

bool TolCommCore::getPortOpen()
{
    if (!m_userMode)
        return m_designPortOpen;
    return GetPortOpen(engine()) != 0;
}

void TolCommCore::setPortOpen(bool on)
{
    const uint32_t h = engine();
    if (!m_userMode) {
        // In a form designer the wish is kept for the property bag only.
        m_designPortOpen = on;
        return;
    }
    // The engine gives the reason of a failed open in its diagnostic log;
    // PortOpen then stays false, which the host reads back.
    SetPortOpen(h, on ? 1 : 0);
    m_designPortOpen = GetPortOpen(h) != 0;
}

int TolCommCore::getInputLen()
{
    return GetInputLen(engine());
}

void TolCommCore::setInputLen(int v)
{
    if (v < 0) {
        raiseInvalidValue();
        return;
    }
    engineSet(SetInputLen, v);
}

int TolCommCore::getInBufferCount()
{
    return GetInBufferCount(engine());
}

void TolCommCore::setInBufferCount(int)
{
    const uint32_t h = engine();
    if (GetPortOpen(h))
        ClearInputBuffer(h);
}

int TolCommCore::getOutBufferCount()
{
    return GetOutBufferCount(engine());
}

void TolCommCore::setOutBufferCount(int)
{
    const uint32_t h = engine();
    if (GetPortOpen(h))
        ClearOutputBuffer(h);
}

int TolCommCore::getInBufferSize()
{
    return GetInBufferSize(engine());
}

void TolCommCore::setInBufferSize(int v)
{
    const uint32_t h = engine();
    if (v < 0 || GetPortOpen(h)) {
        raiseInvalidValue();
        return;
    }
    engineSet(SetInBufferSize, v);
}

int TolCommCore::getOutBufferSize()
{
    return GetOutBufferSize(engine());
}

void TolCommCore::setOutBufferSize(int v)
{
    const uint32_t h = engine();
    if (v < 0 || GetPortOpen(h)) {
        raiseInvalidValue();
        return;
    }
    engineSet(SetOutBufferSize, v);
}

bool TolCommCore::getCDHolding()
{
    return m_handle && GetPortOpen(m_handle) && GetCarrier(m_handle) != 0;
}
bool TolCommCore::getCTSHolding()
{
    return m_handle && GetPortOpen(m_handle) && GetCTS(m_handle) != 0;
}
bool TolCommCore::getDSRHolding()
{
    return m_handle && GetPortOpen(m_handle) && GetDSR(m_handle) != 0;
}

int TolCommCore::getCDTimeOut()
{
    return GetCarrierTimeOut(engine());
}
void TolCommCore::setCDTimeOut(int ms)
{
    engineSet(SetCarrierTimeOut, ms);
}
int TolCommCore::getCTSTimeOut()
{
    return GetCTSTimeOut(engine());
}
void TolCommCore::setCTSTimeOut(int ms)
{
    engineSet(SetCTSTimeOut, ms);
}
int TolCommCore::getDSRTimeOut()
{
    return GetDSRTimeOut(engine());
}
void TolCommCore::setDSRTimeOut(int ms)
{
    engineSet(SetDSRTimeOut, ms);
}

bool TolCommCore::getDTRHolding()
{
    return GetDTR(engine()) != 0;
}
void TolCommCore::setDTRHolding(bool on)
{
    engineSet(SetDTR, on ? -1 : 0);
}
bool TolCommCore::getRTSEnable()
{
    return GetRTS(engine()) != 0;
}
void TolCommCore::setRTSEnable(bool on)
{
    engineSet(SetRTS, on ? -1 : 0);
}

bool TolCommCore::getBreak()
{
    return GetBreak(engine()) != 0;
}

void TolCommCore::setBreak(bool on)
{
    const uint32_t h = engine();
    if (!GetPortOpen(h)) {
        raiseError(kErrPortNotOpen, QStringLiteral("Operation valid only when the port is open"));
        return;
    }
    engineSet(SetBreak, on ? 1 : 0);
}

int TolCommCore::getCommError()
{
    return GetLastCommError(engine());
}
int TolCommCore::getCommID()
{
    return GetCommID(engine());
}

void TolCommCore::setCommID(int fd)
{
    if (fd < -1) {
        raiseInvalidValue();
        return;
    }
    engineSet(SetCommID, fd);
}

bool TolCommCore::getNullDiscard()
{
    return GetNullDiscard(engine()) != 0;
}
void TolCommCore::setNullDiscard(bool on)
{
    engineSet(SetNullDiscard, on ? 1 : 0);
}

int TolCommCore::getParityReplace()
{
    return GetParityReplace(engine());
}

void TolCommCore::setParityReplace(int v)
{
    if (v < -1 || v > 255) {
        raiseInvalidValue();
        return;
    }
    engineSet(SetParityReplace, v);
}

int TolCommCore::getInterval()
{
    return GetInterval(engine());
}

void TolCommCore::setInterval(int ms)
{
    if (ms <= 0) {
        raiseInvalidValue();
        return;
    }
    engineSet(SetInterval, ms);
}

int TolCommCore::getInTimeOut()
{
    return GetInputTimeOut(engine());
}
void TolCommCore::setInTimeOut(int ms)
{
    engineSet(SetInputTimeOut, ms);
}

int TolCommCore::getRThreshold()
{
    return GetRThreshold(engine());
}

void TolCommCore::setRThreshold(int v)
{
    if (v < 0) {
        raiseInvalidValue();
        return;
    }
    engineSet(SetRThreshold, v);
}

int TolCommCore::getSThreshold()
{
    return GetSThreshold(engine());
}

void TolCommCore::setSThreshold(int v)
{
    if (v < 0) {
        raiseInvalidValue();
        return;
    }
    engineSet(SetSThreshold, v);
}

bool TolCommCore::getEcho()
{
    return GetEcho(engine()) != 0;
}
void TolCommCore::setEcho(bool on)
{
    engineSet(SetEcho, on ? 1 : 0);
}
bool TolCommCore::getInputEcho()
{
    return GetInputEcho(engine()) != 0;
}
void TolCommCore::setInputEcho(bool on)
{
    engineSet(SetInputEcho, on ? 1 : 0);
}
bool TolCommCore::getCommEcho()
{
    return GetCommEcho(engine()) != 0;
}
void TolCommCore::setCommEcho(bool on)
{
    engineSet(SetCommEcho, on ? 1 : 0);
}

int TolCommCore::getNotification()
{
    return GetNotification(engine());
}

void TolCommCore::setNotification(int v)
{
    if (v < 0 || v > 1) {
        raiseInvalidValue();
        return;
    }
    engineSet(SetNotification, v);
}

bool TolCommCore::getShutDown()
{
    return GetShutDown(engine()) != 0;
}
void TolCommCore::setShutDown(bool on)
{
    engineSet(SetShutDown, on ? 1 : 0);
}
bool TolCommCore::getBusy()
{
    return m_inputDepth > 0 || GetBusy(engine()) != 0;
}
uint TolCommCore::getCommHandle()
{
    return engine();
}

// ---- Auto-processing -----------------------------------------------------------

void TolCommCore::applyAutoProcess()
{
    // Only a control that runs in a program routes input to its terminal.
    if (!m_userMode)
        return;
    engineSet(SetAutoProcess, m_autoProcess);
}

int TolCommCore::getAutoProcess()
{
    return m_autoProcess;
}

void TolCommCore::setAutoProcess(int v)
{
    if (v < 0 || v > 3) {
        raiseInvalidValue();
        return;
    }
    engine();
    m_autoProcess = v;
    m_autoReceive = (v & 1) != 0;
    applyAutoProcess();
}

void TolCommCore::setAutoReceive(bool on)
{
    const uint32_t h = engine();
    if (on == m_autoReceive)
        return;
    m_autoReceive = on;
    m_autoProcess = on ? (m_autoProcess | 1) : (m_autoProcess & ~1);
    // Auto-receive raises a receive event for every byte; switching it off
    // gives back the threshold the host had before.
    if (on) {
        m_savedRThreshold = GetRThreshold(h);
        SetRThreshold(h, 1);
    } else if (GetRThreshold(h) == 1) {
        SetRThreshold(h, m_savedRThreshold);
    }
    applyAutoProcess();
}

// ---- Output ------------------------------------------------------------------------

void TolCommCore::sendOutput(const QByteArray &bytes)
{
    const uint32_t h = engine();
    if (!GetPortOpen(h)) {
        raiseError(kErrPortNotOpen, QStringLiteral("Operation valid only when the port is open"));
        return;
    }
    if (bytes.isEmpty())
        return;
    QPointer<TolCommCore> self(this);
    const int32_t n = ::Output(h, bytes.constData(), int32_t(bytes.size()));
    // The write raises its error and carrier events on the spot, and a
    // handler may have deleted the control.
    if (!self)
        return;
    if (n < 0) {
        const exel::ErrorInfo err = exel::errorFromErrno(EIO);
        raiseError(err.number, err.description);
    } else if (n < bytes.size()) {
        // The engine gives up on a write the device does not take in time.
        const exel::ErrorInfo err = exel::errorFromErrno(ETIMEDOUT);
        raiseError(err.number, err.description);
    }
}

void TolCommCore::setOutput(const QString &text)
{
    if (checkText(text, true))
        sendOutput(text.toLatin1());
}

void TolCommCore::setOutputLine(const QString &text)
{
    if (checkText(text, true))
        sendOutput(text.toLatin1() + '\r');
}

// ---- Input -------------------------------------------------------------------------

QString TolCommCore::getComInput()
{
    const uint32_t h = engine();
    if (inputRunning()) {
        raiseError(kErrInputBusy, QString::fromLatin1(kInputBusyText));
        return QString();
    }
    const int count = GetInBufferCount(h);
    if (count <= 0)
        return QString();
    std::vector<char> buf(static_cast<size_t>(count));
    const int n = GetInput(h, buf.data(), count);
    return QString::fromLatin1(buf.data(), n > 0 ? n : 0);
}

QString TolCommCore::getComLineInput()
{
    const uint32_t h = engine();
    if (inputRunning()) {
        raiseError(kErrInputBusy, QString::fromLatin1(kInputBusyText));
        return QString();
    }
    const int size = qBound(1, GetInBufferSize(h), kMaxLookUpInput) + 1;
    std::vector<char> buf(size_t(size), '\0');
    QPointer<TolCommCore> self(this);
    ++m_inputDepth;
    const int n = GetLineInput(h, buf.data(), size);
    if (self)
        --m_inputDepth;
    return QString::fromLatin1(buf.data(), qBound(0, n, size - 1));
}

// ---- Look-ups ----------------------------------------------------------------------

QString TolCommCore::getLookUpSeparator()
{
    const int c = GetLookUpSeparator(engine());
    return c ? QString(QChar(c)) : QString();
}

void TolCommCore::setLookUpSeparator(const QString &sep)
{
    if (sep.size() > 1 || !checkText(sep, true)) {
        if (sep.size() > 1)
            raiseInvalidValue();
        return;
    }
    engineSet(SetLookUpSeparator, sep.isEmpty() ? 0 : sep.at(0).unicode());
}

void TolCommCore::setLookUpText(const QString &text)
{
    if (checkText(text, true))
        m_lookUpText = text;
}

int TolCommCore::getLookUpTimeOut()
{
    return GetLookUpTimeOut(engine());
}
void TolCommCore::setLookUpTimeOut(int ms)
{
    engineSet(SetLookUpTimeOut, ms);
}

void TolCommCore::setLookUpInputLen(int v)
{
    if (v < 0 || v > kMaxLookUpInput) {
        raiseInvalidValue();
        return;
    }
    m_lookUpInputLen = v;
}

namespace {

// LookUpText split at the separator into the engine's list form: strings
// ended by NUL, the list ended by an empty string. Empty pieces are dropped
// (an empty string would end the list early).
QByteArray lookUpList(const QString &text, int separator)
{
    QByteArray out;
    const QByteArray bytes = text.toLatin1();
    const QList<QByteArray> parts = separator ? bytes.split(char(separator)) : QList<QByteArray> { bytes };
    for (const QByteArray &p : parts) {
        const QByteArray piece = p.left(p.indexOf('\0') < 0 ? p.size() : p.indexOf('\0'));
        if (!piece.isEmpty())
            out += piece + '\0';
    }
    out += '\0';
    return out;
}

} // namespace

int TolCommCore::getLookUp()
{
    const uint32_t h = engine();
    const QByteArray list = lookUpList(m_lookUpText, GetLookUpSeparator(h));
    QPointer<TolCommCore> self(this);
    ++m_inputDepth;
    const int r = DiscardUntilLookUp(h, list.constData(), int32_t(list.size()));
    if (self)
        --m_inputDepth;
    return r;
}

QString TolCommCore::getLookUpInput()
{
    const uint32_t h = engine();
    const QByteArray list = lookUpList(m_lookUpText, GetLookUpSeparator(h));
    std::vector<char> buf(size_t(m_lookUpInputLen) + 1, '\0');
    QPointer<TolCommCore> self(this);
    ++m_inputDepth;
    InputUntilLookUp(h, list.constData(), int32_t(list.size()), buf.data(), int32_t(buf.size()));
    if (self)
        --m_inputDepth;
    buf.back() = '\0';
    return QString::fromLatin1(buf.data());
}

void TolCommCore::setPause(int ms)
{
    if (ms < 0) {
        raiseInvalidValue();
        return;
    }
    ComPause(engine(), ms);
}
