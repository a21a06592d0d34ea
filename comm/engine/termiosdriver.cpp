// The termios implementation of the serial driver: real ports, USB adapters
// and pseudo-terminals.
#include "serialdriver.h"
#include "termios2io.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace tolcom {
namespace {

class TermiosDriver : public SerialDriver {
public:
    ~TermiosDriver() override { close(); }

    bool open(const std::string &path, int &err) override
    {
        close();
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            err = errno;
            return false;
        }
        // Exclusive use: another process (or another comm object) opening the
        // same port would interleave bytes.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            err = errno == EWOULDBLOCK ? EBUSY : errno;
            ::close(fd);
            return false;
        }
        if (!isatty(fd)) {
            err = ENOTTY;
            ::close(fd);
            return false;
        }
        ioctl(fd, TIOCEXCL);
        m_fd = fd;
        m_hasCounters = readCounters(m_counters);
        return true;
    }

    void adopt(int fd) override
    {
        close();
        m_fd = fd;
        if (fd < 0)
            return;
        // Every read and write here counts on a descriptor that never blocks:
        // a blocking one would hold the caller's thread past any deadline.
        // The caller may share the open file (a dup), so its own flags come
        // back when the descriptor is released.
        m_adoptedFlags = fcntl(fd, F_GETFL);
        if (m_adoptedFlags >= 0 && !(m_adoptedFlags & O_NONBLOCK))
            fcntl(fd, F_SETFL, m_adoptedFlags | O_NONBLOCK);
        m_hasCounters = readCounters(m_counters);
    }

    void close() override
    {
        if (m_fd >= 0) {
            ioctl(m_fd, TIOCNXCL);
            if (m_adoptedFlags >= 0)
                fcntl(m_fd, F_SETFL, m_adoptedFlags);
            ::close(m_fd);
        }
        m_fd = -1;
        m_adoptedFlags = -1;
        m_hasCounters = false;
    }

    int fd() const override { return m_fd; }

    long read(void *buf, size_t len) override
    {
        if (m_fd < 0) {
            m_errno = EBADF;
            return -1;
        }
        for (;;) {
            const ssize_t n = ::read(m_fd, buf, len);
            if (n >= 0)
                return long(n);
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN)
                return 0;
            m_errno = errno;
            return -1;
        }
    }

    long write(const void *buf, size_t len, int timeoutMs) override
    {
        if (m_fd < 0) {
            m_errno = EBADF;
            return -1;
        }
        const auto *p = static_cast<const char *>(buf);
        size_t done = 0;
        const int64_t deadline = monotonicMs() + timeoutMs;
        while (done < len) {
            const ssize_t n = ::write(m_fd, p + done, len - done);
            if (n > 0) {
                done += size_t(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN) {
                m_errno = errno;
                return done ? long(done) : -1;
            }
            const int64_t left = deadline - monotonicMs();
            if (left <= 0)
                break;
            pollfd pfd { m_fd, POLLOUT, 0 };
            if (poll(&pfd, 1, int(left)) > 0 && (pfd.revents & (POLLHUP | POLLERR))) {
                m_errno = EIO;
                return done ? long(done) : -1;
            }
        }
        return long(done);
    }

    int lastErrno() const override { return m_errno; }

    bool getState(DeviceState &s) override
    {
        Termios2Config c {};
        if (m_fd < 0 || termios2Read(m_fd, c) != 0)
            return false;
        s.baud = int32_t(c.baud);
        s.dataBits = c.dataBits;
        s.parity = c.parity;
        s.stopBits = c.twoStopBits ? 2 : 0;
        s.parityCheck = c.parityCheck;
        s.ctsFlow = c.ctsFlow;
        s.xonXoff = c.xonXoff;
        s.xonChar = c.xonChar;
        s.xoffChar = c.xoffChar;
        return true;
    }

    bool setState(const DeviceState &s) override
    {
        if (m_fd < 0)
            return false;
        Termios2Config c {};
        c.baud = s.baud > 0 ? uint32_t(s.baud) : 9600u;
        c.dataBits = s.dataBits;
        c.parity = s.parity;
        // termios has no one-and-a-half stop bits: two is the nearest.
        c.twoStopBits = s.stopBits != 0;
        c.parityCheck = s.parityCheck;
        c.ctsFlow = s.ctsFlow;
        c.xonXoff = s.xonXoff;
        c.xonChar = s.xonChar;
        c.xoffChar = s.xoffChar;
        return termios2Apply(m_fd, c) == 0;
    }

    bool modemLines(uint32_t &word) override
    {
        int bits = 0;
        // A pseudo-terminal answers ENOTTY: it has no lines, which reads as all low.
        if (m_fd < 0 || ioctl(m_fd, TIOCMGET, &bits) != 0) {
            word = 0;
            return false;
        }
        word = 0;
        if (bits & TIOCM_CTS)
            word |= kLineCts;
        if (bits & TIOCM_DSR)
            word |= kLineDsr;
        if (bits & TIOCM_RNG)
            word |= kLineRing;
        if (bits & TIOCM_CAR)
            word |= kLineCarrier;
        return true;
    }

    bool setLine(int bit, bool on)
    {
        if (m_fd < 0)
            return false;
        return ioctl(m_fd, on ? TIOCMBIS : TIOCMBIC, &bit) == 0;
    }
    bool setDtr(bool on) override { return setLine(TIOCM_DTR, on); }
    bool setRts(bool on) override { return setLine(TIOCM_RTS, on); }
    bool setBreak(bool on) override { return m_fd >= 0 && ioctl(m_fd, on ? TIOCSBRK : TIOCCBRK) == 0; }

    int inQueue() override
    {
        int n = 0;
        if (m_fd < 0 || ioctl(m_fd, FIONREAD, &n) != 0)
            return 0;
        return n;
    }

    int outQueue() override
    {
        int n = 0;
        if (m_fd < 0 || ioctl(m_fd, TIOCOUTQ, &n) != 0)
            return 0;
        return n;
    }

    void purge(bool input, bool output) override
    {
        if (m_fd < 0)
            return;
        if (input && output)
            tcflush(m_fd, TCIOFLUSH);
        else if (input)
            tcflush(m_fd, TCIFLUSH);
        else if (output)
            tcflush(m_fd, TCOFLUSH);
    }

    uint32_t takeErrors() override
    {
        if (m_fd < 0 || !m_hasCounters)
            return 0;
        serial_icounter_struct now {};
        if (!readCounters(now))
            return 0;
        uint32_t flags = 0;
        if (now.brk != m_counters.brk)
            flags |= kErrBreak;
        if (now.frame != m_counters.frame)
            flags |= kErrFrame;
        if (now.overrun != m_counters.overrun)
            flags |= kErrOverrun;
        if (now.buf_overrun != m_counters.buf_overrun)
            flags |= kErrRxOver;
        if (now.parity != m_counters.parity)
            flags |= kErrParity;
        m_counters = now;
        return flags;
    }

    int pollFd() const override { return m_fd; }

    WaitResult waitReadable(int ms) override
    {
        if (m_fd < 0) {
            if (ms > 0)
                usleep(useconds_t(ms) * 1000);
            return WaitResult::Timeout;
        }
        pollfd pfd { m_fd, POLLIN, 0 };
        const int r = poll(&pfd, 1, ms);
        if (r <= 0)
            return WaitResult::Timeout;
        // A hung-up pseudo-terminal reports POLLIN as well, and read() then
        // gives 0 for ever: the hang-up must win, or a wait would spin.
        if (pfd.revents & (POLLHUP | POLLERR | POLLNVAL))
            return WaitResult::HungUp;
        if (pfd.revents & POLLIN)
            return WaitResult::Readable;
        return WaitResult::Timeout;
    }

private:
    bool readCounters(serial_icounter_struct &c) { return ioctl(m_fd, TIOCGICOUNT, &c) == 0; }

    int m_fd = -1;
    // File status flags of an adopted descriptor, restored on release; -1
    // for a device the driver opened itself.
    int m_adoptedFlags = -1;
    int m_errno = 0;
    bool m_hasCounters = false;
    serial_icounter_struct m_counters {};
};

DriverFactory &factorySlot()
{
    static DriverFactory f;
    return f;
}

} // namespace

int64_t monotonicMs()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::unique_ptr<SerialDriver> makeTermiosDriver()
{
    return std::make_unique<TermiosDriver>();
}

void setDriverFactory(DriverFactory factory)
{
    factorySlot() = std::move(factory);
}

std::unique_ptr<SerialDriver> makeDriver()
{
    if (factorySlot())
        return factorySlot()();
    return makeTermiosDriver();
}

} // namespace tolcom
