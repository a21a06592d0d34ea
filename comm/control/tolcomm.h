// TolComm: the embeddable serial communications control, a widget that
// presents one engine comm object as properties, methods and signals. The
// engine object and every non-visual member belong to the TolCommCore it wraps
// (tolcommcore.h, usable without a window); TolComm forwards those members to
// it and adds the window: colours, font, the terminal screen, its capture,
// the modem boxes, the key and mouse events.
//
// Hosts drive it by member name through Qt's meta-object system:
//   comm->setProperty("CommPort", 1);
//   comm->setProperty("Settings", "9600,N,8,2");
//   comm->setProperty("PortOpen", true);
//   comm->setProperty("Output", "text");
//   QString in = comm->property("ComInput").toString();
//   connect(comm, SIGNAL(CarrierChanged()), host, SLOT(onCarrier()));
// and create it by its ProgID "TolLinkware.TolComm" (controlfactory.h).
//
// Members keep their names, kinds and order: properties are listed below in
// the order of the control's interface, read-only members have no WRITE,
// write-only members have no READ. Events are signals in their own order.
//
// Run-time errors. A member that fails records an error number and its
// description and emits RuntimeError(number, description) once; the value of
// a refused property stays as it was. The error stays readable through
// lastError()/lastErrorDescription() until clearError() or the next error, so
// a host can trap around any call:
//   comm->clearError();
//   comm->setProperty("Settings", text);
//   if (comm->lastError()) report(comm->lastError(), comm->lastErrorDescription());
// Numbers: 380 "Invalid property value" (refused values), 70 (input while a
// look-up or another input of the same control runs), 8018 (output on a closed
// port), OS error numbers with their strerror text otherwise.
//
// Lifetime. The engine object is created when the control reads its
// properties (InitProperties for a new control, ReadProperties from a
// property bag) or at the first member call, whichever comes first; it is
// destroyed, and the port closed, with the control. With UserMode false (a
// form designer), the persisted PortOpen and auto-processing are kept but not
// applied: the port is never opened.
//
// Window handles are widgets here: FillModemCombo takes a QComboBox and
// FillModemList a QListWidget, passed as QVariant::fromValue(box); hwnd reads
// the control itself. Dial is set to a number and then reads "CONNECTED" or
// the reason it failed ("NO CARRIER", "NO DIALTONE", "BUSY", "TIMEOUT",
// "INVALID NUMBER"). Text crosses the port as Latin-1, one byte per character;
// a character above 255 is refused (380), never replaced.
//
// Thread rule: the GUI thread only (the engine object belongs to it).
#pragma once

#include "propertybag.h"
#include "tolcomexport.h"
#include "tolcommcore.h"

#include <QColor>
#include <QFont>
#include <QTimer>
#include <QWidget>

#include <cstdint>

class TOLCOM_EXPORT TolComm : public QWidget {
    Q_OBJECT

    Q_PROPERTY(QColor BackColor READ getBackColor WRITE setBackColor)
    Q_PROPERTY(BorderStyle BorderStyle READ getBorderStyle WRITE setBorderStyle)
    Q_PROPERTY(bool Enabled READ getEnabled WRITE setEnabledMember)
    Q_PROPERTY(QFont Font READ getFont WRITE setFontMember)
    Q_PROPERTY(QColor ForeColor READ getForeColor WRITE setForeColor)
    Q_PROPERTY(QWidget *hwnd READ getHwnd WRITE setHwnd)
    Q_PROPERTY(bool AbortTransfer READ getAbortTransfer WRITE setAbortTransfer)
    Q_PROPERTY(bool AutoReceive READ getAutoReceive WRITE setAutoReceive)
    Q_PROPERTY(bool AutoScroll READ getAutoScroll WRITE setAutoScroll)
    Q_PROPERTY(bool AutoSend READ getAutoSend WRITE setAutoSend)
    Q_PROPERTY(int AutoScrollColumn READ getAutoScrollColumn WRITE setAutoScrollColumn)
    Q_PROPERTY(bool AutoScrollKeyboard READ getAutoScrollKeyboard WRITE setAutoScrollKeyboard)
    Q_PROPERTY(int AutoScrollRow READ getAutoScrollRow WRITE setAutoScrollRow)
    Q_PROPERTY(AutoSize AutoSize READ getAutoSize WRITE setAutoSize)
    Q_PROPERTY(bool Break READ getBreak WRITE setBreak)
    Q_PROPERTY(QString CaptureFilename READ getCaptureFilename WRITE setCaptureFilename)
    Q_PROPERTY(CaptureMode CaptureMode READ getCaptureMode WRITE setCaptureMode)
    Q_PROPERTY(bool CDHolding READ getCDHolding)
    Q_PROPERTY(int CDTimeOut READ getCDTimeOut WRITE setCDTimeOut)
    Q_PROPERTY(ColorFilter ColorFilter READ getColorFilter WRITE setColorFilter)
    Q_PROPERTY(int Columns READ getColumns WRITE setColumns)
    Q_PROPERTY(int CommError READ getCommError)
    Q_PROPERTY(int CommID READ getCommID WRITE setCommID)
    Q_PROPERTY(int CommPort READ getCommPort WRITE setCommPort)
    Q_PROPERTY(QString Contents READ getContents WRITE setContents)
    Q_PROPERTY(bool CTSHolding READ getCTSHolding)
    Q_PROPERTY(int CTSTimeOut READ getCTSTimeOut WRITE setCTSTimeOut)
    Q_PROPERTY(int CursorColumn READ getCursorColumn WRITE setCursorColumn)
    Q_PROPERTY(int CursorRow READ getCursorRow WRITE setCursorRow)
    Q_PROPERTY(QString Dial READ getDial WRITE setDial)
    Q_PROPERTY(DialMode DialMode READ getDialMode WRITE setDialMode)
    Q_PROPERTY(QString Display WRITE setDisplay)
    Q_PROPERTY(QString DisplayLine WRITE setDisplayLine)
    Q_PROPERTY(QString Download WRITE setDownload)
    Q_PROPERTY(bool DSRHolding READ getDSRHolding)
    Q_PROPERTY(int DSRTimeOut READ getDSRTimeOut WRITE setDSRTimeOut)
    Q_PROPERTY(bool DTRHolding READ getDTRHolding WRITE setDTRHolding)
    Q_PROPERTY(bool Echo READ getEcho WRITE setEcho)
    Q_PROPERTY(bool CommEcho READ getCommEcho WRITE setCommEcho)
    Q_PROPERTY(Emulation Emulation READ getEmulation WRITE setEmulation)
    Q_PROPERTY(QWidget *FillModemCombo WRITE setFillModemCombo)
    Q_PROPERTY(QWidget *FillModemList WRITE setFillModemList)
    Q_PROPERTY(Handshaking Handshaking READ getHandshaking WRITE setHandshaking)
    Q_PROPERTY(bool HangUp READ getHangUp)
    Q_PROPERTY(int InBufferCount READ getInBufferCount WRITE setInBufferCount)
    Q_PROPERTY(int InBufferSize READ getInBufferSize WRITE setInBufferSize)
    Q_PROPERTY(bool InitModem READ getInitModem)
    Q_PROPERTY(bool InitModemForAnswer READ getInitModemForAnswer)
    Q_PROPERTY(QString ComInput READ getComInput)
    Q_PROPERTY(bool InputEcho READ getInputEcho WRITE setInputEcho)
    Q_PROPERTY(int InputLen READ getInputLen WRITE setInputLen)
    Q_PROPERTY(int Interval READ getInterval WRITE setInterval)
    Q_PROPERTY(int InTimeOut READ getInTimeOut WRITE setInTimeOut)
    Q_PROPERTY(QString ComLineInput READ getComLineInput)
    Q_PROPERTY(int LookUp READ getLookUp)
    Q_PROPERTY(QString LookUpInput READ getLookUpInput)
    Q_PROPERTY(int LookUpInputLen READ getLookUpInputLen WRITE setLookUpInputLen)
    Q_PROPERTY(QString LookUpSeparator READ getLookUpSeparator WRITE setLookUpSeparator)
    Q_PROPERTY(QString LookUpText READ getLookUpText WRITE setLookUpText)
    Q_PROPERTY(int LookUpTimeOut READ getLookUpTimeOut WRITE setLookUpTimeOut)
    Q_PROPERTY(QString ModemAnswerCommand READ getModemAnswerCommand WRITE setModemAnswerCommand)
    Q_PROPERTY(QString ModemDialPulseCommand READ getModemDialPulseCommand WRITE setModemDialPulseCommand)
    Q_PROPERTY(QString ModemDialToneCommand READ getModemDialToneCommand WRITE setModemDialToneCommand)
    Q_PROPERTY(QString ModemHangUpCommand READ getModemHangUpCommand WRITE setModemHangUpCommand)
    Q_PROPERTY(int ModemIndex READ getModemIndex WRITE setModemIndex)
    Q_PROPERTY(QString ModemInitCommand READ getModemInitCommand WRITE setModemInitCommand)
    Q_PROPERTY(QString ModemTitle READ getModemTitle WRITE setModemTitle)
    Q_PROPERTY(bool NullDiscard READ getNullDiscard WRITE setNullDiscard)
    Q_PROPERTY(int OutBufferCount READ getOutBufferCount WRITE setOutBufferCount)
    Q_PROPERTY(int OutBufferSize READ getOutBufferSize WRITE setOutBufferSize)
    Q_PROPERTY(QString Output WRITE setOutput)
    Q_PROPERTY(QString OutputLine WRITE setOutputLine)
    Q_PROPERTY(QString OutputModem WRITE setOutputModem)
    Q_PROPERTY(int ParityReplace READ getParityReplace WRITE setParityReplace)
    Q_PROPERTY(bool PortOpen READ getPortOpen WRITE setPortOpen)
    Q_PROPERTY(int Rows READ getRows WRITE setRows)
    Q_PROPERTY(int RThreshold READ getRThreshold WRITE setRThreshold)
    Q_PROPERTY(QString ScrollContents READ getScrollContents)
    Q_PROPERTY(int ScrollRows READ getScrollRows WRITE setScrollRows)
    Q_PROPERTY(int SelLength READ getSelLength WRITE setSelLength)
    Q_PROPERTY(int SelStart READ getSelStart WRITE setSelStart)
    Q_PROPERTY(QString SelText READ getSelText WRITE setSelText)
    Q_PROPERTY(QString Settings READ getSettings WRITE setSettings)
    Q_PROPERTY(int SThreshold READ getSThreshold WRITE setSThreshold)
    Q_PROPERTY(QString Upload WRITE setUpload)
    Q_PROPERTY(QString XferDestFilename READ getXferDestFilename WRITE setXferDestFilename)
    Q_PROPERTY(int XferFileSize READ getXferFileSize)
    Q_PROPERTY(QString XferMessage READ getXferMessage)
    Q_PROPERTY(XferProtocol XferProtocol READ getXferProtocol WRITE setXferProtocol)
    Q_PROPERTY(QString XferSourceFilename READ getXferSourceFilename)
    Q_PROPERTY(XferStatus XferStatus READ getXferStatus)
    Q_PROPERTY(XferStatusDialog XferStatusDialog READ getXferStatusDialog WRITE setXferStatusDialog)
    Q_PROPERTY(int XferTransferred READ getXferTransferred)
    Q_PROPERTY(int AutoProcess READ getAutoProcess WRITE setAutoProcess)
    Q_PROPERTY(BackSpace BackSpace READ getBackSpace WRITE setBackSpace)
    Q_PROPERTY(bool Busy READ getBusy)
    Q_PROPERTY(int CommEvent READ getCommEvent WRITE setCommEvent)
    Q_PROPERTY(int DialTimeOut READ getDialTimeOut WRITE setDialTimeOut)
    Q_PROPERTY(EndOfLineMode EndOfLineMode READ getEndOfLineMode WRITE setEndOfLineMode)
    Q_PROPERTY(bool IgnoreOnComm READ getIgnoreOnComm WRITE setIgnoreOnComm)
    Q_PROPERTY(int Notification READ getNotification WRITE setNotification)
    Q_PROPERTY(int Pause WRITE setPause)
    Q_PROPERTY(bool RTSEnable READ getRTSEnable WRITE setRTSEnable)
    Q_PROPERTY(bool ShutDown READ getShutDown WRITE setShutDown)
    Q_PROPERTY(int PortWatch READ getPortWatch WRITE setPortWatch)
    Q_PROPERTY(bool PortWatchInput READ getPortWatchInput WRITE setPortWatchInput)
    Q_PROPERTY(bool PortWatchOutput READ getPortWatchOutput WRITE setPortWatchOutput)
    Q_PROPERTY(bool PortWatchEvents READ getPortWatchEvents WRITE setPortWatchEvents)
    Q_PROPERTY(bool PortWatchWarnings READ getPortWatchWarnings WRITE setPortWatchWarnings)
    Q_PROPERTY(bool PortWatchProperties READ getPortWatchProperties WRITE setPortWatchProperties)
    Q_PROPERTY(uint CommHandle READ getCommHandle)

    // Added on this platform, after the interface's own members: whether the
    // control runs in a program (true) or sits in a form designer (false).
    Q_PROPERTY(bool UserMode READ getUserMode WRITE setUserMode)

public:
    // Every enumeration has int as its type, so that any number a host sets
    // arrives in the setter, which refuses what is not in the enumeration.
    enum CommPort : int {
        COM1 = 1,
        COM2 = 2,
        COM3 = 3,
        COM4 = 4,
        COM5 = 5,
        COM6 = 6,
        COM7 = 7,
        COM8 = 8,
        COM9 = 9,
        COM10 = 10,
        COM11 = 11,
        COM12 = 12,
        COM13 = 13,
        COM14 = 14,
        COM15 = 15,
        COM16 = 16,
        COM17 = 17,
        COM18 = 18,
        COM19 = 19,
        COM20 = 20,
        COM21 = 21,
        COM22 = 22,
        COM23 = 23,
        COM24 = 24,
        COM25 = 25,
        COM26 = 26,
        COM27 = 27,
        COM28 = 28,
        COM29 = 29,
        COM30 = 30,
        COM31 = 31,
        COM32 = 32,
        COM33 = 33,
        COM34 = 34,
        COM35 = 35,
        COM36 = 36,
        COM37 = 37,
        COM38 = 38,
        COM39 = 39,
        COM40 = 40,
        COM41 = 41,
        COM42 = 42,
        COM43 = 43,
        COM44 = 44,
        COM45 = 45,
        COM46 = 46,
        COM47 = 47,
        COM48 = 48,
        COM49 = 49,
        COM50 = 50,
        COM51 = 51,
        COM52 = 52,
        COM53 = 53,
        COM54 = 54,
        COM55 = 55,
        COM56 = 56,
        COM57 = 57,
        COM58 = 58,
        COM59 = 59,
        COM60 = 60,
        COM61 = 61,
        COM62 = 62,
        COM63 = 63,
        COM64 = 64
    };
    Q_ENUM(CommPort)
    enum Handshaking : int {
        Handshaking_None = 0,
        Handshaking_XonXoff = 1,
        Handshaking_Hardware = 2,
        Handshaking_Both = 3
    };
    Q_ENUM(Handshaking)
    enum CommEvent : int {
        Event_Send = 1,
        Event_Receive = 2,
        Event_Cts = 3,
        Event_Dsr = 4,
        Event_Carrier = 5,
        Event_Ring = 6,
        Event_Eof = 7,
        Event_Transfer = 100
    };
    Q_ENUM(CommEvent)
    enum CommError : int {
        Error_Break = 1001,
        Error_CtsTimeOut = 1002,
        Error_DsrTimeOut = 1003,
        Error_FrameError = 1004,
        Error_InputTimeOut = 1005,
        Error_DataOverrun = 1006,
        Error_CarrierTimeOut = 1007,
        Error_ReceiveBufferOverflow = 1008,
        Error_Parity = 1009,
        Error_SendBufferOverflow = 1010
    };
    Q_ENUM(CommError)
    enum DialMode : int { Dial_Tone = 0, Dial_Pulse = 1 };
    Q_ENUM(DialMode)
    enum Emulation : int {
        Emulation_None = 0,
        Emulation_TTY = 1,
        Emulation_Ansi = 2,
        Emulation_VT52 = 3,
        Emulation_VT100 = 4
    };
    Q_ENUM(Emulation)
    enum AutoSize : int { AutoSize_None = 0, AutoSize_Terminal = 1, AutoSize_Parent = 2 };
    Q_ENUM(AutoSize)
    enum EndOfLineMode : int {
        EndOfLineMode_NextLine = 0,
        EndOfLineMode_DoNothing = 1,
        EndOfLineMode_WrapLine = 2,
        EndOfLineMode_WrapScreen = 3
    };
    Q_ENUM(EndOfLineMode)
    enum ColorFilter : int { ColorFilter_Full = 0, ColorFilter_BW = 1, ColorFilter_Gray = 2 };
    Q_ENUM(ColorFilter)
    enum CaptureMode : int { Capture_Standard = 0, Capture_Binary = 1, Capture_Visible = 2 };
    Q_ENUM(CaptureMode)
    enum BackSpace : int { BackSpace_Destructive = 0, BackSpace_NonDestructive = 1 };
    Q_ENUM(BackSpace)
    enum BorderStyle : int { BorderStyle_None = 0, BorderStyle_FixedSingle = 1 };
    Q_ENUM(BorderStyle)
    enum TerminalColor : int {
        Black = 0,
        Blue = 1,
        Green = 2,
        Cyan = 4,
        Magenta = 5,
        Brown = 6,
        LightGray = 7,
        DarkGray = 8,
        LightBlue = 9,
        LightGreen = 10,
        LightCyan = 11,
        LightRed = 12,
        LightMagenta = 13,
        Yellow = 14,
        White = 15
    };
    Q_ENUM(TerminalColor)
    enum XferStatusDialog : int { XferDialog_Hidden = 0, XferDialog_Modal = 1, XferDialog_Modeless = 2 };
    Q_ENUM(XferStatusDialog)
    enum XferProtocol : int {
        Protocol_XModemChecksum = 0,
        Protocol_XModemCRC = 1,
        Protocol_XModem1K = 2,
        Protocol_YModem = 3,
        Protocol_YModemG = 4,
        Protocol_ZModem = 5,
        Protocol_Kermit = 6
    };
    Q_ENUM(XferProtocol)
    enum XferStatus : int {
        TransferStatus_Failure = -1,
        TransferStatus_Success = 0,
        TransferStatus_WaitForFile = 1,
        TransferStatus_Prepare = 2,
        TransferStatus_Starting = 3,
        TransferStatus_Transfering = 4,
        TransferStatus_FileAbort = 5,
        TransferStatus_TransferAborting = 6,
        TransferStatus_EndOfFile = 7
    };
    Q_ENUM(XferStatus)

    // Run-time error numbers the control raises itself.
    static constexpr int kErrInputBusy = TolCommCore::kErrInputBusy;
    static constexpr int kErrInvalidValue = TolCommCore::kErrInvalidValue;
    static constexpr int kErrPortNotOpen = TolCommCore::kErrPortNotOpen;

    explicit TolComm(QWidget *parent = nullptr);
    ~TolComm() override;

    // The window-free control this widget wraps (it owns it).
    TolCommCore *core() const { return m_core; }

    // ---- Methods of the interface ----
    Q_INVOKABLE void About();
    // Raises OnComm (unless IgnoreOnComm) and then the one event that belongs
    // to CommEvent.
    Q_INVOKABLE void HandleCommEvent() { m_core->HandleCommEvent(); }
    // Stores code as CommEvent and raises its events; id is the engine's
    // control id (the comm handle) and is not otherwise used.
    Q_INVOKABLE int HandleEvent(int id, int code) { return m_core->HandleEvent(id, code); }

    // ---- Added on this platform ----
    // Waits up to milliseconds for received bytes while events keep running;
    // returns as soon as any are queued: the count queued, or 0 on time-out
    // or a closed port.
    Q_INVOKABLE int WaitForInput(int milliseconds) { return m_core->WaitForInput(milliseconds); }
    // Last run-time error (0 = none) and its description.
    Q_INVOKABLE int lastError() const { return m_core->lastError(); }
    Q_INVOKABLE QString lastErrorDescription() const { return m_core->lastErrorDescription(); }
    Q_INVOKABLE void clearError() { m_core->clearError(); }
    // Why the last attempt to open the port failed, or why the open port was
    // lost: the device tried and the reason, with a hint for the usual causes
    // (our addition; "" when the last open succeeded).
    Q_INVOKABLE QString lastOpenError() { return m_core->lastOpenError(); }

    // Persistence in the hosting form's property bag. InitProperties sets up
    // a new control (its modem strings and defaults); ReadProperties applies a
    // bag, using the defaults for absent keys; WriteProperties saves every
    // persisted member under its key, in member order. A value the bag holds
    // that the member refuses is replaced by the default and reported as a
    // run-time error.
    void InitProperties();
    void ReadProperties(const PropertyBag &bag);
    void WriteProperties(PropertyBag &bag);
    // The persisted members: (bag key, member name), in member order.
    static QList<QPair<QString, QString>> persistedMembers();

    // The transfer status that event 100 reports (set by the transfer that runs).
    void noteTransferStatus(int status) { m_core->noteTransferStatus(status); }

    // ---- Accessors behind the properties (the non-visual ones forward to the core) ----
    QColor getBackColor() const;
    void setBackColor(const QColor &c);
    BorderStyle getBorderStyle() const { return m_borderStyle; }
    void setBorderStyle(BorderStyle v);
    bool getEnabled() const { return isEnabled(); }
    void setEnabledMember(bool on) { setEnabled(on); }
    QFont getFont() const { return font(); }
    void setFontMember(const QFont &f) { setFont(f); }
    QColor getForeColor() const;
    void setForeColor(const QColor &c);
    QWidget *getHwnd() { return this; }
    void setHwnd(QWidget *w);
    bool getAbortTransfer() const { return m_core->getAbortTransfer(); }
    void setAbortTransfer(bool on) { m_core->setAbortTransfer(on); }
    bool getAutoReceive() const { return m_core->getAutoReceive(); }
    void setAutoReceive(bool on);
    bool getAutoScroll() const { return m_autoScroll; }
    void setAutoScroll(bool on) { m_autoScroll = on; }
    bool getAutoSend() const { return m_autoSend; }
    void setAutoSend(bool on) { m_autoSend = on; }
    int getAutoScrollColumn() const { return m_autoScrollColumn; }
    void setAutoScrollColumn(int v);
    bool getAutoScrollKeyboard() const { return m_autoScrollKeyboard; }
    void setAutoScrollKeyboard(bool on) { m_autoScrollKeyboard = on; }
    int getAutoScrollRow() const { return m_autoScrollRow; }
    void setAutoScrollRow(int v);
    AutoSize getAutoSize() const { return m_autoSize; }
    void setAutoSize(AutoSize v);
    bool getBreak() { return m_core->getBreak(); }
    void setBreak(bool on) { m_core->setBreak(on); }
    QString getCaptureFilename() const { return m_captureFile; }
    void setCaptureFilename(const QString &path);
    CaptureMode getCaptureMode() const { return m_captureMode; }
    void setCaptureMode(CaptureMode v);
    bool getCDHolding() { return m_core->getCDHolding(); }
    int getCDTimeOut() { return m_core->getCDTimeOut(); }
    void setCDTimeOut(int ms) { m_core->setCDTimeOut(ms); }
    ColorFilter getColorFilter() const { return m_colorFilter; }
    void setColorFilter(ColorFilter v);
    int getColumns() const { return m_columns; }
    void setColumns(int v);
    int getCommError() { return m_core->getCommError(); }
    int getCommID() { return m_core->getCommID(); }
    void setCommID(int fd) { m_core->setCommID(fd); }
    int getCommPort() { return m_core->getCommPort(); }
    void setCommPort(int port) { m_core->setCommPort(port); }
    QString getContents();
    void setContents(const QString &text);
    bool getCTSHolding() { return m_core->getCTSHolding(); }
    int getCTSTimeOut() { return m_core->getCTSTimeOut(); }
    void setCTSTimeOut(int ms) { m_core->setCTSTimeOut(ms); }
    int getCursorColumn();
    void setCursorColumn(int v);
    int getCursorRow();
    void setCursorRow(int v);
    QString getDial() const { return m_core->getDial(); }
    void setDial(const QString &number) { m_core->setDial(number); }
    DialMode getDialMode() { return DialMode(m_core->getDialMode()); }
    void setDialMode(DialMode v) { m_core->setDialMode(TolCommCore::DialMode(v)); }
    void setDisplay(const QString &text);
    void setDisplayLine(const QString &text);
    void setDownload(const QString &fileName) { m_core->setDownload(fileName); }
    bool getDSRHolding() { return m_core->getDSRHolding(); }
    int getDSRTimeOut() { return m_core->getDSRTimeOut(); }
    void setDSRTimeOut(int ms) { m_core->setDSRTimeOut(ms); }
    bool getDTRHolding() { return m_core->getDTRHolding(); }
    void setDTRHolding(bool on) { m_core->setDTRHolding(on); }
    bool getEcho() { return m_core->getEcho(); }
    void setEcho(bool on) { m_core->setEcho(on); }
    bool getCommEcho() { return m_core->getCommEcho(); }
    void setCommEcho(bool on) { m_core->setCommEcho(on); }
    Emulation getEmulation() const { return m_emulation; }
    void setEmulation(Emulation v);
    void setFillModemCombo(QWidget *combo);
    void setFillModemList(QWidget *list);
    Handshaking getHandshaking() { return Handshaking(m_core->getHandshaking()); }
    void setHandshaking(Handshaking v) { m_core->setHandshaking(TolCommCore::Handshaking(v)); }
    bool getHangUp() { return m_core->getHangUp(); }
    int getInBufferCount() { return m_core->getInBufferCount(); }
    void setInBufferCount(int v) { m_core->setInBufferCount(v); }
    int getInBufferSize() { return m_core->getInBufferSize(); }
    void setInBufferSize(int v) { m_core->setInBufferSize(v); }
    bool getInitModem() { return m_core->getInitModem(); }
    bool getInitModemForAnswer() { return m_core->getInitModemForAnswer(); }
    QString getComInput() { return m_core->getComInput(); }
    bool getInputEcho() { return m_core->getInputEcho(); }
    void setInputEcho(bool on) { m_core->setInputEcho(on); }
    int getInputLen() { return m_core->getInputLen(); }
    void setInputLen(int v) { m_core->setInputLen(v); }
    int getInterval() { return m_core->getInterval(); }
    void setInterval(int ms) { m_core->setInterval(ms); }
    int getInTimeOut() { return m_core->getInTimeOut(); }
    void setInTimeOut(int ms) { m_core->setInTimeOut(ms); }
    QString getComLineInput() { return m_core->getComLineInput(); }
    int getLookUp() { return m_core->getLookUp(); }
    QString getLookUpInput() { return m_core->getLookUpInput(); }
    int getLookUpInputLen() const { return m_core->getLookUpInputLen(); }
    void setLookUpInputLen(int v) { m_core->setLookUpInputLen(v); }
    QString getLookUpSeparator() { return m_core->getLookUpSeparator(); }
    void setLookUpSeparator(const QString &sep) { m_core->setLookUpSeparator(sep); }
    QString getLookUpText() const { return m_core->getLookUpText(); }
    void setLookUpText(const QString &text) { m_core->setLookUpText(text); }
    int getLookUpTimeOut() { return m_core->getLookUpTimeOut(); }
    void setLookUpTimeOut(int ms) { m_core->setLookUpTimeOut(ms); }
    QString getModemAnswerCommand() { return m_core->getModemAnswerCommand(); }
    void setModemAnswerCommand(const QString &s) { m_core->setModemAnswerCommand(s); }
    QString getModemDialPulseCommand() { return m_core->getModemDialPulseCommand(); }
    void setModemDialPulseCommand(const QString &s) { m_core->setModemDialPulseCommand(s); }
    QString getModemDialToneCommand() { return m_core->getModemDialToneCommand(); }
    void setModemDialToneCommand(const QString &s) { m_core->setModemDialToneCommand(s); }
    QString getModemHangUpCommand() { return m_core->getModemHangUpCommand(); }
    void setModemHangUpCommand(const QString &s) { m_core->setModemHangUpCommand(s); }
    int getModemIndex() const { return m_core->getModemIndex(); }
    void setModemIndex(int entry) { m_core->setModemIndex(entry); }
    QString getModemInitCommand() { return m_core->getModemInitCommand(); }
    void setModemInitCommand(const QString &s) { m_core->setModemInitCommand(s); }
    QString getModemTitle() { return m_core->getModemTitle(); }
    void setModemTitle(const QString &s) { m_core->setModemTitle(s); }
    bool getNullDiscard() { return m_core->getNullDiscard(); }
    void setNullDiscard(bool on) { m_core->setNullDiscard(on); }
    int getOutBufferCount() { return m_core->getOutBufferCount(); }
    void setOutBufferCount(int v) { m_core->setOutBufferCount(v); }
    int getOutBufferSize() { return m_core->getOutBufferSize(); }
    void setOutBufferSize(int v) { m_core->setOutBufferSize(v); }
    void setOutput(const QString &text) { m_core->setOutput(text); }
    void setOutputLine(const QString &text) { m_core->setOutputLine(text); }
    void setOutputModem(const QString &command) { m_core->setOutputModem(command); }
    int getParityReplace() { return m_core->getParityReplace(); }
    void setParityReplace(int v) { m_core->setParityReplace(v); }
    bool getPortOpen() { return m_core->getPortOpen(); }
    void setPortOpen(bool on) { m_core->setPortOpen(on); }
    int getRows() const { return m_rows; }
    void setRows(int v);
    int getRThreshold() { return m_core->getRThreshold(); }
    void setRThreshold(int v) { m_core->setRThreshold(v); }
    QString getScrollContents();
    int getScrollRows() const { return m_scrollRows; }
    void setScrollRows(int v);
    int getSelLength() const { return m_selLength; }
    void setSelLength(int v);
    int getSelStart() const { return m_selStart; }
    void setSelStart(int v);
    QString getSelText();
    void setSelText(const QString &text);
    QString getSettings() { return m_core->getSettings(); }
    void setSettings(const QString &text) { m_core->setSettings(text); }
    int getSThreshold() { return m_core->getSThreshold(); }
    void setSThreshold(int v) { m_core->setSThreshold(v); }
    void setUpload(const QString &fileName) { m_core->setUpload(fileName); }
    QString getXferDestFilename() const { return m_core->getXferDestFilename(); }
    void setXferDestFilename(const QString &path) { m_core->setXferDestFilename(path); }
    int getXferFileSize() const { return m_core->getXferFileSize(); }
    QString getXferMessage() const { return m_core->getXferMessage(); }
    XferProtocol getXferProtocol() const { return XferProtocol(m_core->getXferProtocol()); }
    void setXferProtocol(XferProtocol v) { m_core->setXferProtocol(TolCommCore::XferProtocol(v)); }
    QString getXferSourceFilename() const { return m_core->getXferSourceFilename(); }
    XferStatus getXferStatus() const { return XferStatus(m_core->getXferStatus()); }
    XferStatusDialog getXferStatusDialog() const { return XferStatusDialog(m_core->getXferStatusDialog()); }
    void setXferStatusDialog(XferStatusDialog v) { m_core->setXferStatusDialog(TolCommCore::XferStatusDialog(v)); }
    int getXferTransferred() const { return m_core->getXferTransferred(); }
    int getAutoProcess() { return m_core->getAutoProcess(); }
    void setAutoProcess(int v);
    BackSpace getBackSpace() const { return m_backSpace; }
    void setBackSpace(BackSpace v);
    bool getBusy() { return m_core->getBusy(); }
    int getCommEvent() const { return m_core->getCommEvent(); }
    void setCommEvent(int code) { m_core->setCommEvent(code); }
    int getDialTimeOut() { return m_core->getDialTimeOut(); }
    void setDialTimeOut(int ms) { m_core->setDialTimeOut(ms); }
    EndOfLineMode getEndOfLineMode() const { return m_endOfLineMode; }
    void setEndOfLineMode(EndOfLineMode v);
    bool getIgnoreOnComm() const { return m_core->getIgnoreOnComm(); }
    void setIgnoreOnComm(bool on) { m_core->setIgnoreOnComm(on); }
    int getNotification() { return m_core->getNotification(); }
    void setNotification(int v) { m_core->setNotification(v); }
    void setPause(int ms) { m_core->setPause(ms); }
    bool getRTSEnable() { return m_core->getRTSEnable(); }
    void setRTSEnable(bool on) { m_core->setRTSEnable(on); }
    bool getShutDown() { return m_core->getShutDown(); }
    void setShutDown(bool on) { m_core->setShutDown(on); }
    int getPortWatch() { return m_core->getPortWatch(); }
    void setPortWatch(int flags) { m_core->setPortWatch(flags); }
    bool getPortWatchInput() { return m_core->getPortWatchInput(); }
    void setPortWatchInput(bool on) { m_core->setPortWatchInput(on); }
    bool getPortWatchOutput() { return m_core->getPortWatchOutput(); }
    void setPortWatchOutput(bool on) { m_core->setPortWatchOutput(on); }
    bool getPortWatchEvents() { return m_core->getPortWatchEvents(); }
    void setPortWatchEvents(bool on) { m_core->setPortWatchEvents(on); }
    bool getPortWatchWarnings() { return m_core->getPortWatchWarnings(); }
    void setPortWatchWarnings(bool on) { m_core->setPortWatchWarnings(on); }
    bool getPortWatchProperties() { return m_core->getPortWatchProperties(); }
    void setPortWatchProperties(bool on) { m_core->setPortWatchProperties(on); }
    uint getCommHandle() { return m_core->getCommHandle(); }
    bool getUserMode() const { return m_core->getUserMode(); }
    void setUserMode(bool on);

signals:
    void AbortFile();
    void AbortFileTransfer();
    void CarrierChanged();
    void CTSChanged();
    void DSRChanged();
    void EOFChar();
    void FinishFile();
    void FinishFileTransfer();
    void OnComm();
    void PrepareFile();
    void Ring();
    void Receive();
    void Send();
    void StartFile();
    void TransferBlock();
    void WaitForFile();
    void Click();
    void DblClick();
    void Hide();
    void KeyDown(int KeyCode, int Shift);
    void KeyPress(int KeyAscii);
    void KeyUp(int KeyCode, int Shift);
    void MouseDown(int Button, int Shift, int X, int Y);
    void MouseMove(int Button, int Shift, int X, int Y);
    void MouseUp(int Button, int Shift, int X, int Y);
    void Paint();
    void Show();

    // Added on this platform: a member call failed (see the file comment).
    void RuntimeError(int number, const QString &description);

protected:
    void paintEvent(QPaintEvent *e) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;
    void mouseDoubleClickEvent(QMouseEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
    void keyReleaseEvent(QKeyEvent *e) override;
    void showEvent(QShowEvent *e) override;
    void hideEvent(QHideEvent *e) override;

private:
    void raiseError(int number, const QString &description) { m_core->raiseError(number, description); }
    void raiseInvalidValue() { m_core->raiseInvalidValue(); }
    bool checkText(const QString &text, bool allowControl) { return m_core->checkText(text, allowControl); }
    // The screen collects routed input on a timer of its own, while the core
    // routes received data to the terminal sink.
    void followTerminalRouting();

    // Terminal text kept by the control: the engine's terminal sink feeds it.
    void pullTerminal();
    void appendTerminal(const QByteArray &bytes);
    QString visibleText() const;

    TolCommCore *m_core = nullptr;

    // Terminal presentation.
    BorderStyle m_borderStyle = BorderStyle_None;
    bool m_autoScroll = true;
    bool m_autoSend = false;
    int m_autoScrollColumn = 0;
    bool m_autoScrollKeyboard = true;
    int m_autoScrollRow = 0;
    AutoSize m_autoSize = AutoSize_None;
    ColorFilter m_colorFilter = ColorFilter_Full;
    int m_columns = 80;
    int m_rows = 25;
    int m_scrollRows = 100;
    int m_cursorRow = -1;
    int m_cursorColumn = -1;
    int m_selStart = 0;
    int m_selLength = 0;
    Emulation m_emulation = Emulation_TTY;
    EndOfLineMode m_endOfLineMode = EndOfLineMode_NextLine;
    BackSpace m_backSpace = BackSpace_Destructive;
    QString m_terminal;
    QTimer m_terminalTimer;
    QString m_captureFile;
    CaptureMode m_captureMode = Capture_Standard;
};
