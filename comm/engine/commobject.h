// The comm object's state record, the handle table and the engine services
// shared by the exported functions: events, error processing, pumping.
#pragma once

#include "serialdriver.h"
#include "textforms.h"
#include "tolcom32.h"

#include <QPointer>

#include <array>
#include <memory>
#include <string>

class QObject;

namespace tolcom {

struct EventWaitState;

struct CommObject {
    uint32_t self = 0;
    QPointer<QObject> parent;
    bool hadParent = false;
    bool destroyed = false;

    // Port properties.
    bool brk = false;
    bool carrierHolding = false;
    int32_t carrierTimeOut = 0;
    int32_t commEvent = 0;
    int32_t port = 1;
    bool ctsHolding = false;
    int32_t ctsTimeOut = 0;
    bool dsrHolding = false;
    int32_t dsrTimeOut = 0;
    int32_t dtrEnable = -1;
    int32_t handshaking = 0;
    int32_t inBufferSize = 2048;
    int32_t inputLen = 0;
    int32_t interval = 55;
    int32_t inTimeOut = 0;
    int32_t driverInputTimeOut = 0;
    int32_t nullDiscard = 0;
    int32_t outBufferSize = 2048;
    int32_t parityReplace = -1;
    bool portOpen = false;
    int32_t rThreshold = 0;
    int32_t rtsEnable = -1;
    int32_t sThreshold = 0;
    SerialSettings settings;
    int32_t busy = 0;
    int timerId = 0;
    uint32_t lastCommError = 0;
    uint32_t pendingErrors = 0;
    int32_t deviceKind = 0;
    uint32_t modemStatus = 0;
    int32_t userLong = 0;
    int32_t shutDown = 0;
    TolCommEventProc handler = nullptr;
    void *eventContext = nullptr;
    TolCommIdleProc idle = nullptr;
    int32_t notification = 0;
    std::string name;
    // Why the last open failed (empty after a successful open), and its errno.
    std::string lastOpenError;
    int lastOpenErrno = 0;

    // Input and look-ups.
    int32_t lookUpTimeOut = 10000;
    int32_t lookUpSeparator = 0;
    int32_t echo = 0;
    int32_t inputEcho = 0;
    int32_t commEcho = 0;
    int32_t autoProcess = 0;

    // Terminal sink and the rest of the record.
    std::string terminal;
    int32_t columns = 80;
    int32_t rows = 25;
    std::array<uint8_t, 256> translate {};
    bool transferRunning = false;

    // Modem.
    ModemOptions modem = ModemOptions::builtIn();
    int32_t dialMode = 0;
    int32_t dialTimeOut = 30000;
    bool dialing = false;

    // Bytes already taken from the driver but not yet handed out: reading a
    // block at once saves a system call per byte in line input and look-ups.
    std::string rxAhead;
    size_t rxPos = 0;

    // A device without modem lines (a pseudo-terminal, a network bridge)
    // cannot show carrier: the engine then keeps it from the modem's own
    // words, raised by a connecting dial and dropped by a hang-up.
    bool virtualCarrier = false;
    // While it is up, received bytes are watched for the modem's "NO CARRIER".
    std::unique_ptr<LookUpMatcher> carrierWatch;

    std::unique_ptr<SerialDriver> driver;
    // The notifier and timer of waits served by the event loop (eventwait.cpp).
    std::shared_ptr<EventWaitState> eventWait;
};

using ObjectPtr = std::shared_ptr<CommObject>;

// The object behind handle, or null; logs "Comm Object handle invalid!" when
// absent and a call trace when call tracing is on.
ObjectPtr enter(uint32_t handle, const char *function);
// The object behind handle without any logging.
ObjectPtr find(uint32_t handle);
inline bool alive(const ObjectPtr &obj)
{
    return obj && !obj->destroyed;
}

bool initEngine();
uint32_t createObject(QObject *parent, const char *name);
bool destroyObject(uint32_t handle);

void diag(const CommObject &obj, const std::string &text);
std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Raises one event; false when the object is gone afterwards.
bool raiseEvent(const ObjectPtr &obj, int32_t code);
// Reads and clears the driver's error flags into the pending set.
void collectErrors(CommObject &obj);
// Raises one event per pending error flag; false when the object is gone.
bool processErrors(const ObjectPtr &obj);

// Open/close sequences and the device state.
bool openPort(const ObjectPtr &obj);
void closePort(CommObject &obj);
void applyDeviceState(CommObject &obj);
void startTimer(CommObject &obj);
void stopTimer(CommObject &obj);
// The device went away (the other end of a pseudo-terminal closed, a USB
// adapter was pulled): close the port and say why.
void portLost(const ObjectPtr &obj, const char *where);

// One turn of a wait: events (or the idle callback), then a pause of up to
// 50 ms that ends as soon as input arrives. False when the object is gone.
bool pumpOnce(const ObjectPtr &obj);
int64_t nowMs();

// The modem-line word now: the driver's, or on a device without lines the
// carrier the modem conversation established.
uint32_t lineWord(CommObject &obj);

// Bytes waiting to be read: the driver's queue and what was read ahead.
int queued(CommObject &obj);
// Reads up to len received bytes (NULs dropped under NullDiscard); -1 when
// the device went away (the port is then closed).
long readInput(const ObjectPtr &obj, char *buf, size_t len);
// The same, but taking at most up to and including the first `end` byte, and
// only from one read of the device: what follows a line stays for the next read.
long readInputLine(const ObjectPtr &obj, char *buf, size_t len, char end);
// Empties the receive side: driver queue and read-ahead.
void purgeInput(CommObject &obj);

// Terminal sink.
void showInTerminal(CommObject &obj, const char *bytes, size_t len);
// Received bytes: log, terminal, echo back to the port.
void afterInput(CommObject &obj, const char *bytes, size_t len);

// Output of bytes (Output): -1 on driver failure, 0 when closed.
int32_t outputBytes(const ObjectPtr &obj, const char *data, int32_t length, bool echoAndDiagnose);
int32_t lookUpWait(const ObjectPtr &obj, const std::vector<std::string> &strings, char *buffer, int32_t size);
bool pauseMs(const ObjectPtr &obj, int32_t ms);

// Copies text into a caller's buffer of size bytes; the length written.
int32_t copyOut(const std::string &text, char *buffer, int32_t size);

} // namespace tolcom
