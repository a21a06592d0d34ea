// TolComm: the widget around its TolCommCore (events relayed, the members
// that change the terminal's routing) and the widget's own events.
#include "tolcomm.h"

#include "tolcom32.h"

#include <dialogs.h>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

TolComm::TolComm(QWidget *parent)
    : QWidget(parent)
    , m_core(new TolCommCore(this))
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::WindowText, Qt::black);
    setPalette(pal);
    m_terminalTimer.setInterval(100);
    connect(&m_terminalTimer, &QTimer::timeout, this, &TolComm::pullTerminal);
    // The core's events are the control's events.
    connect(m_core, &TolCommCore::AbortFile, this, &TolComm::AbortFile);
    connect(m_core, &TolCommCore::AbortFileTransfer, this, &TolComm::AbortFileTransfer);
    connect(m_core, &TolCommCore::CarrierChanged, this, &TolComm::CarrierChanged);
    connect(m_core, &TolCommCore::CTSChanged, this, &TolComm::CTSChanged);
    connect(m_core, &TolCommCore::DSRChanged, this, &TolComm::DSRChanged);
    connect(m_core, &TolCommCore::EOFChar, this, &TolComm::EOFChar);
    connect(m_core, &TolCommCore::FinishFile, this, &TolComm::FinishFile);
    connect(m_core, &TolCommCore::FinishFileTransfer, this, &TolComm::FinishFileTransfer);
    connect(m_core, &TolCommCore::OnComm, this, &TolComm::OnComm);
    connect(m_core, &TolCommCore::PrepareFile, this, &TolComm::PrepareFile);
    connect(m_core, &TolCommCore::Ring, this, &TolComm::Ring);
    connect(m_core, &TolCommCore::Receive, this, &TolComm::Receive);
    connect(m_core, &TolCommCore::Send, this, &TolComm::Send);
    connect(m_core, &TolCommCore::StartFile, this, &TolComm::StartFile);
    connect(m_core, &TolCommCore::TransferBlock, this, &TolComm::TransferBlock);
    connect(m_core, &TolCommCore::WaitForFile, this, &TolComm::WaitForFile);
    connect(m_core, &TolCommCore::RuntimeError, this, &TolComm::RuntimeError);
}

TolComm::~TolComm()
{
    m_terminalTimer.stop();
    // The engine object goes now, while the widget is still whole.
    delete m_core;
    m_core = nullptr;
}

void TolComm::About()
{
    exel::dialogs().messageBox(tr("TolComm serial communications control\nTolLinkware.TolComm"), exel::MsgButtons::Ok,
        exel::MsgIcon::Information, tr("About TolComm"));
}

// ---- Members that change where received data goes ---------------------------

void TolComm::followTerminalRouting()
{
    // Routed input reaches the engine's terminal sink without any event, so
    // the control collects it for its screen on a timer of its own.
    if (m_core->routesToTerminal())
        m_terminalTimer.start();
    else
        m_terminalTimer.stop();
}

void TolComm::setAutoReceive(bool on)
{
    m_core->setAutoReceive(on);
    followTerminalRouting();
}

void TolComm::setAutoProcess(int v)
{
    m_core->setAutoProcess(v);
    followTerminalRouting();
}

void TolComm::setUserMode(bool on)
{
    m_core->setUserMode(on);
    followTerminalRouting();
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
    if (self && m_autoSend && m_core->existingHandle() && GetPortOpen(m_core->existingHandle()))
        m_core->sendOutput(text.left(1).toLatin1());
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
