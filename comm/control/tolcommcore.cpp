// TolCommCore: the engine object's lifetime, engine events, run-time errors,
// transfers and the engine's trace switches.
#include "tolcommcore.h"

#include "tolcom32.h"

#include <errorinfo.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>

#include <cerrno>

// Gives the engine's C callback access to the core's private handler.
struct TolCommEngineBridge {
    static int32_t onEvent(uint32_t handle, int32_t /*controlId*/, int32_t code)
    {
        auto *core = static_cast<TolCommCore *>(GetEventContext(handle));
        if (core && core->m_handle == handle)
            core->onEngineEvent(code);
        return 0;
    }
};

namespace {

// A destroy refused because a wait of the object is still running (the
// control went away from inside an event of that wait) is retried once the
// wait has unwound; ShutDown makes it unwind at its next turn.
void destroyWhenIdle(uint32_t handle)
{
    if (GetBusy(handle)) {
        QTimer::singleShot(20, QCoreApplication::instance(), [handle] { destroyWhenIdle(handle); });
        return;
    }
    DestroyCommObject(handle);
}

} // namespace

TolCommCore::TolCommCore(QObject *parent)
    : QObject(parent)
{
}

TolCommCore::~TolCommCore()
{
    destroyEngine();
}

uint32_t TolCommCore::engine()
{
    if (!m_handle)
        createEngine();
    return m_handle;
}

void TolCommCore::createEngine()
{
    // The engine gets the core as its parent QObject: without a handler
    // installed it would send its command events here (see event()).
    m_handle = CreateCommObject(static_cast<QObject *>(this));
    if (!m_handle) {
        raiseError(kErrInvalidValue, tr("The comm engine could not create its object"));
        return;
    }
    SetEventContext(m_handle, this);
    SetEventHandler(m_handle, &TolCommEngineBridge::onEvent);
    // The control always shows a port number (1 for a new control), so the
    // engine object is bound to that serial port from the start.
    SetCommPort(m_handle, GetCommPort(m_handle));
    // A new control carries its own modem strings, not the engine's built-in record.
    char buf[2048];
    GetModemOptions(m_handle, buf, sizeof buf);
    QStringList fields = QString::fromLatin1(buf).split(u'\t');
    while (fields.size() < 7)
        fields << QString();
    fields[0] = QStringLiteral("Generic modem");
    fields[1] = QStringLiteral("ATZ^M");
    fields[2] = QStringLiteral("ATDT");
    fields[3] = QStringLiteral("ATDP");
    fields[4] = QStringLiteral("ATS0=2^M");
    fields[5] = QStringLiteral("~~~ATH^M");
    SetModemOptions(m_handle, fields.join(u'\t').toLatin1().constData());
    m_modemIndex = 0;
}

void TolCommCore::destroyEngine()
{
    if (!m_handle)
        return;
    const uint32_t h = m_handle;
    m_handle = 0;
    // From here on no engine event may reach this control, whatever happens to
    // the engine object.
    SetEventHandler(h, nullptr);
    SetEventContext(h, nullptr);
    if (GetPortOpen(h))
        SetPortOpen(h, 0);
    if (!DestroyCommObject(h)) {
        SetShutDown(h, 1);
        destroyWhenIdle(h);
    }
}

void TolCommCore::onEngineEvent(int32_t code)
{
    m_commEvent = code;
    // The engine closes a port whose device went away and then raises a
    // carrier change; a carrier event on a closed port means exactly that.
    const bool lost = code == Event_Carrier && m_handle && !GetPortOpen(m_handle);
    QPointer<TolCommCore> self(this);
    HandleCommEvent();
    if (lost && self && m_handle) {
        char text[512] = {};
        const int err = GetLastOpenError(m_handle, text, sizeof text);
        raiseError(err ? err : EIO, QString::fromLocal8Bit(text));
    }
}

bool TolCommCore::event(QEvent *e)
{
    if (e->type() == QEvent::Type(TOLCOM_COMMAND_EVENT)) {
        auto *cmd = static_cast<TolCommCommandEvent *>(e);
        if (m_handle && cmd->handle() == m_handle)
            onEngineEvent(cmd->code());
        return true;
    }
    return QObject::event(e);
}

// ---- Events ------------------------------------------------------------------

void TolCommCore::HandleCommEvent()
{
    QPointer<TolCommCore> self(this);
    const int code = m_commEvent;
    if (!m_ignoreOnComm) {
        emit OnComm();
        // A handler may have destroyed the control.
        if (!self)
            return;
    }
    switch (code) {
    case Event_Send:
        emit Send();
        break;
    case Event_Receive:
        emit Receive();
        break;
    case Event_Cts:
        emit CTSChanged();
        break;
    case Event_Dsr:
        emit DSRChanged();
        break;
    case Event_Carrier:
        emit CarrierChanged();
        break;
    case Event_Ring:
        emit Ring();
        break;
    case Event_Eof:
        emit EOFChar();
        break;
    case Event_Transfer:
        switch (m_xferStatus) {
        case TransferStatus_Failure:
            emit AbortFileTransfer();
            break;
        case TransferStatus_Success:
            emit FinishFileTransfer();
            break;
        case TransferStatus_WaitForFile:
            emit WaitForFile();
            break;
        case TransferStatus_Prepare:
            emit PrepareFile();
            break;
        case TransferStatus_Starting:
            emit StartFile();
            break;
        case TransferStatus_Transfering:
            emit TransferBlock();
            break;
        case TransferStatus_FileAbort:
            emit AbortFile();
            break;
        case TransferStatus_TransferAborting:
            emit FinishFile();
            break;
        case TransferStatus_EndOfFile:
            break;
        }
        break;
    default:
        // Error codes 1001..1010 (and anything unknown) raise OnComm only.
        break;
    }
}

int TolCommCore::HandleEvent(int /*id*/, int code)
{
    m_commEvent = code;
    HandleCommEvent();
    return 0;
}

void TolCommCore::noteTransferStatus(int status)
{
    if (status < TransferStatus_Failure || status > TransferStatus_EndOfFile) {
        raiseInvalidValue();
        return;
    }
    m_xferStatus = XferStatus(status);
}

QString TolCommCore::lastOpenError()
{
    char text[512] = {};
    GetLastOpenError(engine(), text, sizeof text);
    return QString::fromLocal8Bit(text);
}

int TolCommCore::WaitForInput(int milliseconds)
{
    const uint32_t h = engine();
    if (milliseconds < 0) {
        raiseInvalidValue();
        return 0;
    }
    QPointer<TolCommCore> self(this);
    ++m_inputDepth;
    const int n = ::WaitForInput(h, milliseconds);
    if (self)
        --m_inputDepth;
    return n;
}

// ---- Errors ------------------------------------------------------------------

void TolCommCore::clearError()
{
    m_errorNumber = 0;
    m_errorDescription.clear();
}

void TolCommCore::restoreError(int number, const QString &description)
{
    m_errorNumber = number;
    m_errorDescription = description;
}

void TolCommCore::raiseError(int number, const QString &description)
{
    m_errorNumber = number;
    m_errorDescription = description;
    if (m_collectErrors)
        return;
    emit RuntimeError(number, description);
}

void TolCommCore::raiseInvalidValue()
{
    raiseError(kErrInvalidValue, QStringLiteral("Invalid property value"));
}

bool TolCommCore::engineSet(int32_t (*setter)(uint32_t, int32_t), int32_t value)
{
    if (setter(engine(), value) == kErrInvalidValue) {
        raiseInvalidValue();
        return false;
    }
    return true;
}

bool TolCommCore::inputRunning()
{
    return m_inputDepth > 0 || (m_handle && GetBusy(m_handle));
}

// Text that goes to the port or into the modem record must be bytes (Latin-1);
// commands and numbers may not carry control characters, which would end a
// modem field or slip an extra command to the modem.
bool TolCommCore::checkText(const QString &text, bool allowControl)
{
    for (QChar c : text) {
        if (c.unicode() > 0xFF || (!allowControl && c.unicode() < 32)) {
            raiseInvalidValue();
            return false;
        }
    }
    return true;
}

// ---- Property bags -------------------------------------------------------------

void TolCommCore::closeForProperties()
{
    // Settings that the engine refuses while open are applied to a closed port.
    const uint32_t h = engine();
    if (h && GetPortOpen(h))
        SetPortOpen(h, 0);
}

void TolCommCore::startFromProperties(int autoProcess, bool autoReceive, bool portOpen)
{
    // AutoReceive is the terminal-routing bit of AutoProcess; either one in
    // the bag switches routing on.
    m_autoProcess = (autoProcess >= 0 && autoProcess <= 3) ? autoProcess : 0;
    if (autoReceive)
        m_autoProcess |= 1;
    m_autoReceive = false;
    m_designPortOpen = portOpen;
    if (m_userMode) {
        if (m_autoProcess & 1) {
            m_autoProcess &= ~1;
            setAutoReceive(true);
        } else {
            applyAutoProcess();
        }
        if (portOpen)
            setPortOpen(true);
    } else {
        m_autoReceive = (m_autoProcess & 1) != 0;
    }
}

// ---- Transfers ------------------------------------------------------------------

// File transfers need a transfer library that this platform does not ship:
// a transfer fails at once, reports it as its status and event, and raises
// "Operation not supported".
void TolCommCore::startTransfer(const QString &fileName, bool upload)
{
    const uint32_t h = engine();
    if (!checkText(fileName, false))
        return;
    if (upload) {
        m_xferSource = fileName;
        m_xferFileSize = int(qMin<qint64>(QFileInfo(fileName).size(), INT32_MAX));
    } else {
        m_xferDest = fileName;
        m_xferFileSize = 0;
    }
    const QByteArray name = QFile::encodeName(fileName);
    const int rc
        = upload ? ::Upload(h, m_xferProtocol, name.constData()) : ::Download(h, m_xferProtocol, name.constData());
    if (rc >= 0) {
        m_xferStatus = TransferStatus_Success;
        m_xferMessage.clear();
        return;
    }
    m_xferStatus = TransferStatus_Failure;
    m_xferMessage = tr("File transfers are not available");
    const exel::ErrorInfo err = exel::errorFromErrno(ENOTSUP);
    QPointer<TolCommCore> self(this);
    HandleEvent(int(h), Event_Transfer);
    if (self)
        raiseError(err.number, err.description);
}

void TolCommCore::setUpload(const QString &fileName)
{
    startTransfer(fileName, true);
}
void TolCommCore::setDownload(const QString &fileName)
{
    startTransfer(fileName, false);
}

void TolCommCore::setAbortTransfer(bool on)
{
    // No transfer ever runs, so there is nothing to abort.
    Q_UNUSED(on);
}

void TolCommCore::setXferProtocol(XferProtocol v)
{
    if (v < Protocol_XModemChecksum || v > Protocol_Kermit) {
        raiseInvalidValue();
        return;
    }
    m_xferProtocol = v;
}

void TolCommCore::setXferStatusDialog(XferStatusDialog v)
{
    if (v < XferDialog_Hidden || v > XferDialog_Modeless) {
        raiseInvalidValue();
        return;
    }
    m_xferStatusDialog = v;
}

// ---- Port watch (process-wide trace switches of the engine) ---------------------

int TolCommCore::getPortWatch()
{
    return GetPortWatch(engine());
}

void TolCommCore::setPortWatch(int flags)
{
    if (flags < 0 || flags > 31) {
        raiseInvalidValue();
        return;
    }
    SetPortWatch(engine(), flags);
}

bool TolCommCore::watchBit(int bit)
{
    return (GetPortWatch(engine()) & bit) != 0;
}

void TolCommCore::setWatchBit(int bit, bool on)
{
    const uint32_t h = engine();
    const int flags = GetPortWatch(h);
    SetPortWatch(h, on ? (flags | bit) : (flags & ~bit));
}
