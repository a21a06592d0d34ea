// TolComm terminal, capture, transfer and port-watch members, and the
// presentation properties of the widget.
#include "tolcomm.h"

#include "tolcom32.h"

#include <errorinfo.h>

#include <QFile>
#include <QFileInfo>
#include <QPointer>

#include <cerrno>
#include <vector>

namespace {

// The terminal keeps this much text; older text scrolls out.
constexpr int kTerminalKeep = 32 * 1024;

} // namespace

// ---- Terminal text -----------------------------------------------------------

// The engine's terminal sink collects what Echo, InputEcho and auto-processing
// show; the control takes it over into its own screen text, so that text the
// host displays and text from the port stay in the order they came.
void TolComm::pullTerminal()
{
    if (!m_handle)
        return;
    std::vector<char> buf(kTerminalKeep + 1);
    const int n = GetTerminalContents(m_handle, buf.data(), int32_t(buf.size()));
    if (n <= 0)
        return;
    ClearTerminal(m_handle);
    appendTerminal(QByteArray(buf.data(), qMin(n, kTerminalKeep)));
}

void TolComm::appendTerminal(const QByteArray &bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (char ch : bytes) {
        const uchar c = uchar(ch);
        if (c == '\r')
            continue;
        if (c == '\b') {
            if (!text.isEmpty())
                text.chop(1);
            else if (m_backSpace == BackSpace_Destructive && !m_terminal.isEmpty() && !m_terminal.endsWith(u'\n'))
                m_terminal.chop(1);
            continue;
        }
        text += QChar(c);
    }
    m_terminal += text;
    if (m_terminal.size() > kTerminalKeep)
        m_terminal.remove(0, m_terminal.size() - kTerminalKeep);
    m_cursorRow = m_cursorColumn = -1;
    if (!m_captureFile.isEmpty()) {
        QFile f(m_captureFile);
        if (f.open(QIODevice::Append)) {
            const QByteArray raw = m_captureMode == Capture_Binary ? bytes : text.toLatin1();
            f.write(raw);
        } else {
            const exel::ErrorInfo err = exel::errorFromErrno(errno ? errno : EIO);
            m_captureFile.clear();
            raiseError(err.number, err.description);
        }
    }
    update();
}

QString TolComm::visibleText() const
{
    const QStringList lines = m_terminal.split(u'\n');
    return lines.mid(qMax(0, int(lines.size()) - m_rows)).join(u'\n');
}

QString TolComm::getContents()
{
    pullTerminal();
    return visibleText();
}

void TolComm::setContents(const QString &text)
{
    if (!checkText(text, true))
        return;
    pullTerminal();
    m_terminal = text.right(kTerminalKeep);
    m_cursorRow = m_cursorColumn = -1;
    update();
}

QString TolComm::getScrollContents()
{
    pullTerminal();
    return m_terminal;
}

void TolComm::setDisplay(const QString &text)
{
    if (!checkText(text, true))
        return;
    pullTerminal();
    appendTerminal(text.toLatin1());
}

void TolComm::setDisplayLine(const QString &text)
{
    if (!checkText(text, true))
        return;
    pullTerminal();
    appendTerminal(text.toLatin1() + '\n');
}

int TolComm::getCursorRow()
{
    pullTerminal();
    if (m_cursorRow < 0)
        return int(visibleText().count(u'\n'));
    return m_cursorRow;
}

void TolComm::setCursorRow(int v)
{
    if (v < 0 || v >= m_rows) {
        raiseInvalidValue();
        return;
    }
    m_cursorRow = v;
}

int TolComm::getCursorColumn()
{
    pullTerminal();
    if (m_cursorColumn < 0) {
        const QString text = visibleText();
        return int(text.size() - (text.lastIndexOf(u'\n') + 1));
    }
    return m_cursorColumn;
}

void TolComm::setCursorColumn(int v)
{
    if (v < 0 || v >= m_columns) {
        raiseInvalidValue();
        return;
    }
    m_cursorColumn = v;
}

void TolComm::setSelStart(int v)
{
    if (v < 0) {
        raiseInvalidValue();
        return;
    }
    m_selStart = v;
}

void TolComm::setSelLength(int v)
{
    if (v < 0) {
        raiseInvalidValue();
        return;
    }
    m_selLength = v;
}

QString TolComm::getSelText()
{
    pullTerminal();
    if (m_selStart >= m_terminal.size())
        return QString();
    return m_terminal.mid(m_selStart, m_selLength);
}

void TolComm::setSelText(const QString &text)
{
    if (!checkText(text, true))
        return;
    pullTerminal();
    const int start = qMin(m_selStart, int(m_terminal.size()));
    m_terminal.replace(start, m_selLength, text);
    m_selStart = start;
    m_selLength = int(text.size());
    update();
}

void TolComm::setColumns(int v)
{
    if (v < 1 || v > 1000) {
        raiseInvalidValue();
        return;
    }
    m_columns = v;
}

void TolComm::setRows(int v)
{
    if (v < 1 || v > 1000) {
        raiseInvalidValue();
        return;
    }
    m_rows = v;
    update();
}

void TolComm::setScrollRows(int v)
{
    if (v < 0 || v > 32767) {
        raiseInvalidValue();
        return;
    }
    m_scrollRows = v;
}

void TolComm::setAutoScrollColumn(int v)
{
    if (v < 0) {
        raiseInvalidValue();
        return;
    }
    m_autoScrollColumn = v;
}

void TolComm::setAutoScrollRow(int v)
{
    if (v < 0) {
        raiseInvalidValue();
        return;
    }
    m_autoScrollRow = v;
}

// Enumerated presentation values: anything outside the enumeration is refused.
#define TOLCOMM_ENUM_SETTER(Setter, Type, Member, Low, High)                                                           \
    void TolComm::Setter(Type v)                                                                                       \
    {                                                                                                                  \
        if (int(v) < int(Low) || int(v) > int(High)) {                                                                 \
            raiseInvalidValue();                                                                                       \
            return;                                                                                                    \
        }                                                                                                              \
        Member = v;                                                                                                    \
        update();                                                                                                      \
    }

TOLCOMM_ENUM_SETTER(setBorderStyle, BorderStyle, m_borderStyle, BorderStyle_None, BorderStyle_FixedSingle)
TOLCOMM_ENUM_SETTER(setAutoSize, AutoSize, m_autoSize, AutoSize_None, AutoSize_Parent)
TOLCOMM_ENUM_SETTER(setColorFilter, ColorFilter, m_colorFilter, ColorFilter_Full, ColorFilter_Gray)
TOLCOMM_ENUM_SETTER(setEmulation, Emulation, m_emulation, Emulation_None, Emulation_VT100)
TOLCOMM_ENUM_SETTER(setEndOfLineMode, EndOfLineMode, m_endOfLineMode, EndOfLineMode_NextLine, EndOfLineMode_WrapScreen)
TOLCOMM_ENUM_SETTER(setBackSpace, BackSpace, m_backSpace, BackSpace_Destructive, BackSpace_NonDestructive)
TOLCOMM_ENUM_SETTER(setCaptureMode, CaptureMode, m_captureMode, Capture_Standard, Capture_Visible)
TOLCOMM_ENUM_SETTER(setXferProtocol, XferProtocol, m_xferProtocol, Protocol_XModemChecksum, Protocol_Kermit)
TOLCOMM_ENUM_SETTER(setXferStatusDialog, XferStatusDialog, m_xferStatusDialog, XferDialog_Hidden, XferDialog_Modeless)

#undef TOLCOMM_ENUM_SETTER

QColor TolComm::getBackColor() const
{
    return palette().color(QPalette::Window);
}
QColor TolComm::getForeColor() const
{
    return palette().color(QPalette::WindowText);
}

void TolComm::setBackColor(const QColor &c)
{
    if (!c.isValid()) {
        raiseInvalidValue();
        return;
    }
    QPalette pal = palette();
    pal.setColor(QPalette::Window, c);
    setPalette(pal);
}

void TolComm::setForeColor(const QColor &c)
{
    if (!c.isValid()) {
        raiseInvalidValue();
        return;
    }
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, c);
    setPalette(pal);
}

void TolComm::setHwnd(QWidget *w)
{
    // The control's window is the control itself; it cannot take another.
    if (w != this)
        raiseInvalidValue();
}

// ---- Capture ------------------------------------------------------------------

void TolComm::setCaptureFilename(const QString &path)
{
    pullTerminal();
    if (path.isEmpty()) {
        m_captureFile.clear();
        return;
    }
    QFile f(path);
    if (!f.open(QIODevice::Append)) {
        const exel::ErrorInfo err = exel::errorFromErrno(errno ? errno : EACCES);
        raiseError(err.number, err.description);
        return;
    }
    m_captureFile = path;
}

// ---- Transfers ------------------------------------------------------------------

// File transfers need a transfer library that this platform does not ship:
// a transfer fails at once, reports it as its status and event, and raises
// "Operation not supported".
void TolComm::startTransfer(const QString &fileName, bool upload)
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
    QPointer<TolComm> self(this);
    HandleEvent(int(h), Event_Transfer);
    if (self)
        raiseError(err.number, err.description);
}

void TolComm::setUpload(const QString &fileName)
{
    startTransfer(fileName, true);
}
void TolComm::setDownload(const QString &fileName)
{
    startTransfer(fileName, false);
}

void TolComm::setAbortTransfer(bool on)
{
    // No transfer ever runs, so there is nothing to abort.
    Q_UNUSED(on);
}

// ---- Port watch (process-wide trace switches of the engine) ---------------------

int TolComm::getPortWatch()
{
    return GetPortWatch(engine());
}

void TolComm::setPortWatch(int flags)
{
    if (flags < 0 || flags > 31) {
        raiseInvalidValue();
        return;
    }
    SetPortWatch(engine(), flags);
}

bool TolComm::watchBit(int bit)
{
    return (GetPortWatch(engine()) & bit) != 0;
}

void TolComm::setWatchBit(int bit, bool on)
{
    const uint32_t h = engine();
    const int flags = GetPortWatch(h);
    SetPortWatch(h, on ? (flags | bit) : (flags & ~bit));
}
