// Exported functions of the comm object: creation, port properties, line
// states, tracing and the status dump.
#include "commobject.h"
#include "eventwait.h"
#include "portmap.h"
#include "portwatch.h"

#include <QObject>

#include <algorithm>
#include <cstring>

#include <fcntl.h>

using namespace tolcom;

#define OBJ_OR(result)                                                                                                 \
    ObjectPtr obj = enter(handle, __func__);                                                                           \
    if (!obj)                                                                                                          \
        return result;

namespace {

const char *handshakeName(int32_t v)
{
    switch (v) {
    case 0:
        return "None";
    case 1:
        return "Xon/Xoff";
    case 2:
        return "Hardware";
    case 3:
        return "Xon/Xoff and Hardware";
    default:
        return "";
    }
}

int32_t setPortNumber(const ObjectPtr &obj, int32_t port)
{
    if (obj->portOpen) {
        diag(*obj, format("SetPortTol(%d): Port already open", port));
        return 380;
    }
    if (port < 1)
        diag(*obj, format("SetPortTol(%d): Invalid port number", port));
    obj->port = port;
    obj->deviceKind = 2;
    return 0;
}

int32_t readLine(const ObjectPtr &obj, uint32_t bit, const char *name)
{
    if (!obj->portOpen) {
        diag(*obj, format("%s: Port not open", name));
        return 0;
    }
    return (lineWord(*obj) & bit) ? 1 : 0;
}

int32_t setBufferSize(const ObjectPtr &obj, int32_t &field, int32_t size, bool in)
{
    if (obj->portOpen) {
        diag(*obj,
            in ? format("SetInBufferSize(%d): Cannot set size while the port is open.", size)
               : format("SetOutBufferSize(%d): Port already open", size));
        return 380;
    }
    if (size < 0)
        diag(*obj, format("%s(%d): Should be between 0 en 32K", in ? "SetInBufferSize" : "SetOutBufferSize", size));
    field = size;
    return 0;
}

int32_t setTimeOut(const ObjectPtr &obj, int32_t &field, int32_t ms, const char *name)
{
    if (ms < 0)
        diag(*obj, format("%s(%ld): Invalid value.", name, long(ms)));
    field = ms;
    applyDeviceState(*obj);
    return 0;
}

int32_t setThreshold(const ObjectPtr &obj, int32_t &field, int32_t value, const char *name)
{
    if (value < 0) {
        diag(*obj, format("%s(%d): Cannot be negative value", name, value));
        return 380;
    }
    field = value;
    return 0;
}

} // namespace

extern "C" {

int32_t InitTolCommObjects(void)
{
    return initEngine() ? 1 : 0;
}

uint32_t CreateCommObject(void *parent)
{
    return createObject(static_cast<QObject *>(parent), nullptr);
}

uint32_t CreateCommObjectName(void *parent, const char *name)
{
    return createObject(static_cast<QObject *>(parent), name);
}

int32_t DestroyCommObject(uint32_t handle)
{
    return destroyObject(handle) ? 1 : 0;
}

int32_t SetCommPort(uint32_t handle, int32_t port)
{
    OBJ_OR(0);
    return setPortNumber(obj, port);
}
int32_t GetCommPort(uint32_t handle)
{
    OBJ_OR(0);
    return obj->port;
}
int32_t SetPort(uint32_t handle, int32_t port)
{
    OBJ_OR(0);
    return setPortNumber(obj, port);
}
int32_t GetPort(uint32_t handle)
{
    OBJ_OR(0);
    return obj->port;
}

int32_t SetSettings(uint32_t handle, const char *settings)
{
    OBJ_OR(0);
    if (!settings)
        return 380;
    if (!parseSettings(settings, obj->settings))
        return 380;
    applyDeviceState(*obj);
    return 0;
}

int32_t GetSettings(uint32_t handle, char *buffer, int32_t size)
{
    OBJ_OR(0);
    return copyOut(formatSettings(obj->settings), buffer, size);
}

int32_t SetPortOpen(uint32_t handle, int32_t flag)
{
    OBJ_OR(0);
    if (flag) {
        if (obj->portOpen) {
            diag(*obj, "SetPortOpen(TRUE): Port already open");
            return 1;
        }
        return openPort(obj) ? 1 : 0;
    }
    if (!obj->portOpen) {
        diag(*obj, "SetPortOpen(FALSE): Port is not open");
        return 1;
    }
    closePort(*obj);
    return 1;
}

int32_t GetPortOpen(uint32_t handle)
{
    OBJ_OR(0);
    return obj->portOpen ? 1 : 0;
}

int32_t SetHandshaking(uint32_t handle, int32_t value)
{
    OBJ_OR(0);
    if (value < 0 || value > 3)
        diag(*obj, format("SetHandshaking(%d): Invalid value", value));
    obj->handshaking = value;
    applyDeviceState(*obj);
    return 0;
}
int32_t GetHandshaking(uint32_t handle)
{
    OBJ_OR(0);
    return obj->handshaking;
}

int32_t SetInBufferSize(uint32_t handle, int32_t size)
{
    OBJ_OR(0);
    return setBufferSize(obj, obj->inBufferSize, size, true);
}
int32_t GetInBufferSize(uint32_t handle)
{
    OBJ_OR(0);
    return obj->inBufferSize;
}
int32_t SetOutBufferSize(uint32_t handle, int32_t size)
{
    OBJ_OR(0);
    return setBufferSize(obj, obj->outBufferSize, size, false);
}
int32_t GetOutBufferSize(uint32_t handle)
{
    OBJ_OR(0);
    return obj->outBufferSize;
}

int32_t SetDTR(uint32_t handle, int32_t flag)
{
    OBJ_OR(0);
    obj->dtrEnable = flag;
    if (obj->portOpen) {
        applyDeviceState(*obj);
        obj->driver->setDtr(flag != 0);
    }
    return 0;
}
int32_t GetDTR(uint32_t handle)
{
    OBJ_OR(0);
    return obj->dtrEnable;
}

int32_t SetRTS(uint32_t handle, int32_t flag)
{
    OBJ_OR(0);
    obj->rtsEnable = flag;
    if (obj->portOpen) {
        applyDeviceState(*obj);
        obj->driver->setRts(flag != 0);
    }
    return 0;
}
int32_t GetRTS(uint32_t handle)
{
    OBJ_OR(0);
    return obj->rtsEnable;
}

int32_t SetBreak(uint32_t handle, int32_t flag)
{
    OBJ_OR(0);
    if (!obj->portOpen) {
        diag(*obj, format("SetBreak(%d): Port not open", flag));
        return 0;
    }
    obj->driver->setBreak(flag != 0);
    obj->brk = flag != 0;
    return 0;
}
int32_t GetBreak(uint32_t handle)
{
    OBJ_OR(0);
    // Break watching is part of the event mask exactly while the port is open.
    return obj->portOpen ? 1 : 0;
}

int32_t SetCarrierTimeOut(uint32_t handle, int32_t ms)
{
    OBJ_OR(0);
    return setTimeOut(obj, obj->carrierTimeOut, ms, "SetCarrierTimeOut");
}
int32_t GetCarrierTimeOut(uint32_t handle)
{
    OBJ_OR(0);
    return obj->carrierTimeOut;
}
int32_t SetCTSTimeOut(uint32_t handle, int32_t ms)
{
    OBJ_OR(0);
    return setTimeOut(obj, obj->ctsTimeOut, ms, "SetCTSTimeOut");
}
int32_t GetCTSTimeOut(uint32_t handle)
{
    OBJ_OR(0);
    return obj->ctsTimeOut;
}
int32_t SetDSRTimeOut(uint32_t handle, int32_t ms)
{
    OBJ_OR(0);
    return setTimeOut(obj, obj->dsrTimeOut, ms, "SetDSRTimeOut");
}
int32_t GetDSRTimeOut(uint32_t handle)
{
    OBJ_OR(0);
    return obj->dsrTimeOut;
}

int32_t SetParityReplace(uint32_t handle, int32_t value)
{
    OBJ_OR(0);
    if (value < -1 || value > 255)
        diag(*obj, format("ParityReplace(%d): Should be between -1 and 255.", value));
    obj->parityReplace = value < 0 ? -1 : value;
    applyDeviceState(*obj);
    return 0;
}
int32_t GetParityReplace(uint32_t handle)
{
    OBJ_OR(0);
    return obj->parityReplace;
}

int32_t SetDiscardNulls(uint32_t handle, int32_t flag)
{
    OBJ_OR(0);
    obj->nullDiscard = flag;
    applyDeviceState(*obj);
    return 0;
}
int32_t GetDiscardNulls(uint32_t handle)
{
    OBJ_OR(0);
    return obj->nullDiscard;
}
int32_t SetNullDiscard(uint32_t handle, int32_t flag)
{
    return SetDiscardNulls(handle, flag);
}
int32_t GetNullDiscard(uint32_t handle)
{
    return GetDiscardNulls(handle);
}

int32_t SetInterval(uint32_t handle, int32_t ms)
{
    OBJ_OR(0);
    if (ms < 0)
        diag(*obj, format("SetInterval(%ld): Interval should be positive", long(ms)));
    obj->interval = ms;
    if (obj->timerId) {
        stopTimer(*obj);
        startTimer(*obj);
    }
    return 0;
}
int32_t GetInterval(uint32_t handle)
{
    OBJ_OR(0);
    return obj->interval;
}

int32_t SetRThreshold(uint32_t handle, int32_t bytes)
{
    OBJ_OR(0);
    return setThreshold(obj, obj->rThreshold, bytes, "SetRThreshold");
}
int32_t GetRThreshold(uint32_t handle)
{
    OBJ_OR(0);
    return obj->rThreshold;
}
int32_t SetSThreshold(uint32_t handle, int32_t bytes)
{
    OBJ_OR(0);
    return setThreshold(obj, obj->sThreshold, bytes, "SetSThreshold");
}
int32_t GetSThreshold(uint32_t handle)
{
    OBJ_OR(0);
    return obj->sThreshold;
}

int32_t SetInputTimeOut(uint32_t handle, int32_t ms)
{
    OBJ_OR(0);
    obj->inTimeOut = ms;
    applyDeviceState(*obj);
    return 0;
}
int32_t GetInputTimeOut(uint32_t handle)
{
    OBJ_OR(0);
    return obj->inTimeOut;
}
int32_t SetInputDriverTimeOut(uint32_t handle, int32_t ms)
{
    OBJ_OR(0);
    obj->driverInputTimeOut = ms;
    applyDeviceState(*obj);
    return 0;
}
int32_t SetDriverInputTimeOut(uint32_t handle, int32_t ms)
{
    return SetInputDriverTimeOut(handle, ms);
}
int32_t GetDriverInputTimeOut(uint32_t handle)
{
    OBJ_OR(0);
    return obj->driverInputTimeOut;
}
int32_t GetInputDriverTimeOut(uint32_t handle)
{
    return GetDriverInputTimeOut(handle);
}

int32_t SetNotification(uint32_t handle, int32_t value)
{
    OBJ_OR(0);
    if (value < 0 || value > 1)
        diag(*obj, format("SetNotification(%d): Should be between 0 and 1", value));
    obj->notification = value;
    return 0;
}
int32_t GetNotification(uint32_t handle)
{
    OBJ_OR(0);
    return obj->notification;
}

int32_t SetShutDown(uint32_t handle, int32_t flag)
{
    OBJ_OR(0);
    obj->shutDown = flag;
    return 0;
}
int32_t GetShutDown(uint32_t handle)
{
    OBJ_OR(0);
    return obj->shutDown;
}

int32_t SetCommLong(uint32_t handle, int32_t value)
{
    OBJ_OR(0);
    obj->userLong = value;
    return 0;
}
int32_t GetCommLong(uint32_t handle)
{
    OBJ_OR(0);
    return obj->userLong;
}

int32_t SetInputLen(uint32_t handle, int32_t bytes)
{
    OBJ_OR(0);
    if (bytes < 0) {
        diag(*obj, format("SetInputLen(%d): Cannot be negative value", bytes));
        return 380;
    }
    obj->inputLen = bytes;
    return 0;
}
int32_t GetInputLen(uint32_t handle)
{
    OBJ_OR(0);
    return obj->inputLen;
}

int32_t SetAutoProcess(uint32_t handle, int32_t value)
{
    OBJ_OR(0);
    obj->autoProcess = value;
    return 0;
}
int32_t GetAutoProcess(uint32_t handle)
{
    OBJ_OR(0);
    return obj->autoProcess;
}

int32_t GetCarrier(uint32_t handle)
{
    OBJ_OR(0);
    return readLine(obj, kLineCarrier, "GetCarrier");
}
int32_t GetCTS(uint32_t handle)
{
    OBJ_OR(0);
    return readLine(obj, kLineCts, "GetCTS");
}
int32_t GetDSR(uint32_t handle)
{
    OBJ_OR(0);
    return readLine(obj, kLineDsr, "GetDSR");
}

int32_t GetInBufferCount(uint32_t handle)
{
    OBJ_OR(0);
    return queued(*obj);
}
int32_t GetOutBufferCount(uint32_t handle)
{
    OBJ_OR(0);
    return obj->portOpen ? obj->driver->outQueue() : 0;
}
int32_t GetLastCommError(uint32_t handle)
{
    OBJ_OR(0);
    return int32_t(obj->lastCommError);
}
int32_t GetLastCommEvent(uint32_t handle)
{
    OBJ_OR(0);
    return obj->commEvent;
}
int32_t GetBusy(uint32_t handle)
{
    OBJ_OR(0);
    return obj->busy ? 1 : 0;
}

int32_t GetLastOpenError(uint32_t handle, char *buffer, int32_t size)
{
    OBJ_OR(0);
    if (buffer && size > 0) {
        const size_t n = std::min(obj->lastOpenError.size(), size_t(size - 1));
        std::memcpy(buffer, obj->lastOpenError.data(), n);
        buffer[n] = '\0';
    }
    return obj->lastOpenErrno;
}

int32_t GetPortTarget(int32_t port, char *buffer, int32_t size)
{
    const PortMap map = loadPortMap();
    const auto it = map.ports.find(port);
    if (it == map.ports.end())
        return copyOut(std::string(), buffer, size);
    copyOut(it->second.endpoint(), buffer, size);
    return it->second.kind == PortTarget::Rfc2217 ? 2 : 1;
}

int32_t GetPortMapProblems(char *buffer, int32_t size)
{
    const PortMap map = loadPortMap();
    std::string text;
    for (const std::string &p : map.problems)
        text += p + "\n";
    copyOut(text, buffer, size);
    return int32_t(std::min<size_t>(text.size(), INT32_MAX));
}

int32_t GetCommID(uint32_t handle)
{
    OBJ_OR(0);
    return obj->portOpen ? obj->driver->fd() : -1;
}

int32_t SetCommID(uint32_t handle, int32_t fd)
{
    OBJ_OR(0);
    if (fd < -1 || (fd >= 0 && fcntl(fd, F_GETFD) < 0)) {
        diag(*obj, format("SetCommID(%d): Invalid device handle", fd));
        return 380;
    }
    if (obj->portOpen)
        closePort(*obj);
    if (obj->driver->isNetwork())
        obj->driver = makeDriver();
    obj->driver->adopt(fd);
    obj->deviceKind = 2;
    if (fd == -1)
        return 0;
    obj->portOpen = true;
    obj->modemStatus = lineWord(*obj);
    applyDeviceState(*obj);
    stopTimer(*obj);
    startTimer(*obj);
    return 0;
}

int32_t SetEventHandler(uint32_t handle, TolCommEventProc proc)
{
    OBJ_OR(0);
    obj->handler = proc;
    return 0;
}

int32_t SetEventContext(uint32_t handle, void *context)
{
    OBJ_OR(0);
    obj->eventContext = context;
    return 0;
}

void *GetEventContext(uint32_t handle)
{
    OBJ_OR(nullptr);
    return obj->eventContext;
}

int32_t SetIdleLoop(uint32_t handle, TolCommIdleProc proc)
{
    OBJ_OR(0);
    obj->idle = proc;
    return 0;
}

int32_t SetEventWait(uint32_t, int32_t on)
{
    const bool old = eventWaitOn();
    setEventWait(on != 0);
    return old ? 1 : 0;
}

int32_t SetPortWatch(uint32_t, int32_t flags)
{
    const int32_t old = portwatch::switches();
    portwatch::setSwitches(flags);
    return old;
}

int32_t GetPortWatch(uint32_t)
{
    return portwatch::switches();
}

int32_t DumpCommStatus(uint32_t handle)
{
    OBJ_OR(0);
    const CommObject &o = *obj;
    auto line = [&](const std::string &text) { portwatch::write(portwatch::Dump, o.name, text); };
    auto num = [&](const char *n, long v) { line(format("     %s=%ld", n, v)); };
    auto flag = [&](const char *n, bool v) { line(format("     %s=%s", n, v ? "TRUE" : "FALSE")); };
    line("Comm Control Dump");
    line(format("     %s=\"%s\"", "Name", o.name.c_str()));
    num("hWnd", long(o.self));
    flag("Break", o.brk);
    flag("CarrierHolding", o.carrierHolding);
    num("CarrierTimeOut", o.carrierTimeOut);
    num("CommID", o.portOpen ? o.driver->fd() : -1);
    num("CommEvent", o.commEvent);
    num("Port", o.port);
    flag("CTSHolding", o.ctsHolding);
    num("CTSTimeOut", o.ctsTimeOut);
    flag("DSRHolding", o.dsrHolding);
    num("DSRTimeOut", o.dsrTimeOut);
    flag("DTREnable", o.dtrEnable != 0);
    line(format("     %s=%d -- %s", "Handshaking", o.handshaking, handshakeName(o.handshaking)));
    num("InBufferSize", o.inBufferSize);
    num("InputLen", o.inputLen);
    num("Interval", o.interval);
    num("InTimeOut", o.inTimeOut);
    num("DriverInputTimeOut", o.driverInputTimeOut);
    flag("NullDiscard", o.nullDiscard != 0);
    num("OutBufferSize", o.outBufferSize);
    num("ParityReplace", o.parityReplace);
    flag("PortOpen", o.portOpen);
    num("RThreshold", o.rThreshold);
    flag("RTSEnable", o.rtsEnable != 0);
    num("SThreshold", o.sThreshold);
    line(format("     %s=\"%s\"", "Settings", formatSettings(o.settings).c_str()));
    num("Busy", o.busy);
    num("LastCommError", long(o.lastCommError));
    num("ModemStatus", long(o.modemStatus));
    flag("ShutDown", o.shutDown != 0);
    num("Notification", o.notification);
    num("LookUpTimeOut", o.lookUpTimeOut);
    flag("Echo", o.echo != 0);
    flag("InputEcho", o.inputEcho != 0);
    flag("CommEcho", o.commEcho != 0);
    num("AutoProcess", o.autoProcess);
    line(format("     %s=%d -- %s", "DialMode", o.dialMode, o.dialMode == 1 ? "Pulse" : "Tone"));
    num("DialTimeOut", o.dialTimeOut);
    line(format("     %s=\"%s\"", "ModemTitle", o.modem.fields[ModemOptions::Title].c_str()));
    return 1;
}

int32_t GetTerminalContents(uint32_t handle, char *buffer, int32_t size)
{
    OBJ_OR(0);
    return copyOut(obj->terminal, buffer, size);
}

int32_t ClearTerminal(uint32_t handle)
{
    OBJ_OR(0);
    obj->terminal.clear();
    return 1;
}

int32_t Upload(uint32_t handle, int32_t, const char *)
{
    OBJ_OR(-1);
    diag(*obj, "Upload(): File transfers are not available in this engine");
    return -1;
}

int32_t Download(uint32_t handle, int32_t, const char *)
{
    OBJ_OR(-1);
    diag(*obj, "Download(): File transfers are not available in this engine");
    return -1;
}

} // extern "C"
