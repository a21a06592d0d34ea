// TolCommCore: the comm control without a window. It owns one engine comm
// object and presents it as the control's non-visual members, under the same
// names, kinds and order as TolComm, so a program without a display (the
// router hub) drives it by member name exactly as the panel drives TolComm:
//   TolCommCore comm;
//   comm.setProperty("CommPort", 1);
//   comm.setProperty("Settings", "9600,N,8,2");
//   comm.setProperty("PortOpen", true);
//   comm.setProperty("Output", "text");
//   QString in = comm.property("ComInput").toString();
//   connect(&comm, SIGNAL(CarrierChanged()), host, SLOT(onCarrier()));
// It needs a QCoreApplication only: the library links Qt Core and the engine,
// never Qt Widgets or Qt Gui.
//
// TolComm (the widget, tolcomm.h) wraps one TolCommCore and forwards these
// members to it; the window-only members (colours, font, hwnd, the terminal
// screen and its capture, FillModemCombo and FillModemList with their boxes,
// About, the key and mouse events) are TolComm's alone.
//
// Run-time errors. A member that fails records an error number and its
// description and emits RuntimeError(number, description) once; the value of
// a refused property stays as it was. The error stays readable through
// lastError()/lastErrorDescription() until clearError() or the next error.
// Numbers: 380 "Invalid property value", 70 (input while a look-up or another
// input of the same control runs), 8018 (output on a closed port), OS error
// numbers with their strerror text otherwise (a failed write; EIO when the
// device goes away, raised after CarrierChanged).
//
// Lifetime. The engine object is created at the first member call and
// destroyed, with the port closed, with the core. With UserMode false (a form
// designer), PortOpen and auto-processing are kept but not applied.
//
// Thread rule: the thread that created it, which runs a Qt event loop.
#pragma once

#include "tolcomexport.h"

#include <QObject>
#include <QString>

#include <cstdint>

class TOLCOM_EXPORT TolCommCore : public QObject {
    Q_OBJECT

    Q_PROPERTY(bool AbortTransfer READ getAbortTransfer WRITE setAbortTransfer)
    Q_PROPERTY(bool AutoReceive READ getAutoReceive WRITE setAutoReceive)
    Q_PROPERTY(bool Break READ getBreak WRITE setBreak)
    Q_PROPERTY(bool CDHolding READ getCDHolding)
    Q_PROPERTY(int CDTimeOut READ getCDTimeOut WRITE setCDTimeOut)
    Q_PROPERTY(int CommError READ getCommError)
    Q_PROPERTY(int CommID READ getCommID WRITE setCommID)
    Q_PROPERTY(int CommPort READ getCommPort WRITE setCommPort)
    Q_PROPERTY(bool CTSHolding READ getCTSHolding)
    Q_PROPERTY(int CTSTimeOut READ getCTSTimeOut WRITE setCTSTimeOut)
    Q_PROPERTY(QString Dial READ getDial WRITE setDial)
    Q_PROPERTY(DialMode DialMode READ getDialMode WRITE setDialMode)
    Q_PROPERTY(QString Download WRITE setDownload)
    Q_PROPERTY(bool DSRHolding READ getDSRHolding)
    Q_PROPERTY(int DSRTimeOut READ getDSRTimeOut WRITE setDSRTimeOut)
    Q_PROPERTY(bool DTRHolding READ getDTRHolding WRITE setDTRHolding)
    Q_PROPERTY(bool Echo READ getEcho WRITE setEcho)
    Q_PROPERTY(bool CommEcho READ getCommEcho WRITE setCommEcho)
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
    Q_PROPERTY(int RThreshold READ getRThreshold WRITE setRThreshold)
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
    Q_PROPERTY(bool Busy READ getBusy)
    Q_PROPERTY(int CommEvent READ getCommEvent WRITE setCommEvent)
    Q_PROPERTY(int DialTimeOut READ getDialTimeOut WRITE setDialTimeOut)
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

    // Added on this platform, after the interface's own members.
    Q_PROPERTY(bool UserMode READ getUserMode WRITE setUserMode)

public:
    // The enumerations of the non-visual members, with the names and values
    // TolComm has (a test holds the two to the same keys).
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
    static constexpr int kErrInputBusy = 70;
    static constexpr int kErrInvalidValue = 380;
    static constexpr int kErrPortNotOpen = 8018;

    explicit TolCommCore(QObject *parent = nullptr);
    ~TolCommCore() override;

    // ---- Methods of the interface ----
    // Raises OnComm (unless IgnoreOnComm) and then the one event that belongs
    // to CommEvent.
    Q_INVOKABLE void HandleCommEvent();
    // Stores code as CommEvent and raises its events; id is the engine's
    // control id (the comm handle) and is not otherwise used.
    Q_INVOKABLE int HandleEvent(int id, int code);

    // ---- Added on this platform ----
    // Waits up to milliseconds for received bytes while events keep running;
    // returns as soon as any are queued: the count queued, or 0 on time-out
    // or a closed port.
    Q_INVOKABLE int WaitForInput(int milliseconds);
    // Last run-time error (0 = none) and its description.
    Q_INVOKABLE int lastError() const { return m_errorNumber; }
    Q_INVOKABLE QString lastErrorDescription() const { return m_errorDescription; }
    Q_INVOKABLE void clearError();
    // Why the last attempt to open the port failed, or why the open port was
    // lost: the device and the reason ("" after a successful open).
    Q_INVOKABLE QString lastOpenError();

    // ---- For the control that wraps the core (not members of the interface) ----
    // The engine handle, 0 before the engine object exists (never creates it).
    uint32_t existingHandle() const { return m_handle; }
    void raiseError(int number, const QString &description);
    void raiseInvalidValue();
    // Text for the port: Latin-1 only, and no control characters unless allowed.
    bool checkText(const QString &text, bool allowControl);
    // Output of bytes, with the closed-port and write-failure errors.
    void sendOutput(const QByteArray &bytes);
    // While collecting, errors are recorded but RuntimeError is not emitted
    // (a property bag reports its first refused value once, at the end).
    void setErrorsCollected(bool on) { m_collectErrors = on; }
    void restoreError(int number, const QString &description);
    // Reading a property bag: settings go to a closed port; the saved modem
    // index is kept as it was; opening and auto-processing come last.
    void closeForProperties();
    void keepModemIndex(int index) { m_modemIndex = index >= 0 ? index : 0; }
    void startFromProperties(int autoProcess, bool autoReceive, bool portOpen);
    // Received data goes to the terminal sink (AutoProcess bit 1, in a program).
    bool routesToTerminal() const { return m_userMode && (m_autoProcess & 1); }
    // The transfer status that event 100 reports (set by the transfer that runs).
    void noteTransferStatus(int status);

    // ---- Accessors behind the properties ----
    bool getAbortTransfer() const { return false; }
    void setAbortTransfer(bool on);
    bool getAutoReceive() const { return m_autoReceive; }
    void setAutoReceive(bool on);
    bool getBreak();
    void setBreak(bool on);
    bool getCDHolding();
    int getCDTimeOut();
    void setCDTimeOut(int ms);
    int getCommError();
    int getCommID();
    void setCommID(int fd);
    int getCommPort();
    void setCommPort(int port);
    bool getCTSHolding();
    int getCTSTimeOut();
    void setCTSTimeOut(int ms);
    QString getDial() const;
    void setDial(const QString &number);
    DialMode getDialMode();
    void setDialMode(DialMode v);
    void setDownload(const QString &fileName);
    bool getDSRHolding();
    int getDSRTimeOut();
    void setDSRTimeOut(int ms);
    bool getDTRHolding();
    void setDTRHolding(bool on);
    bool getEcho();
    void setEcho(bool on);
    bool getCommEcho();
    void setCommEcho(bool on);
    Handshaking getHandshaking();
    void setHandshaking(Handshaking v);
    bool getHangUp();
    int getInBufferCount();
    void setInBufferCount(int v);
    int getInBufferSize();
    void setInBufferSize(int v);
    bool getInitModem();
    bool getInitModemForAnswer();
    QString getComInput();
    bool getInputEcho();
    void setInputEcho(bool on);
    int getInputLen();
    void setInputLen(int v);
    int getInterval();
    void setInterval(int ms);
    int getInTimeOut();
    void setInTimeOut(int ms);
    QString getComLineInput();
    int getLookUp();
    QString getLookUpInput();
    int getLookUpInputLen() const { return m_lookUpInputLen; }
    void setLookUpInputLen(int v);
    QString getLookUpSeparator();
    void setLookUpSeparator(const QString &sep);
    QString getLookUpText() const { return m_lookUpText; }
    void setLookUpText(const QString &text);
    int getLookUpTimeOut();
    void setLookUpTimeOut(int ms);
    QString getModemAnswerCommand() { return modemField(4); }
    void setModemAnswerCommand(const QString &s) { setModemField(4, s); }
    QString getModemDialPulseCommand() { return modemField(3); }
    void setModemDialPulseCommand(const QString &s) { setModemField(3, s); }
    QString getModemDialToneCommand() { return modemField(2); }
    void setModemDialToneCommand(const QString &s) { setModemField(2, s); }
    QString getModemHangUpCommand() { return modemField(5); }
    void setModemHangUpCommand(const QString &s) { setModemField(5, s); }
    int getModemIndex() const { return m_modemIndex; }
    void setModemIndex(int entry);
    QString getModemInitCommand() { return modemField(1); }
    void setModemInitCommand(const QString &s) { setModemField(1, s); }
    QString getModemTitle() { return modemField(0); }
    void setModemTitle(const QString &s) { setModemField(0, s); }
    bool getNullDiscard();
    void setNullDiscard(bool on);
    int getOutBufferCount();
    void setOutBufferCount(int v);
    int getOutBufferSize();
    void setOutBufferSize(int v);
    void setOutput(const QString &text);
    void setOutputLine(const QString &text);
    void setOutputModem(const QString &command);
    int getParityReplace();
    void setParityReplace(int v);
    bool getPortOpen();
    void setPortOpen(bool on);
    int getRThreshold();
    void setRThreshold(int v);
    QString getSettings();
    void setSettings(const QString &text);
    int getSThreshold();
    void setSThreshold(int v);
    void setUpload(const QString &fileName);
    QString getXferDestFilename() const { return m_xferDest; }
    void setXferDestFilename(const QString &path) { m_xferDest = path; }
    int getXferFileSize() const { return m_xferFileSize; }
    QString getXferMessage() const { return m_xferMessage; }
    XferProtocol getXferProtocol() const { return m_xferProtocol; }
    void setXferProtocol(XferProtocol v);
    QString getXferSourceFilename() const { return m_xferSource; }
    XferStatus getXferStatus() const { return m_xferStatus; }
    XferStatusDialog getXferStatusDialog() const { return m_xferStatusDialog; }
    void setXferStatusDialog(XferStatusDialog v);
    int getXferTransferred() const { return 0; }
    int getAutoProcess();
    void setAutoProcess(int v);
    bool getBusy();
    int getCommEvent() const { return m_commEvent; }
    void setCommEvent(int code) { m_commEvent = code; }
    int getDialTimeOut();
    void setDialTimeOut(int ms);
    bool getIgnoreOnComm() const { return m_ignoreOnComm; }
    void setIgnoreOnComm(bool on) { m_ignoreOnComm = on; }
    int getNotification();
    void setNotification(int v);
    void setPause(int ms);
    bool getRTSEnable();
    void setRTSEnable(bool on);
    bool getShutDown();
    void setShutDown(bool on);
    int getPortWatch();
    void setPortWatch(int flags);
    bool getPortWatchInput() { return watchBit(4); }
    void setPortWatchInput(bool on) { setWatchBit(4, on); }
    bool getPortWatchOutput() { return watchBit(8); }
    void setPortWatchOutput(bool on) { setWatchBit(8, on); }
    bool getPortWatchEvents() { return watchBit(16); }
    void setPortWatchEvents(bool on) { setWatchBit(16, on); }
    bool getPortWatchWarnings() { return watchBit(1); }
    void setPortWatchWarnings(bool on) { setWatchBit(1, on); }
    bool getPortWatchProperties() { return watchBit(2); }
    void setPortWatchProperties(bool on) { setWatchBit(2, on); }
    uint getCommHandle();
    bool getUserMode() const { return m_userMode; }
    void setUserMode(bool on) { m_userMode = on; }

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

    // Added on this platform: a member call failed (see the file comment).
    void RuntimeError(int number, const QString &description);

protected:
    bool event(QEvent *e) override;

private:
    friend struct TolCommEngineBridge;

    // The engine handle, creating the engine object on first use.
    uint32_t engine();
    void createEngine();
    void destroyEngine();
    void onEngineEvent(int32_t code);

    // Applies an engine setter; a 380 answer becomes the run-time error.
    bool engineSet(int32_t (*setter)(uint32_t, int32_t), int32_t value);
    bool inputRunning();

    QString modemField(int index);
    void setModemField(int index, const QString &value);
    bool watchBit(int bit);
    void setWatchBit(int bit, bool on);
    void applyAutoProcess();
    void startTransfer(const QString &fileName, bool upload);

    uint32_t m_handle = 0;
    bool m_userMode = true;
    bool m_designPortOpen = false;

    int m_errorNumber = 0;
    bool m_collectErrors = false;
    QString m_errorDescription;

    int m_commEvent = 0;
    bool m_ignoreOnComm = false;
    int m_inputDepth = 0;

    bool m_autoReceive = false;
    int m_autoProcess = 0;
    int m_savedRThreshold = 0;
    int m_modemIndex = 0;
    int m_dialResult = -1;
    QString m_lookUpText;
    int m_lookUpInputLen = 1024;

    // Transfers (not available on this platform: they fail at once).
    XferProtocol m_xferProtocol = Protocol_ZModem;
    XferStatusDialog m_xferStatusDialog = XferDialog_Hidden;
    XferStatus m_xferStatus = TransferStatus_Success;
    QString m_xferSource;
    QString m_xferDest;
    QString m_xferMessage;
    int m_xferFileSize = 0;
};
