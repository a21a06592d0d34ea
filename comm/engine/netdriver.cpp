// A serial driver whose port is a network serial server: raw TCP (bytes as
// they are) or Telnet with the COM-port option, where the settings, DTR, RTS
// and break go to the remote port and its line and modem state come back.
// The connection stands for the cable: connected reads as carrier, a closed
// connection as a device that went away.
#include "netdriver.h"
#include "telnetcodec.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace tolcom {
namespace {

// Remote modem state bits (NOTIFY-MODEMSTATE) to the engine's line word.
uint32_t lineWordOf(uint8_t state)
{
    uint32_t w = 0;
    if (state & 0x80)
        w |= kLineCarrier;
    if (state & 0x40)
        w |= kLineRing;
    if (state & 0x20)
        w |= kLineDsr;
    if (state & 0x10)
        w |= kLineCts;
    return w;
}

class NetworkDriver : public SerialDriver {
public:
    explicit NetworkDriver(PortTarget target, int connectMs)
        : m_target(std::move(target))
        , m_connectMs(connectMs)
    {
    }
    ~NetworkDriver() override { close(); }

    bool isNetwork() const override { return true; }
    std::string openFailure() const override { return m_failure; }

    bool open(const std::string &, int &err) override
    {
        close();
        m_failure.clear();
        const int64_t deadline = monotonicMs() + m_connectMs;
        addrinfo hints {};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *found = nullptr;
        const std::string service = std::to_string(m_target.port);
        const int gai = resolveWithin(m_target.host, service, hints, deadline, found);
        if (gai != 0) {
            err = gai == EAI_SYSTEM ? errno : EHOSTUNREACH;
            m_failure = "cannot find host \"" + m_target.host + "\": "
                + (gai == EAI_AGAIN ? std::string("no answer from the name server") : std::string(gai_strerror(gai)));
            return false;
        }
        int lastErr = ETIMEDOUT;
        for (addrinfo *a = found; a && m_fd < 0; a = a->ai_next) {
            const int fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
            if (fd < 0) {
                lastErr = errno;
                continue;
            }
            if (connectWithin(fd, a->ai_addr, a->ai_addrlen, deadline, lastErr))
                m_fd = fd;
            else
                ::close(fd);
        }
        freeaddrinfo(found);
        if (m_fd < 0) {
            err = lastErr;
            m_failure = "cannot connect to " + m_target.endpoint() + ": "
                + (lastErr == ETIMEDOUT ? std::string("no answer within ") + std::to_string(m_connectMs / 1000) + " s"
                                        : std::string(strerror(lastErr)));
            return false;
        }
        const int one = 1;
        setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        // A cable pulled out somewhere on the network shows as a lost
        // connection within about half a minute, not hours.
        setsockopt(m_fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
        const int idle = 10, interval = 5, count = 3;
        setsockopt(m_fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
        setsockopt(m_fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
        setsockopt(m_fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
        m_eof = false;
        m_readErrno = 0;
        m_stateSent = false;
        m_comPortStarted = false;
        m_stateWanted = m_dtrWanted = m_rtsWanted = false;
        m_in.clear();
        m_codec = TelnetCodec();
        if (m_target.kind == PortTarget::Rfc2217) {
            // Only the offer: COM-port commands wait until the server agrees.
            sendRaw(m_codec.greeting(), 1000);
            // Give the server a moment to agree, so the first settings go to
            // a port that takes them; a server that agrees later gets them
            // then, and one that never does still works as a plain Telnet
            // byte pipe.
            const int64_t agreeBy = monotonicMs() + 1000;
            while (!m_codec.comPortAccepted() && !m_codec.comPortRefused() && !m_eof) {
                const int64_t left = agreeBy - monotonicMs();
                if (left <= 0)
                    break;
                pollfd pfd { m_fd, POLLIN, 0 };
                if (poll(&pfd, 1, int(left)) > 0)
                    pump();
            }
            if (m_eof) {
                err = ECONNRESET;
                m_failure = "the server at " + m_target.endpoint() + " closed the connection";
                close();
                return false;
            }
        }
        return true;
    }

    void adopt(int fd) override
    {
        close();
        m_fd = fd;
    }

    void close() override
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        m_in.clear();
        m_eof = false;
    }

    int fd() const override { return m_fd; }

    long read(void *buf, size_t len) override
    {
        if (m_fd < 0) {
            m_errno = EBADF;
            return -1;
        }
        if (m_in.size() < len)
            pump();
        if (m_in.empty() && m_eof) {
            m_errno = m_readErrno ? m_readErrno : EIO;
            return -1;
        }
        const size_t n = std::min(len, m_in.size());
        std::memcpy(buf, m_in.data(), n);
        m_in.erase(0, n);
        return long(n);
    }

    long write(const void *buf, size_t len, int timeoutMs) override
    {
        if (m_fd < 0 || m_eof) {
            m_errno = m_fd < 0 ? EBADF : EPIPE;
            return -1;
        }
        const auto *p = static_cast<const char *>(buf);
        if (m_target.kind == PortTarget::Tcp)
            return sendRaw(std::string(p, len), timeoutMs);
        // Escaped, the wire form is longer; count back the data bytes that
        // went out whole.
        const std::string wire = TelnetCodec::escape(p, len);
        const long sent = sendRaw(wire, timeoutMs);
        if (sent < 0 || size_t(sent) == wire.size())
            return sent < 0 ? -1 : long(len);
        long data = 0;
        for (long i = 0; i < sent; ++i, ++data) {
            if (uint8_t(wire[size_t(i)]) == TelnetCodec::IAC) {
                if (i + 1 >= sent)
                    break;
                ++i;
            }
        }
        return data;
    }

    int lastErrno() const override { return m_errno; }

    bool getState(DeviceState &state) override
    {
        state = m_state;
        return m_fd >= 0;
    }

    bool setState(const DeviceState &s) override
    {
        if (m_fd < 0)
            return false;
        const DeviceState old = m_state;
        const bool first = !m_stateSent;
        m_state = s;
        m_stateWanted = true;
        // A raw server keeps its own line settings; a Telnet server that has
        // not agreed yet gets them when it does.
        if (!comPort())
            return true;
        m_stateSent = true;
        std::string out;
        if (first || s.baud != old.baud)
            out += TelnetCodec::baudCommand(uint32_t(s.baud > 0 ? s.baud : 9600));
        if (first || s.dataBits != old.dataBits)
            out += TelnetCodec::comPortCommand(TelnetCodec::CpSetDataSize, uint8_t(s.dataBits));
        if (first || s.parity != old.parity) {
            // none, odd, even, mark, space are 1..5 on the wire
            out += TelnetCodec::comPortCommand(TelnetCodec::CpSetParity, uint8_t(s.parity >= 0 && s.parity <= 4 ? s.parity + 1 : 1));
        }
        if (first || s.stopBits != old.stopBits) {
            const uint8_t stop = s.stopBits == 2 ? 2 : s.stopBits == 1 ? 3 : 1;
            out += TelnetCodec::comPortCommand(TelnetCodec::CpSetStopSize, stop);
        }
        if (first || s.ctsFlow != old.ctsFlow || s.xonXoff != old.xonXoff) {
            const uint8_t flow = s.ctsFlow ? TelnetCodec::CtlHardware : s.xonXoff ? TelnetCodec::CtlXonXoff : TelnetCodec::CtlNoFlow;
            out += TelnetCodec::comPortCommand(TelnetCodec::CpSetControl, flow);
        }
        return out.empty() || sendRaw(out, 1000) == long(out.size());
    }

    bool modemLines(uint32_t &word) override
    {
        if (m_fd < 0) {
            word = 0;
            return false;
        }
        pump();
        // A server that reports its port's lines is believed; otherwise an
        // open connection reads as a cable with its lines up.
        if (comPort() && m_codec.modemStateKnown())
            word = lineWordOf(m_codec.modemState());
        else
            word = kLineCts | kLineDsr | kLineCarrier;
        return true;
    }

    bool setDtr(bool on) override
    {
        m_dtr = on;
        m_dtrWanted = true;
        return control(on ? TelnetCodec::CtlDtrOn : TelnetCodec::CtlDtrOff);
    }
    bool setRts(bool on) override
    {
        m_rts = on;
        m_rtsWanted = true;
        return control(on ? TelnetCodec::CtlRtsOn : TelnetCodec::CtlRtsOff);
    }
    bool setBreak(bool on) override { return control(on ? TelnetCodec::CtlBreakOn : TelnetCodec::CtlBreakOff); }

    int inQueue() override
    {
        if (m_fd < 0)
            return 0;
        pump();
        return int(std::min<size_t>(m_in.size(), 1 << 30));
    }

    int outQueue() override
    {
        int n = 0;
        if (m_fd < 0 || ioctl(m_fd, SIOCOUTQ, &n) != 0)
            return 0;
        return n;
    }

    void purge(bool input, bool output) override
    {
        if (m_fd < 0)
            return;
        if (input) {
            pump();
            m_in.clear();
        }
        if (comPort() && (input || output)) {
            const uint8_t which = input && output ? 3 : input ? 1 : 2;
            sendRaw(TelnetCodec::comPortCommand(TelnetCodec::CpPurgeData, which), 200);
        }
    }

    uint32_t takeErrors() override
    {
        if (m_fd < 0)
            return 0;
        pump();
        const uint8_t s = m_codec.takeLineState();
        uint32_t flags = 0;
        if (s & 0x10)
            flags |= kErrBreak;
        if (s & 0x08)
            flags |= kErrFrame;
        if (s & 0x04)
            flags |= kErrParity;
        if (s & 0x02)
            flags |= kErrOverrun;
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
        const int64_t deadline = monotonicMs() + (ms > 0 ? ms : 0);
        for (;;) {
            if (!m_in.empty())
                return WaitResult::Readable;
            if (m_eof)
                return WaitResult::HungUp;
            const int64_t left = deadline - monotonicMs();
            pollfd pfd { m_fd, POLLIN, 0 };
            const int r = poll(&pfd, 1, int(left > 0 ? left : 0));
            if (r <= 0)
                return WaitResult::Timeout;
            // Negotiation alone wakes the poll but brings no data: go round
            // until data, the end, or the time-out.
            pump();
            if (m_in.empty() && !m_eof && left <= 0)
                return WaitResult::Timeout;
        }
    }

private:
    bool comPort() const { return m_target.kind == PortTarget::Rfc2217 && m_codec.comPortAccepted(); }

    // The server has just agreed to the COM-port option (the codec's reply
    // already carries the notice masks): the port gets the whole line state
    // the engine asked for so far (nothing while the open still waits for
    // the agreement: the engine applies its state right after).
    void startComPort()
    {
        m_comPortStarted = true;
        m_stateSent = false;
        if (m_stateWanted)
            setState(m_state);
        if (m_dtrWanted)
            control(m_dtr ? TelnetCodec::CtlDtrOn : TelnetCodec::CtlDtrOff);
        if (m_rtsWanted)
            control(m_rts ? TelnetCodec::CtlRtsOn : TelnetCodec::CtlRtsOff);
    }

    bool control(uint8_t value)
    {
        if (m_fd < 0)
            return false;
        if (!comPort())
            return true; // nothing to switch on a raw connection
        const std::string cmd = TelnetCodec::comPortCommand(TelnetCodec::CpSetControl, value);
        return sendRaw(cmd, 1000) == long(cmd.size());
    }

    // getaddrinfo with a deadline: a name server that does not answer must
    // not hold the open (and the operator's window) for its own minutes.
    static int resolveWithin(const std::string &host, const std::string &service, const addrinfo &hints,
        int64_t deadline, addrinfo *&found)
    {
        // Numeric addresses need no name server.
        addrinfo numeric = hints;
        numeric.ai_flags |= AI_NUMERICHOST;
        if (getaddrinfo(host.c_str(), service.c_str(), &numeric, &found) == 0)
            return 0;
        // The request lives on the heap: a lookup that outlives the deadline
        // is cancelled, and if it cannot be, it is left to finish on its own.
        struct Request {
            std::string host, service;
            addrinfo hints;
            gaicb cb;
        };
        auto *req = new Request { host, service, hints, {} };
        req->cb.ar_name = req->host.c_str();
        req->cb.ar_service = req->service.c_str();
        req->cb.ar_request = &req->hints;
        gaicb *list[1] = { &req->cb };
        int rc = getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr);
        if (rc != 0) {
            delete req;
            return rc;
        }
        for (;;) {
            const int64_t left = deadline - monotonicMs();
            if (left <= 0)
                break;
            timespec ts { time_t(left / 1000), long(left % 1000) * 1000000L };
            const int s = gai_suspend(list, 1, &ts);
            if (s == EAI_INTR)
                continue;
            break;
        }
        rc = gai_error(&req->cb);
        if (rc == EAI_INPROGRESS) {
            if (gai_cancel(&req->cb) == EAI_CANCELED) {
                delete req;
            }
            // Not cancelled: the resolver thread still uses req; it is
            // leaked rather than freed under it (a once-off on a dead
            // name server).
            return EAI_AGAIN;
        }
        found = req->cb.ar_result;
        delete req;
        return rc;
    }

    static bool connectWithin(int fd, const sockaddr *addr, socklen_t len, int64_t deadline, int &err)
    {
        if (::connect(fd, addr, len) == 0)
            return true;
        if (errno != EINPROGRESS) {
            err = errno;
            return false;
        }
        for (;;) {
            const int64_t left = deadline - monotonicMs();
            if (left <= 0) {
                err = ETIMEDOUT;
                return false;
            }
            pollfd pfd { fd, POLLOUT, 0 };
            const int r = poll(&pfd, 1, int(left));
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0) {
                err = ETIMEDOUT;
                return false;
            }
            int soErr = 0;
            socklen_t l = sizeof soErr;
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &soErr, &l);
            if (soErr != 0) {
                err = soErr;
                return false;
            }
            return true;
        }
    }

    // Reads whatever waits on the socket, through the Telnet codec when the
    // server speaks it, answering its negotiation at once.
    void pump()
    {
        if (m_fd < 0 || m_eof)
            return;
        char block[4096];
        // Bounded: a server that never stops sending cannot keep us here.
        for (int rounds = 0; rounds < 16; ++rounds) {
            const ssize_t n = ::recv(m_fd, block, sizeof block, 0);
            if (n == 0) {
                m_eof = true;
                m_readErrno = 0;
                return;
            }
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                if (errno != EAGAIN && errno != EWOULDBLOCK) {
                    m_eof = true;
                    m_readErrno = errno;
                }
                return;
            }
            // Acknowledge at once: a server that sends an answer in two
            // segments (Nagle on its side) would otherwise wait for our
            // delayed acknowledgement, 40 ms per answer.
            const int quick = 1;
            setsockopt(m_fd, IPPROTO_TCP, TCP_QUICKACK, &quick, sizeof quick);
            if (m_target.kind == PortTarget::Tcp) {
                m_in.append(block, size_t(n));
            } else {
                std::string reply;
                m_codec.feed(block, size_t(n), m_in, reply);
                if (!reply.empty())
                    sendRaw(reply, 200);
                if (m_codec.comPortAccepted() != m_comPortStarted) {
                    if (m_codec.comPortAccepted())
                        startComPort();
                    else
                        m_comPortStarted = false;
                }
            }
            if (size_t(n) < sizeof block)
                return;
        }
    }

    long sendRaw(const std::string &bytes, int timeoutMs)
    {
        size_t done = 0;
        const int64_t deadline = monotonicMs() + timeoutMs;
        while (done < bytes.size()) {
            const ssize_t n = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n > 0) {
                done += size_t(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                m_errno = errno;
                m_eof = true;
                return done ? long(done) : -1;
            }
            const int64_t left = deadline - monotonicMs();
            if (left <= 0)
                break;
            pollfd pfd { m_fd, POLLOUT, 0 };
            poll(&pfd, 1, int(left));
        }
        return long(done);
    }

    PortTarget m_target;
    int m_connectMs;
    int m_fd = -1;
    int m_errno = 0;
    int m_readErrno = 0;
    bool m_eof = false;
    bool m_stateSent = false;
    bool m_comPortStarted = false;
    // The lines the engine last asked for, sent again when the server agrees.
    bool m_stateWanted = false;
    bool m_dtrWanted = false, m_dtr = false;
    bool m_rtsWanted = false, m_rts = false;
    std::string m_in; // data received and not yet read
    std::string m_failure;
    DeviceState m_state;
    TelnetCodec m_codec;
};

} // namespace

std::unique_ptr<SerialDriver> makeNetworkDriver(const PortTarget &target, int connectMs)
{
    return std::make_unique<NetworkDriver>(target, connectMs);
}

} // namespace tolcom
