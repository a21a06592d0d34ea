// The one small interface through which the engine reaches the OS serial
// device: the termios implementation for real ports and pseudo-terminals, and a
// scripted fake for tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tolcom {

// Raw line-error flags, as the engine stores them in "last comm error".
enum CommErrorFlag : uint32_t {
    kErrRxOver = 0x0001, // receive queue overflow
    kErrOverrun = 0x0002, // hardware overrun
    kErrParity = 0x0004,
    kErrFrame = 0x0008,
    kErrBreak = 0x0010,
    kErrTxFull = 0x0100, // transmit queue full
};

// Modem-line word bits.
enum ModemLineBit : uint32_t {
    kLineCts = 0x10,
    kLineDsr = 0x20,
    kLineRing = 0x40,
    kLineCarrier = 0x80,
};

// Device state in the engine's own terms; the driver maps it onto the OS.
struct DeviceState {
    int32_t baud = 9600;
    int32_t dataBits = 8;
    int32_t parity = 0; // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int32_t stopBits = 0; // 0 one, 1 one and a half, 2 two
    bool parityCheck = true;
    bool ctsFlow = false; // hardware output flow control (RTS/CTS)
    bool xonXoff = false; // software flow control both directions
    bool nullStrip = false; // drop received NUL bytes
    uint8_t xonChar = 0x11;
    uint8_t xoffChar = 0x13;
};

// Result of a wait for input.
enum class WaitResult { Timeout, Readable, HungUp };

class SerialDriver {
public:
    virtual ~SerialDriver() = default;

    // Opens path for exclusive read/write use. On failure returns false and
    // sets err to the errno value.
    virtual bool open(const std::string &path, int &err) = 0;
    // Takes over a descriptor the caller opened (not closed by the caller afterwards).
    virtual void adopt(int fd) = 0;
    virtual void close() = 0;
    virtual int fd() const = 0;

    // Non-blocking; bytes read, 0 when nothing waits, -1 on error (errno kept in lastErrno()).
    virtual long read(void *buf, size_t len) = 0;
    // Writes everything within timeoutMs; bytes written, -1 on error.
    virtual long write(const void *buf, size_t len, int timeoutMs) = 0;
    virtual int lastErrno() const = 0;

    virtual bool getState(DeviceState &state) = 0;
    virtual bool setState(const DeviceState &state) = 0;

    // Modem-line word; false when the device has no modem lines (a pty).
    virtual bool modemLines(uint32_t &word) = 0;
    virtual bool setDtr(bool on) = 0;
    virtual bool setRts(bool on) = 0;
    virtual bool setBreak(bool on) = 0;

    virtual int inQueue() = 0;
    virtual int outQueue() = 0;
    virtual void purge(bool input, bool output) = 0;
    // Line errors seen since the last call (CommErrorFlag bits).
    virtual uint32_t takeErrors() = 0;

    // Waits up to ms for input; HungUp when the other end has gone.
    virtual WaitResult waitReadable(int ms) = 0;

    // The descriptor that becomes readable when input (or the end of the
    // line) may be waiting, for a wait in an event loop; -1 when none.
    virtual int pollFd() const { return -1; }

    // A port on a network serial server rather than a device.
    virtual bool isNetwork() const { return false; }
    // Why the last open failed, when the errno value alone does not say it.
    virtual std::string openFailure() const { return {}; }
};

// Real time in ms for the drivers' own waits (the engine's time-outs use its
// replaceable clock instead).
int64_t monotonicMs();

// Creates the termios implementation.
std::unique_ptr<SerialDriver> makeTermiosDriver();

// Factory used by every new comm object; tests replace it (nullptr restores the default).
using DriverFactory = std::function<std::unique_ptr<SerialDriver>()>;
void setDriverFactory(DriverFactory factory);
std::unique_ptr<SerialDriver> makeDriver();

} // namespace tolcom
