// Comm objects: the handle table, the polling timer, event delivery, error
// processing, the open and close sequences and the wait pump.
#include "commobject.h"

#include "engine_testing.h"
#include "eventwait.h"
#include "netdriver.h"
#include "portmap.h"
#include "portwatch.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <QTimerEvent>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstring>
#include <unordered_map>

namespace tolcom {
namespace {

const exel::Clock *g_clock = nullptr;
std::function<int(int)> g_pauseHook;

// Handles start well away from small numbers, so that a port number or a
// count passed by mistake is never a valid handle.
uint32_t g_nextHandle = 0x00010001;
int g_nameCounter = 0;
std::unordered_map<uint32_t, ObjectPtr> g_objects;

class EngineWindow;
EngineWindow *g_window = nullptr;

void tick(uint32_t handle);

// Hosts every object's polling timer on the creating thread.
class EngineWindow : public QObject {
public:
    int start(int ms, uint32_t handle)
    {
        const int id = QObject::startTimer(ms);
        if (id)
            m_timers[id] = handle;
        return id;
    }
    void stop(int id)
    {
        if (id) {
            killTimer(id);
            m_timers.erase(id);
        }
    }

protected:
    void timerEvent(QTimerEvent *event) override
    {
        const auto it = m_timers.find(event->timerId());
        if (it != m_timers.end())
            tick(it->second);
    }

private:
    std::unordered_map<int, uint32_t> m_timers;
};

const char *eventName(int32_t code)
{
    switch (code) {
    case 1:
        return "Send";
    case 2:
        return "Receive";
    case 3:
        return "CTS";
    case 4:
        return "DSR";
    case 5:
        return "CarrierDetect";
    case 6:
        return "Ring";
    case 7:
        return "End Of File";
    case 100:
        return "Transfer";
    case 1001:
        return "Break";
    case 1002:
        return "CTS time-out";
    case 1003:
        return "DSR time-out";
    case 1004:
        return "Frame error";
    case 1005:
        return "Input time-out";
    case 1006:
        return "Data Overrun";
    case 1007:
        return "Carrier Detect time-out";
    case 1008:
        return "Receive Buffer Overflow";
    case 1009:
        return "Parity Error";
    case 1010:
        return "Transmit Buffer Overflow";
    default:
        return "Unknown";
    }
}

void tick(uint32_t handle)
{
    ObjectPtr obj = find(handle);
    if (!alive(obj) || !obj->portOpen || obj->transferRunning)
        return;
    SerialDriver &drv = *obj->driver;
    collectErrors(*obj);
    if (drv.waitReadable(0) == WaitResult::HungUp && queued(*obj) == 0) {
        portLost(obj, "Timer");
        return;
    }
    const int inQueue = queued(*obj);
    const int outQueue = drv.outQueue();
    bool errorsDone = false;
    if (obj->autoProcess & 1) {
        char block[200];
        for (;;) {
            const long n = readInput(obj, block, sizeof block);
            if (n <= 0)
                break;
            afterInput(*obj, block, size_t(n));
        }
    } else if (obj->rThreshold > 0 && inQueue >= obj->rThreshold) {
        if (!raiseEvent(obj, TOLCOM_EV_RECEIVE) || !processErrors(obj))
            return;
        errorsDone = true;
    }
    if (!obj->portOpen)
        return;
    if (obj->sThreshold > 0 && outQueue <= obj->sThreshold) {
        if (!raiseEvent(obj, TOLCOM_EV_SEND) || !processErrors(obj))
            return;
        errorsDone = true;
    }
    // Errors seen by this tick are never dropped, also when no threshold event ran.
    if (!errorsDone && !processErrors(obj))
        return;
    if (!obj->portOpen)
        return;
    const uint32_t word = lineWord(*obj);
    const uint32_t old = obj->modemStatus;
    obj->modemStatus = word;
    obj->ctsHolding = word & kLineCts;
    obj->dsrHolding = word & kLineDsr;
    obj->carrierHolding = word & kLineCarrier;
    const uint32_t changed = old ^ word;
    if ((changed & kLineCts) && !raiseEvent(obj, TOLCOM_EV_CTS))
        return;
    if ((changed & kLineDsr) && !raiseEvent(obj, TOLCOM_EV_DSR))
        return;
    if ((changed & kLineRing) && (word & kLineRing) && !raiseEvent(obj, TOLCOM_EV_RING))
        return;
    if ((changed & kLineCarrier) && !raiseEvent(obj, TOLCOM_EV_CD))
        return;
}

} // namespace

void setEngineClock(const exel::Clock *clock)
{
    g_clock = clock;
}

void setPauseHook(std::function<int(int)> hook)
{
    g_pauseHook = std::move(hook);
}

int64_t nowMs()
{
    return (g_clock ? *g_clock : exel::SystemClock::instance()).nowMs();
}

std::string format(const char *fmt, ...)
{
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

void diag(const CommObject &obj, const std::string &text)
{
    portwatch::diag(obj.name, text);
}

ObjectPtr find(uint32_t handle)
{
    const auto it = g_objects.find(handle);
    return it == g_objects.end() ? nullptr : it->second;
}

ObjectPtr enter(uint32_t handle, const char *function)
{
    // Objects, their timers and their events live on the thread that made
    // them; a call from elsewhere would race the tick, so it is refused.
    if (g_window && QThread::currentThread() != g_window->thread()) {
        portwatch::diag("", std::string(function) + "(): Called from another thread");
        return nullptr;
    }
    ObjectPtr obj = find(handle);
    if (!obj) {
        portwatch::diag("", "Comm Object handle invalid!");
        return nullptr;
    }
    if (portwatch::on(portwatch::Calls))
        portwatch::write(portwatch::CallTrace, obj->name, std::string(function) + "()");
    return obj;
}

bool initEngine()
{
    if (g_window)
        return true;
    if (!QCoreApplication::instance())
        return false;
    g_window = new EngineWindow;
    return true;
}

uint32_t createObject(QObject *parent, const char *name)
{
    if (!initEngine())
        return 0;
    auto obj = std::make_shared<CommObject>();
    obj->self = g_nextHandle++;
    if (g_nextHandle == 0)
        g_nextHandle = 1;
    obj->parent = parent;
    obj->hadParent = parent != nullptr;
    ++g_nameCounter;
    if (name && *name)
        obj->name = std::string(name).substr(0, 254);
    else
        obj->name = "TolComm" + std::to_string(g_nameCounter);
    for (int i = 0; i < 256; ++i)
        obj->translate[size_t(i)] = uint8_t(i);
    obj->driver = makeDriver();
    g_objects[obj->self] = obj;
    return obj->self;
}

bool destroyObject(uint32_t handle)
{
    ObjectPtr obj = find(handle);
    if (!obj) {
        portwatch::diag("", "DestroyCommObject(): Object does not exist anymore");
        return false;
    }
    if (obj->busy) {
        diag(*obj, "DestroyCommObject(): Called when object is busy.");
        return false;
    }
    stopTimer(*obj);
    if (obj->portOpen)
        closePort(*obj);
    obj->destroyed = true;
    obj->terminal.clear();
    g_objects.erase(handle);
    return true;
}

bool raiseEvent(const ObjectPtr &obj, int32_t code)
{
    obj->commEvent = code;
    if (portwatch::on(portwatch::Events))
        portwatch::write(portwatch::Event, obj->name, format("%04x: %s event", obj->self, eventName(code)));
    const uint32_t handle = obj->self;
    if (obj->handler) {
        obj->handler(handle, int32_t(handle), code);
    } else if (obj->parent) {
        TolCommCommandEvent event(int32_t(handle), handle, code);
        QCoreApplication::sendEvent(obj->parent, &event);
    } else {
        diag(*obj, "Comm. Control has no parent window!");
    }
    return alive(obj);
}

void collectErrors(CommObject &obj)
{
    if (obj.portOpen)
        obj.pendingErrors |= obj.driver->takeErrors();
}

bool processErrors(const ObjectPtr &obj)
{
    collectErrors(*obj);
    const uint32_t flags = obj->pendingErrors;
    obj->pendingErrors = 0;
    if (!flags)
        return true;
    obj->lastCommError = flags;
    static const std::pair<uint32_t, int32_t> order[] = {
        { kErrBreak, TOLCOM_ER_BREAK },
        { kErrFrame, TOLCOM_ER_FRAME },
        { kErrOverrun, TOLCOM_ER_OVERRUN },
        { kErrRxOver, TOLCOM_ER_RXOVER },
        { kErrParity, TOLCOM_ER_RXPARITY },
        { kErrTxFull, TOLCOM_ER_TXFULL },
    };
    for (const auto &[flag, code] : order) {
        if ((flags & flag) && !raiseEvent(obj, code))
            return false;
    }
    if (obj->timerId) {
        stopTimer(*obj);
        startTimer(*obj);
    }
    return true;
}

void startTimer(CommObject &obj)
{
    if (obj.timerId || !g_window)
        return;
    obj.timerId = g_window->start(std::max<int32_t>(obj.interval, 10), obj.self);
}

void stopTimer(CommObject &obj)
{
    if (obj.timerId && g_window)
        g_window->stop(obj.timerId);
    obj.timerId = 0;
}

void applyDeviceState(CommObject &obj)
{
    if (!obj.portOpen)
        return;
    DeviceState s;
    obj.driver->getState(s);
    s.baud = obj.settings.baud;
    s.dataBits = obj.settings.dataBits;
    s.parity = obj.settings.parity;
    s.stopBits = obj.settings.stopBits;
    s.parityCheck = obj.parityReplace != 0;
    s.ctsFlow = (obj.handshaking & 2) != 0;
    s.xonXoff = (obj.handshaking & 1) != 0 && !obj.transferRunning;
    s.nullStrip = obj.nullDiscard != 0;
    s.xonChar = 0x11;
    s.xoffChar = 0x13;
    // The driver's acceptance is not checked: a pseudo-terminal forces CS8
    // and no parity, and the properties stay as stored either way.
    obj.driver->setState(s);
}

namespace {

bool openDevicePort(const ObjectPtr &obj)
{
    const QByteArray dirEnv = qgetenv("TOLCOM_DEVICE_DIR");
    const std::string dir = dirEnv.isEmpty() ? std::string("/dev") : dirEnv.toStdString();
    std::string tried = dir + "/COM" + std::to_string(obj->port);
    int err = 0;
    bool opened = obj->driver->open(tried, err);
    // Only a first name that does not exist falls through to the second. A
    // port that is busy or forbidden is the device the user meant: opening
    // another one in its place would talk to the wrong equipment.
    if (!opened && err == ENOENT && obj->port >= 1) {
        const std::string second = "/dev/ttyS" + std::to_string(obj->port - 1);
        int secondErr = 0;
        opened = obj->driver->open(second, secondErr);
        // A second name that exists but cannot be used tells more than the
        // first one's absence.
        if (!opened && secondErr != ENOENT) {
            tried = second;
            err = secondErr;
        }
    }
    if (!opened) {
        std::string text = format("SetPortOpen(TRUE): Cannot open %s: %s", tried.c_str(), strerror(err));
        if (err == EACCES || err == EPERM)
            text += " (is the user in the dialout group?)";
        else if (err == EBUSY)
            text += " (the port is in use by another program)";
        diag(*obj, text);
        obj->lastOpenError = text.substr(std::string("SetPortOpen(TRUE): ").size());
        obj->lastOpenErrno = err;
        return false;
    }
    return true;
}

bool openNetworkPort(const ObjectPtr &obj, const PortTarget &target)
{
    obj->driver = makeNetworkDriver(target);
    int err = 0;
    if (obj->driver->open(target.url(), err)) {
        if (portwatch::on(portwatch::Warnings))
            diag(*obj, format("SetPortOpen(TRUE): COM%d is %s (port map line %d)", obj->port, target.url().c_str(), target.line));
        return true;
    }
    const std::string reason = obj->driver->openFailure();
    const std::string text = format("SetPortOpen(TRUE): Cannot open COM%d (%s): %s", obj->port, target.url().c_str(),
        reason.empty() ? strerror(err) : reason.c_str());
    diag(*obj, text);
    obj->lastOpenError = text.substr(std::string("SetPortOpen(TRUE): ").size());
    obj->lastOpenErrno = err ? err : EHOSTUNREACH;
    return false;
}

} // namespace

bool openPort(const ObjectPtr &obj)
{
    if (obj->deviceKind != 2) {
        diag(*obj, "SetPortOpen(TRUE): No port number set");
        obj->lastOpenError = "No port number set";
        obj->lastOpenErrno = ENODEV;
        return false;
    }
    // A port in the map is a network serial server; the rest are devices.
    const PortMap map = loadPortMap();
    for (const std::string &problem : map.problems)
        diag(*obj, "Port map: " + problem);
    const auto mapped = map.ports.find(obj->port);
    if (mapped != map.ports.end()) {
        if (!openNetworkPort(obj, mapped->second))
            return false;
    } else {
        if (obj->driver->isNetwork())
            obj->driver = makeDriver();
        if (!openDevicePort(obj))
            return false;
    }
    obj->lastOpenError.clear();
    obj->lastOpenErrno = 0;
    uint32_t word = 0;
    if (!obj->driver->modemLines(word) && portwatch::on(portwatch::Warnings))
        diag(*obj, "SetPortOpen(TRUE): The device has no modem lines; they read as low");
    obj->modemStatus = word;
    obj->portOpen = true;
    obj->pendingErrors = 0;
    obj->driver->takeErrors();
    applyDeviceState(*obj);
    obj->driver->setDtr(true);
    obj->driver->setRts(true);
    stopTimer(*obj);
    startTimer(*obj);
    return true;
}

void closePort(CommObject &obj)
{
    purgeInput(obj);
    obj.driver->purge(false, true);
    obj.driver->setDtr(false);
    obj.driver->close();
    obj.portOpen = false;
    obj.brk = false;
    obj.virtualCarrier = false;
}

void portLost(const ObjectPtr &obj, const char *where)
{
    if (!obj->portOpen)
        return;
    const bool network = obj->driver->isNetwork();
    const std::string why = network ? std::string("The connection to the serial server was lost")
                                    : format("The device has gone away (%s)", strerror(EIO));
    diag(*obj, format("%s: %s; the port is closed", where, why.c_str()));
    obj->driver->close();
    obj->portOpen = false;
    obj->virtualCarrier = false;
    obj->modemStatus = 0;
    obj->carrierHolding = false;
    obj->ctsHolding = false;
    obj->dsrHolding = false;
    // The host reads why through the open error, as after a failed open.
    obj->lastOpenError = format("COM%d: %s; the port is closed", obj->port, why.c_str());
    obj->lastOpenErrno = network ? ECONNRESET : EIO;
    // A lost device is a lost line, whatever its carrier said before (a
    // pseudo-terminal or a three-wire cable never shows one): the carrier
    // event tells the host at once instead of leaving it to poll PortOpen.
    raiseEvent(obj, TOLCOM_EV_CD);
}

namespace {

// When events last ran in a wait on this thread (steady clock, ms).
thread_local int64_t t_lastEventsMs = INT64_MIN / 2;

int64_t steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

bool pumpOnce(const ObjectPtr &obj)
{
    if (eventWaitOn() && !g_pauseHook && !obj->idle && obj->portOpen) {
        bool served = false;
        const bool stillAlive = pumpInEvents(obj, 50, served);
        if (served)
            return stillAlive;
    }
    ++obj->busy;
    // An answer over a fast link comes within a moment of its command: wait
    // that moment for it first, so that the event round does not stand
    // between its arrival and the caller. Events still run at least every
    // 20 ms of waiting, so windows stay live through a stream of quick
    // answers. Waits driven by a pause hook keep their exact turns.
    constexpr int64_t kEventGapMs = 20;
    constexpr int kQuickWaitMs = 1;
    if (!g_pauseHook && obj->portOpen && steadyMs() - t_lastEventsMs < kEventGapMs && queued(*obj) == 0
        && obj->driver->waitReadable(kQuickWaitMs) == WaitResult::Readable) {
        --obj->busy;
        return alive(obj);
    }
    t_lastEventsMs = steadyMs();
    if (obj->idle)
        obj->idle(obj->self);
    else
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (!alive(obj))
        return false;
    const int realMs = g_pauseHook ? g_pauseHook(50) : 50;
    if (obj->portOpen) {
        if (queued(*obj) == 0 && obj->driver->waitReadable(realMs) == WaitResult::HungUp && queued(*obj) == 0) {
            --obj->busy;
            portLost(obj, "Wait");
            return alive(obj);
        }
    } else if (realMs > 0) {
        obj->driver->waitReadable(realMs);
    }
    --obj->busy;
    return alive(obj);
}

bool pauseMs(const ObjectPtr &obj, int32_t ms)
{
    const int64_t deadline = nowMs() + ms;
    while (nowMs() < deadline) {
        if (obj->shutDown || !alive(obj))
            return false;
        if (!pumpOnce(obj))
            return false;
    }
    return alive(obj);
}

uint32_t lineWord(CommObject &obj)
{
    uint32_t word = 0;
    if (!obj.portOpen)
        return 0;
    if (!obj.driver->modemLines(word) && obj.virtualCarrier)
        word = kLineCarrier;
    return word;
}

int queued(CommObject &obj)
{
    if (!obj.portOpen)
        return 0;
    return obj.driver->inQueue() + int(obj.rxAhead.size() - obj.rxPos);
}

void purgeInput(CommObject &obj)
{
    obj.rxAhead.clear();
    obj.rxPos = 0;
    obj.driver->purge(true, false);
}

namespace {

// What every read of input does to the bytes taken: NULs dropped under
// NullDiscard, and the watch for a modem's hang-up notice fed.
size_t filterInput(CommObject &o, char *buf, size_t n)
{
    if (o.nullDiscard)
        n = size_t(std::remove(buf, buf + n, '\0') - buf);
    if (o.virtualCarrier && o.carrierWatch) {
        // The far end hung up: the modem says so in the data stream, the
        // only place a device without lines can show it.
        for (size_t i = 0; i < n; ++i) {
            if (o.carrierWatch->feed(buf[i]) >= 0) {
                o.virtualCarrier = false;
                break;
            }
        }
    }
    return n;
}

} // namespace

long readInput(const ObjectPtr &obj, char *buf, size_t len)
{
    CommObject &o = *obj;
    if (len == 0)
        return 0;
    bool triedDriver = false;
    if (o.rxPos == o.rxAhead.size() && len < 256) {
        triedDriver = true;
        o.rxAhead.resize(4096);
        o.rxPos = 0;
        const long r = o.driver->read(o.rxAhead.data(), o.rxAhead.size());
        o.rxAhead.resize(r > 0 ? size_t(r) : 0);
        if (r < 0) {
            portLost(obj, "Read");
            return -1;
        }
    }
    size_t n = std::min(len, o.rxAhead.size() - o.rxPos);
    std::memcpy(buf, o.rxAhead.data() + o.rxPos, n);
    o.rxPos += n;
    if (o.rxPos == o.rxAhead.size()) {
        o.rxAhead.clear();
        o.rxPos = 0;
    }
    if (n < len && !(triedDriver && n == 0)) {
        const long r = o.driver->read(buf + n, len - n);
        if (r < 0 && n == 0) {
            portLost(obj, "Read");
            return -1;
        }
        if (r > 0)
            n += size_t(r);
    }
    return long(filterInput(o, buf, n));
}

long readInputLine(const ObjectPtr &obj, char *buf, size_t len, char end)
{
    CommObject &o = *obj;
    if (len == 0)
        return 0;
    if (o.rxPos == o.rxAhead.size()) {
        o.rxAhead.resize(4096);
        o.rxPos = 0;
        const long r = o.driver->read(o.rxAhead.data(), o.rxAhead.size());
        o.rxAhead.resize(r > 0 ? size_t(r) : 0);
        if (r < 0) {
            portLost(obj, "Read");
            return -1;
        }
    }
    const char *from = o.rxAhead.data() + o.rxPos;
    size_t n = std::min(len, o.rxAhead.size() - o.rxPos);
    if (const void *at = std::memchr(from, end, n))
        n = size_t(static_cast<const char *>(at) - from) + 1;
    std::memcpy(buf, from, n);
    o.rxPos += n;
    if (o.rxPos == o.rxAhead.size()) {
        o.rxAhead.clear();
        o.rxPos = 0;
    }
    return long(filterInput(o, buf, n));
}

void showInTerminal(CommObject &obj, const char *bytes, size_t len)
{
    constexpr size_t kKeep = 32 * 1024;
    obj.terminal.append(bytes, len);
    if (obj.terminal.size() > kKeep)
        obj.terminal.erase(0, obj.terminal.size() - kKeep);
}

void afterInput(CommObject &obj, const char *bytes, size_t len)
{
    if (portwatch::on(portwatch::Input))
        portwatch::hexDump(obj.name, "Input", bytes, len);
    if (obj.inputEcho || (obj.autoProcess & 1))
        showInTerminal(obj, bytes, len);
    if (obj.commEcho && obj.portOpen)
        obj.driver->write(bytes, len, 1000 + 4 * int(len));
}

int32_t copyOut(const std::string &text, char *buffer, int32_t size)
{
    if (!buffer || size <= 0)
        return 0;
    const size_t n = std::min(text.size(), size_t(size - 1));
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return int32_t(n);
}

} // namespace tolcom
