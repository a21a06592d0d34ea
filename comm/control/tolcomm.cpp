// TolComm core: the engine object's lifetime, engine events, run-time errors
// and the widget's own events.
#include "tolcomm.h"

#include "tolcom32.h"

#include <dialogs.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QTimer>

#include <cerrno>

// Gives the engine's C callback access to the control's private handler.
struct TolCommEngineBridge {
    static int32_t onEvent(uint32_t handle, int32_t /*controlId*/, int32_t code)
    {
        auto *control = static_cast<TolComm *>(GetEventContext(handle));
        if (control && control->m_handle == handle)
            control->onEngineEvent(code);
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

TolComm::TolComm(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::WindowText, Qt::black);
    setPalette(pal);
    m_terminalTimer.setInterval(100);
    connect(&m_terminalTimer, &QTimer::timeout, this, &TolComm::pullTerminal);
}

TolComm::~TolComm()
{
    m_terminalTimer.stop();
    destroyEngine();
}

uint32_t TolComm::engine()
{
    if (!m_handle)
        createEngine();
    return m_handle;
}

void TolComm::createEngine()
{
    // The engine gets this widget as its parent QObject: without a handler
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

void TolComm::destroyEngine()
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

void TolComm::onEngineEvent(int32_t code)
{
    m_commEvent = code;
    // The engine closes a port whose device went away and then raises a
    // carrier change; a carrier event on a closed port means exactly that.
    const bool lost = code == Event_Carrier && m_handle && !GetPortOpen(m_handle);
    QPointer<TolComm> self(this);
    HandleCommEvent();
    if (lost && self && m_handle) {
        char text[512] = {};
        const int err = GetLastOpenError(m_handle, text, sizeof text);
        raiseError(err ? err : EIO, QString::fromLocal8Bit(text));
    }
}

bool TolComm::event(QEvent *e)
{
    if (e->type() == QEvent::Type(TOLCOM_COMMAND_EVENT)) {
        auto *cmd = static_cast<TolCommCommandEvent *>(e);
        if (m_handle && cmd->handle() == m_handle)
            onEngineEvent(cmd->code());
        return true;
    }
    return QWidget::event(e);
}

// ---- Events ------------------------------------------------------------------

void TolComm::HandleCommEvent()
{
    QPointer<TolComm> self(this);
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

int TolComm::HandleEvent(int /*id*/, int code)
{
    m_commEvent = code;
    HandleCommEvent();
    return 0;
}

void TolComm::noteTransferStatus(int status)
{
    if (status < TransferStatus_Failure || status > TransferStatus_EndOfFile) {
        raiseInvalidValue();
        return;
    }
    m_xferStatus = XferStatus(status);
}

void TolComm::About()
{
    exel::dialogs().messageBox(tr("TolComm serial communications control\nTolLinkware.TolComm"), exel::MsgButtons::Ok,
        exel::MsgIcon::Information, tr("About TolComm"));
}

QString TolComm::lastOpenError()
{
    char text[512] = {};
    GetLastOpenError(engine(), text, sizeof text);
    return QString::fromLocal8Bit(text);
}

int TolComm::WaitForInput(int milliseconds)
{
    const uint32_t h = engine();
    if (milliseconds < 0) {
        raiseInvalidValue();
        return 0;
    }
    QPointer<TolComm> self(this);
    ++m_inputDepth;
    const int n = ::WaitForInput(h, milliseconds);
    if (self)
        --m_inputDepth;
    return n;
}

// ---- Errors ------------------------------------------------------------------

void TolComm::clearError()
{
    m_errorNumber = 0;
    m_errorDescription.clear();
}

void TolComm::raiseError(int number, const QString &description)
{
    m_errorNumber = number;
    m_errorDescription = description;
    if (m_collectErrors)
        return;
    emit RuntimeError(number, description);
}

void TolComm::raiseInvalidValue()
{
    raiseError(kErrInvalidValue, QStringLiteral("Invalid property value"));
}

bool TolComm::engineSet(int32_t (*setter)(uint32_t, int32_t), int32_t value)
{
    if (setter(engine(), value) == kErrInvalidValue) {
        raiseInvalidValue();
        return false;
    }
    return true;
}

bool TolComm::inputRunning()
{
    return m_inputDepth > 0 || (m_handle && GetBusy(m_handle));
}

// Text that goes to the port or into the modem record must be bytes (Latin-1);
// commands and numbers may not carry control characters, which would end a
// modem field or slip an extra command to the modem.
bool TolComm::checkText(const QString &text, bool allowControl)
{
    for (QChar c : text) {
        if (c.unicode() > 0xFF || (!allowControl && c.unicode() < 32)) {
            raiseInvalidValue();
            return false;
        }
    }
    return true;
}

// ---- Widget events -------------------------------------------------------------

namespace {

int shiftState(Qt::KeyboardModifiers m)
{
    return (m & Qt::ShiftModifier ? 1 : 0) | (m & Qt::ControlModifier ? 2 : 0) | (m & Qt::AltModifier ? 4 : 0);
}

int buttonCode(Qt::MouseButtons b)
{
    return (b & Qt::LeftButton ? 1 : 0) | (b & Qt::RightButton ? 2 : 0) | (b & Qt::MiddleButton ? 4 : 0);
}

} // namespace

void TolComm::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Window));
    p.setPen(palette().color(QPalette::WindowText));
    if (m_borderStyle == BorderStyle_FixedSingle)
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    const QFontMetrics fm(font());
    int y = fm.ascent() + 2;
    for (const QString &line : visibleText().split(u'\n')) {
        p.drawText(2, y, line);
        y += fm.lineSpacing();
    }
    emit Paint();
}

void TolComm::mousePressEvent(QMouseEvent *e)
{
    const QPoint pos = e->position().toPoint();
    emit MouseDown(buttonCode(e->button()), shiftState(e->modifiers()), pos.x(), pos.y());
}

void TolComm::mouseReleaseEvent(QMouseEvent *e)
{
    QPointer<TolComm> self(this);
    const QPoint pos = e->position().toPoint();
    emit MouseUp(buttonCode(e->button()), shiftState(e->modifiers()), pos.x(), pos.y());
    if (self && rect().contains(pos))
        emit Click();
}

void TolComm::mouseMoveEvent(QMouseEvent *e)
{
    const QPoint pos = e->position().toPoint();
    emit MouseMove(buttonCode(e->buttons()), shiftState(e->modifiers()), pos.x(), pos.y());
}

void TolComm::mouseDoubleClickEvent(QMouseEvent *)
{
    emit DblClick();
}

void TolComm::keyPressEvent(QKeyEvent *e)
{
    QPointer<TolComm> self(this);
    emit KeyDown(e->key(), shiftState(e->modifiers()));
    const QString text = e->text();
    if (!self || text.isEmpty())
        return;
    const QChar c = text.at(0);
    if (c.unicode() > 0xFF)
        return;
    emit KeyPress(c.unicode());
    // Typed keys go to the port when AutoSend is on.
    if (self && m_autoSend && m_handle && GetPortOpen(m_handle))
        sendOutput(text.left(1).toLatin1());
}

void TolComm::keyReleaseEvent(QKeyEvent *e)
{
    emit KeyUp(e->key(), shiftState(e->modifiers()));
}

void TolComm::showEvent(QShowEvent *)
{
    emit Show();
}

void TolComm::hideEvent(QHideEvent *)
{
    emit Hide();
}
