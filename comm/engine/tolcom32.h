/* tolcom32: the serial communications engine.
 *
 * A flat C interface over comm objects. Each comm object owns one serial port
 * (a tty device: a real UART, a USB adapter or a pseudo-terminal) with its
 * settings, its polling timer, its look-up waits and its modem strings.
 *
 * Conventions for every function below:
 * - The first argument is the comm object handle returned by CreateCommObject:
 *   a non-zero 32-bit number, valid until DestroyCommObject and never reused
 *   within the process. Every call validates it first; an invalid, zero,
 *   stale or random handle writes "Comm Object handle invalid!" to the
 *   diagnostic log and the call returns 0.
 * - Integers are 32-bit. Booleans are 0 or non-zero; getters return what was
 *   stored (-1 for true when the caller stored -1).
 * - Setters return 0, or 380 for a value that is refused. Out-of-range values
 *   are written to the diagnostic log portwatch.log ($TOLCOM_LOG_DIR, else
 *   $XDG_STATE_HOME, else ~/.local/state).
 * - Functions that write text into a caller's buffer take the buffer's size in
 *   bytes, never write past it, and always NUL-terminate when size > 0.
 * - Thread rule: a comm object belongs to the thread that created it, which
 *   must run a Qt event loop (a QCoreApplication must exist). Every call,
 *   every timer tick and every event happens on that thread. Waits (look-ups,
 *   line input, pauses, dialing) pump that thread's Qt events, so timers and
 *   events of this and other objects keep running during them.
 * - Events are delivered synchronously, from inside the tick, read or write
 *   that found the condition. An event handler may call back into the engine,
 *   and may even destroy the object: the engine re-validates the handle after
 *   every event.
 */
#ifndef TOLCOM32_H
#define TOLCOM32_H

#include <stdint.h>

#if defined(__GNUC__)
#define TOLCOM_API __attribute__((visibility("default")))
#else
#define TOLCOM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Event and error codes -------------------------------------------- */

enum {
    TOLCOM_EV_SEND = 1, /* at most SThreshold bytes wait to be sent */
    TOLCOM_EV_RECEIVE = 2, /* at least RThreshold bytes wait to be read */
    TOLCOM_EV_CTS = 3, /* CTS line changed */
    TOLCOM_EV_DSR = 4, /* DSR line changed */
    TOLCOM_EV_CD = 5, /* carrier detect changed */
    TOLCOM_EV_RING = 6, /* ring indicator rose */
    TOLCOM_EV_EOF = 7,
    TOLCOM_EV_TRANSFER = 100,
    TOLCOM_ER_BREAK = 1001,
    TOLCOM_ER_CTSTO = 1002,
    TOLCOM_ER_DSRTO = 1003,
    TOLCOM_ER_FRAME = 1004,
    TOLCOM_ER_INPUTTO = 1005,
    TOLCOM_ER_OVERRUN = 1006,
    TOLCOM_ER_CDTO = 1007,
    TOLCOM_ER_RXOVER = 1008,
    TOLCOM_ER_RXPARITY = 1009,
    TOLCOM_ER_TXFULL = 1010
};

/* Raw line-error flags returned by GetLastCommError. */
enum {
    TOLCOM_CE_RXOVER = 0x0001,
    TOLCOM_CE_OVERRUN = 0x0002,
    TOLCOM_CE_RXPARITY = 0x0004,
    TOLCOM_CE_FRAME = 0x0008,
    TOLCOM_CE_BREAK = 0x0010,
    TOLCOM_CE_TXFULL = 0x0100
};

/* SetPortWatch switches (process-wide). */
enum {
    TOLCOM_WATCH_WARNINGS = 1,
    TOLCOM_WATCH_CALLS = 2,
    TOLCOM_WATCH_INPUT = 4,
    TOLCOM_WATCH_OUTPUT = 8,
    TOLCOM_WATCH_EVENTS = 16
};

/* Type of the Qt event sent to the parent when no event handler is installed
 * (QEvent::User + 4121). See TolCommCommandEvent below. */
#define TOLCOM_COMMAND_EVENT 5121

/* Event callback: (object handle, control id, event code) -> result. The
 * control id is the object handle itself on this platform. */
typedef int32_t (*TolCommEventProc)(uint32_t handle, int32_t controlId, int32_t code);
/* Idle callback, called instead of the Qt event pump on each turn of a wait. */
typedef void (*TolCommIdleProc)(uint32_t handle);

/* ---- Objects ------------------------------------------------------------ */

/* Prepares the engine on the calling thread. 1 on success, 0 when no Qt
 * application object exists (timers could not run). Creating an object calls
 * it implicitly. */
TOLCOM_API int32_t InitTolCommObjects(void);
/* Creates a comm object. parent: a QObject * (may be NULL) that receives
 * TOLCOM_COMMAND_EVENT events when no handler is installed; not owned, and
 * the object outlives it safely. Returns the handle, or 0. */
TOLCOM_API uint32_t CreateCommObject(void *parent);
/* The same, naming the object (at most 254 characters kept) for the log.
 * Without a name the object is "TolComm<n>" with a process-wide counter. */
TOLCOM_API uint32_t CreateCommObjectName(void *parent, const char *name);
/* Closes the port and frees the object; non-zero when destroyed. Refused
 * (0) while a wait of the object runs. */
TOLCOM_API int32_t DestroyCommObject(uint32_t handle);

/* ---- Port properties ---------------------------------------------------- */

/* Port number n (opens <TOLCOM_DEVICE_DIR or /dev>/COM<n>, else
 * /dev/ttyS<n-1>). Refused while open. SetPort/GetPort are the same. */
TOLCOM_API int32_t SetCommPort(uint32_t handle, int32_t port);
TOLCOM_API int32_t GetCommPort(uint32_t handle);
TOLCOM_API int32_t SetPort(uint32_t handle, int32_t port);
TOLCOM_API int32_t GetPort(uint32_t handle);
/* "baud,parity,data,stop", e.g. "9600,N,8,2"; empty fields keep their value.
 * 0, or 380 (and nothing changed) when the text does not parse. */
TOLCOM_API int32_t SetSettings(uint32_t handle, const char *settings);
/* Writes "9600,n,8,2" into buffer (size bytes); returns the length written. */
TOLCOM_API int32_t GetSettings(uint32_t handle, char *buffer, int32_t size);
/* Opens (flag non-zero) or closes the port; 1 on success or when already in
 * that state, 0 when the port could not be opened (reason in the log). */
TOLCOM_API int32_t SetPortOpen(uint32_t handle, int32_t flag);
TOLCOM_API int32_t GetPortOpen(uint32_t handle);
/* 0 none, 1 XON/XOFF, 2 RTS/CTS, 3 both. */
TOLCOM_API int32_t SetHandshaking(uint32_t handle, int32_t value);
TOLCOM_API int32_t GetHandshaking(uint32_t handle);
/* Queue sizes; on this platform they cap what one read moves. Refused while open. */
TOLCOM_API int32_t SetInBufferSize(uint32_t handle, int32_t size);
TOLCOM_API int32_t GetInBufferSize(uint32_t handle);
TOLCOM_API int32_t SetOutBufferSize(uint32_t handle, int32_t size);
TOLCOM_API int32_t GetOutBufferSize(uint32_t handle);
TOLCOM_API int32_t SetDTR(uint32_t handle, int32_t flag);
TOLCOM_API int32_t GetDTR(uint32_t handle);
TOLCOM_API int32_t SetRTS(uint32_t handle, int32_t flag);
TOLCOM_API int32_t GetRTS(uint32_t handle);
/* Sets or clears the break condition on an open port. */
TOLCOM_API int32_t SetBreak(uint32_t handle, int32_t flag);
TOLCOM_API int32_t GetBreak(uint32_t handle);
/* Line time-outs in ms: stored and reported only. */
TOLCOM_API int32_t SetCarrierTimeOut(uint32_t handle, int32_t ms);
TOLCOM_API int32_t GetCarrierTimeOut(uint32_t handle);
TOLCOM_API int32_t SetCTSTimeOut(uint32_t handle, int32_t ms);
TOLCOM_API int32_t GetCTSTimeOut(uint32_t handle);
TOLCOM_API int32_t SetDSRTimeOut(uint32_t handle, int32_t ms);
TOLCOM_API int32_t GetDSRTimeOut(uint32_t handle);
/* -1..255; 0 switches parity checking off. */
TOLCOM_API int32_t SetParityReplace(uint32_t handle, int32_t value);
TOLCOM_API int32_t GetParityReplace(uint32_t handle);
/* Drop received NUL bytes. SetDiscardNulls and SetNullDiscard are the same. */
TOLCOM_API int32_t SetDiscardNulls(uint32_t handle, int32_t flag);
TOLCOM_API int32_t GetDiscardNulls(uint32_t handle);
TOLCOM_API int32_t SetNullDiscard(uint32_t handle, int32_t flag);
TOLCOM_API int32_t GetNullDiscard(uint32_t handle);
/* Polling timer period in ms (default 55; periods below 10 run at 10). */
TOLCOM_API int32_t SetInterval(uint32_t handle, int32_t ms);
TOLCOM_API int32_t GetInterval(uint32_t handle);
/* Receive / send event thresholds in bytes; 0 = no such events. */
TOLCOM_API int32_t SetRThreshold(uint32_t handle, int32_t bytes);
TOLCOM_API int32_t GetRThreshold(uint32_t handle);
TOLCOM_API int32_t SetSThreshold(uint32_t handle, int32_t bytes);
TOLCOM_API int32_t GetSThreshold(uint32_t handle);
/* Line-input time-out in ms (GetLineInput). */
TOLCOM_API int32_t SetInputTimeOut(uint32_t handle, int32_t ms);
TOLCOM_API int32_t GetInputTimeOut(uint32_t handle);
/* Driver input time-out: stored and reported only; the two setter names are the same. */
TOLCOM_API int32_t SetInputDriverTimeOut(uint32_t handle, int32_t ms);
TOLCOM_API int32_t SetDriverInputTimeOut(uint32_t handle, int32_t ms);
TOLCOM_API int32_t GetDriverInputTimeOut(uint32_t handle);
TOLCOM_API int32_t GetInputDriverTimeOut(uint32_t handle);
TOLCOM_API int32_t SetNotification(uint32_t handle, int32_t value);
TOLCOM_API int32_t GetNotification(uint32_t handle);
/* Non-zero ends every wait of the object at its next check (and keeps doing so until cleared). */
TOLCOM_API int32_t SetShutDown(uint32_t handle, int32_t flag);
TOLCOM_API int32_t GetShutDown(uint32_t handle);
/* A free 32-bit value for the caller. */
TOLCOM_API int32_t SetCommLong(uint32_t handle, int32_t value);
TOLCOM_API int32_t GetCommLong(uint32_t handle);
/* Bytes taken per counted read (GetInput); 0 = all that wait. */
TOLCOM_API int32_t SetInputLen(uint32_t handle, int32_t bytes);
TOLCOM_API int32_t GetInputLen(uint32_t handle);
/* Serial auto-processing: bit 1 routes received data to the terminal sink. */
TOLCOM_API int32_t SetAutoProcess(uint32_t handle, int32_t value);
TOLCOM_API int32_t GetAutoProcess(uint32_t handle);

/* ---- Live state ----------------------------------------------------------- */

/* Live modem lines; 0 (and a log line) when the port is closed. A device
 * without modem lines (a pseudo-terminal) reads as all lines low. */
TOLCOM_API int32_t GetCarrier(uint32_t handle);
TOLCOM_API int32_t GetCTS(uint32_t handle);
TOLCOM_API int32_t GetDSR(uint32_t handle);
/* Bytes waiting in the receive / transmit queues. */
TOLCOM_API int32_t GetInBufferCount(uint32_t handle);
TOLCOM_API int32_t GetOutBufferCount(uint32_t handle);
TOLCOM_API int32_t GetLastCommError(uint32_t handle);
TOLCOM_API int32_t GetLastCommEvent(uint32_t handle);
/* Non-zero while a wait of the object runs. */
TOLCOM_API int32_t GetBusy(uint32_t handle);
/* The open device's file descriptor, or -1. */
/* Why the last SetPortOpen(1) failed, for the user: the device tried and the
 * reason ("Cannot open /dev/COM1: Permission denied (is the user in the
 * dialout group?)"), written into buffer (size bytes, NUL-terminated; may be
 * NULL). Returns the errno of that failure, 0 after a successful open. Only a
 * name that does not exist falls back to /dev/ttyS<n-1>: a busy or forbidden
 * port fails with its own reason. When an open port's device goes away (or
 * its network connection is lost) the engine closes the port, records why
 * here ("COM1: The device has gone away (Input/output error); the port is
 * closed", EIO; ECONNRESET for a connection) and raises TOLCOM_EV_CD. */
TOLCOM_API int32_t GetLastOpenError(uint32_t handle, char *buffer, int32_t size);
/* Where the port map sends a port: writes "host:port" (or "[v6]:port") and
 * returns 1 for raw TCP, 2 for RFC 2217, 0 (and "") for a port that opens a
 * device. The map is $XDG_CONFIG_HOME/tolcom-ports.conf, read at each call. */
TOLCOM_API int32_t GetPortTarget(int32_t port, char *buffer, int32_t size);
/* The map's ignored lines, one "tolcom-ports.conf line N: why" per line;
 * returns the full length (which may exceed size). */
TOLCOM_API int32_t GetPortMapProblems(char *buffer, int32_t size);
TOLCOM_API int32_t GetCommID(uint32_t handle);
/* Adopts a tty descriptor the caller opened; the object owns it from then on
 * and counts as open exactly when fd is not -1. The descriptor is switched to
 * non-blocking mode while the object holds it, and its file status flags are
 * restored when the object releases it (SetCommID(-1), close, destroy). */
TOLCOM_API int32_t SetCommID(uint32_t handle, int32_t fd);

/* ---- Events, tracing, dialogs ---------------------------------------------- */

/* Installs the event callback (NULL removes it; events then go to the parent). */
TOLCOM_API int32_t SetEventHandler(uint32_t handle, TolCommEventProc proc);
/* A pointer kept for the event handler's own use (not owned). */
TOLCOM_API int32_t SetEventContext(uint32_t handle, void *context);
TOLCOM_API void *GetEventContext(uint32_t handle);
/* Installs the idle callback used instead of the event pump during waits. */
TOLCOM_API int32_t SetIdleLoop(uint32_t handle, TolCommIdleProc proc);
/* Process-wide: when on, the waits of every comm object (answers, pauses,
 * flushes, look-ups) run in the Qt event loop of the waiting thread, with the
 * device's descriptor watched, so the host's other event sources (its own
 * sockets, timers) are served the moment they are ready, not at the device's
 * next byte or the wait's next 50 ms turn. For a host that serves others while
 * a line waits; a host with windows keeps the default (off). An object with
 * an idle callback, or whose driver has no descriptor to watch, waits as
 * before. handle may be 0. Returns the previous setting. */
TOLCOM_API int32_t SetEventWait(uint32_t handle, int32_t on);
/* Process-wide trace switches (TOLCOM_WATCH_*); handle may be 0. Returns the previous switches. */
TOLCOM_API int32_t SetPortWatch(uint32_t handle, int32_t flags);
TOLCOM_API int32_t GetPortWatch(uint32_t handle);
/* Writes a dump of every property to the diagnostic log. */
TOLCOM_API int32_t DumpCommStatus(uint32_t handle);
/* Shows the modal "Settings" dialog (owner: a QWidget * or NULL); 1 when OK
 * was chosen and the settings applied, 0 on Cancel. Needs a QApplication. */
TOLCOM_API int32_t PortSettingsDialog(uint32_t handle, void *owner);

/* ---- Input and output ---------------------------------------------------- */

/* Writes length bytes in one driver call: bytes written, -1 when the driver
 * fails the write, 0 when the port is closed. Echo shows them in the terminal. */
TOLCOM_API int32_t Output(uint32_t handle, const char *data, int32_t length);
/* As Output, without echo and without the closed-port log line. */
TOLCOM_API int32_t ComOutput(uint32_t handle, const char *data, int32_t length);
/* Counted read into buffer (size bytes, not NUL-terminated): with InputLen
 * set, exactly InputLen bytes (or size, when smaller) or nothing; with
 * InputLen 0, all that wait up to size. Refused (0) while a wait runs. */
TOLCOM_API int32_t GetInput(uint32_t handle, char *buffer, int32_t size);
/* Reads one line until CR (LF dropped, neither stored), InTimeOut, ShutDown
 * or a full buffer; stores at most size-1 characters and a NUL; returns the
 * count stored. */
TOLCOM_API int32_t GetLineInput(uint32_t handle, char *buffer, int32_t size);
/* Waits until one of the look-up strings arrives (case ignored) or
 * LookUpTimeOut passes. lookups: NUL-terminated strings ended by an empty
 * string (at most 50 used), lookupsSize bytes readable. buffer (may be NULL)
 * receives what arrived, at most size-1 bytes and a NUL; when it fills up the
 * wait ends with -1. Returns the index of the string matched, or -1. While
 * another wait of the object runs, shows "Control is busy" and returns -1. */
TOLCOM_API int32_t InputUntilLookUp(
    uint32_t handle, const char *lookups, int32_t lookupsSize, char *buffer, int32_t size);
/* The same, throwing the received bytes away. */
TOLCOM_API int32_t DiscardUntilLookUp(uint32_t handle, const char *lookups, int32_t lookupsSize);
TOLCOM_API int32_t SetLookUpTimeOut(uint32_t handle, int32_t ms);
TOLCOM_API int32_t GetLookUpTimeOut(uint32_t handle);
TOLCOM_API int32_t SetLookUpSeparator(uint32_t handle, int32_t ch);
TOLCOM_API int32_t GetLookUpSeparator(uint32_t handle);
TOLCOM_API int32_t SetEcho(uint32_t handle, int32_t flag);
TOLCOM_API int32_t GetEcho(uint32_t handle);
TOLCOM_API int32_t SetInputEcho(uint32_t handle, int32_t flag);
TOLCOM_API int32_t GetInputEcho(uint32_t handle);
TOLCOM_API int32_t SetCommEcho(uint32_t handle, int32_t flag);
TOLCOM_API int32_t GetCommEcho(uint32_t handle);
/* Discard the receive / transmit queue. */
TOLCOM_API int32_t ClearInputBuffer(uint32_t handle);
TOLCOM_API int32_t ClearOutputBuffer(uint32_t handle);
/* 1 when the receive / transmit queue became empty within ms, else 0. */
TOLCOM_API int32_t FlushInputBuffer(uint32_t handle, int32_t ms);
TOLCOM_API int32_t FlushOutputBuffer(uint32_t handle, int32_t ms);
/* Waits ms while pumping events; ends early on ShutDown. 1 when the full time passed. */
TOLCOM_API int32_t ComPause(uint32_t handle, int32_t ms);
/* Waits up to ms for received bytes while pumping events, returning as soon
 * as any are queued: the count queued, or 0 on time-out, ShutDown, a closed
 * port or a destroyed object. Not refused while another wait runs. */
TOLCOM_API int32_t WaitForInput(uint32_t handle, int32_t ms);

/* ---- Terminal sink and transfers ----------------------------------------- */

/* What Echo, InputEcho and auto-processing have shown (the last 32 KiB). */
TOLCOM_API int32_t GetTerminalContents(uint32_t handle, char *buffer, int32_t size);
TOLCOM_API int32_t ClearTerminal(uint32_t handle);
/* File transfers are not available in this engine: both return -1 and log why. */
TOLCOM_API int32_t Upload(uint32_t handle, int32_t protocol, const char *fileName);
TOLCOM_API int32_t Download(uint32_t handle, int32_t protocol, const char *fileName);

/* ---- Modem ------------------------------------------------------------------ */

/* Loads modem entry n (0 = built-in, n = line n of MODEM.LST beside the
 * library). 1 when loaded, 0 when the file or line is missing (options kept). */
TOLCOM_API int32_t LoadModemOptions(uint32_t handle, int32_t entry);
/* The record in its tab-separated form: title, init, tone dial, pulse dial,
 * answer, hang-up, maximum speed. Returns the length written. */
TOLCOM_API int32_t GetModemOptions(uint32_t handle, char *buffer, int32_t size);
/* 0, or 380 (record unchanged) when text is NULL or a field is longer than
 * 199 characters, the longest a modem list line holds. */
TOLCOM_API int32_t SetModemOptions(uint32_t handle, const char *text);
/* Fills a QComboBox * / QListWidget * with "Hayes Compatible" (value 0) and the
 * list's titles (values 1, 2, ...), selecting the current title. 1, or 0 when
 * the list file cannot be read. */
TOLCOM_API int32_t FillComboWithModemNames(uint32_t handle, void *comboBox);
TOLCOM_API int32_t FillListWithModemNames(uint32_t handle, void *listWidget);
/* Sends a command: "^X" sends X-64, "~" pauses one second. */
TOLCOM_API int32_t OutputModem(uint32_t handle, const char *command);
/* 1 when the modem answered "OK" within 8 s, else 0. */
TOLCOM_API int32_t WaitForOk(uint32_t handle);
TOLCOM_API int32_t CheckModem(uint32_t handle);
TOLCOM_API int32_t InitModem(uint32_t handle);
TOLCOM_API int32_t InitModemForAnswer(uint32_t handle);
/* 0 connected, 1 no carrier, 2 no dial tone, 3 busy, 4 time-out. */
TOLCOM_API int32_t Dial(uint32_t handle, const char *number);
/* 1 when the line is down or a running dial was stopped. */
TOLCOM_API int32_t HangUp(uint32_t handle);
TOLCOM_API int32_t SetDialMode(uint32_t handle, int32_t mode);
TOLCOM_API int32_t GetDialMode(uint32_t handle);
TOLCOM_API int32_t SetDialTimeOut(uint32_t handle, int32_t ms);
TOLCOM_API int32_t GetDialTimeOut(uint32_t handle);

#ifdef __cplusplus
} /* extern "C" */
#endif

#if defined(__cplusplus) && defined(QT_CORE_LIB)
#include <QEvent>

/* The command message sent to the parent QObject when no event handler is
 * installed. wParam() is the control id; lParam() carries the handle's low 16
 * bits and the code in the high 16 bits; handle() is the full handle. */
class TolCommCommandEvent : public QEvent {
public:
    TolCommCommandEvent(int32_t controlId, uint32_t handle, int32_t code)
        : QEvent(QEvent::Type(TOLCOM_COMMAND_EVENT))
        , m_controlId(controlId)
        , m_handle(handle)
        , m_code(code)
    {
    }
    int32_t controlId() const { return m_controlId; }
    uint32_t handle() const { return m_handle; }
    int32_t code() const { return m_code; }
    int32_t wParam() const { return m_controlId; }
    uint32_t lParam() const { return (m_handle & 0xFFFFu) | (uint32_t(m_code) << 16); }

private:
    int32_t m_controlId;
    uint32_t m_handle;
    int32_t m_code;
};
#endif

#endif /* TOLCOM32_H */
