// TolComm terminal and capture members, the presentation properties of the
// widget, and the boxes filled with modem names.
#include "tolcomm.h"

#include "tolcom32.h"

#include <errorinfo.h>

#include <QComboBox>
#include <QFile>
#include <QListWidget>

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
    const uint32_t h = m_core->existingHandle();
    if (!h)
        return;
    std::vector<char> buf(kTerminalKeep + 1);
    const int n = GetTerminalContents(h, buf.data(), int32_t(buf.size()));
    if (n <= 0)
        return;
    ClearTerminal(h);
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

// ---- Modem boxes ---------------------------------------------------------------

void TolComm::setFillModemCombo(QWidget *combo)
{
    auto *box = qobject_cast<QComboBox *>(combo);
    if (!box) {
        raiseInvalidValue();
        return;
    }
    // The engine takes the box as a QObject behind its void pointer.
    FillComboWithModemNames(m_core->getCommHandle(), static_cast<QObject *>(box));
}

void TolComm::setFillModemList(QWidget *list)
{
    auto *box = qobject_cast<QListWidget *>(list);
    if (!box) {
        raiseInvalidValue();
        return;
    }
    FillListWithModemNames(m_core->getCommHandle(), static_cast<QObject *>(box));
}
