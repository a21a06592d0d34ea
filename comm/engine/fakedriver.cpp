// The scripted serial driver used by the engine's tests.
#include "fakedriver.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace tolcom {
namespace {

class FakeDriver : public SerialDriver {
public:
    explicit FakeDriver(std::shared_ptr<FakePort> port)
        : m_port(std::move(port))
    {
    }

    bool open(const std::string &path, int &err) override
    {
        m_port->openAttempts.push_back(path);
        if (const auto it = m_port->openErrors.find(path); it != m_port->openErrors.end()) {
            err = it->second;
            return false;
        }
        if (!m_port->openable.empty() && !m_port->openable.count(path)) {
            err = ENOENT;
            return false;
        }
        if (m_port->open) {
            err = EBUSY;
            return false;
        }
        m_port->open = true;
        m_open = true;
        return true;
    }
    void adopt(int fd) override
    {
        m_open = fd >= 0;
        m_port->open = m_open;
    }
    void close() override
    {
        if (m_open)
            m_port->open = false;
        m_open = false;
    }
    int fd() const override { return m_open ? 1000 : -1; }

    long read(void *buf, size_t len) override
    {
        if (!m_open || m_port->hungUp) {
            m_errno = EIO;
            return -1;
        }
        const size_t n = std::min(len, m_port->received.size());
        std::memcpy(buf, m_port->received.data(), n);
        m_port->received.erase(0, n);
        return long(n);
    }
    long write(const void *buf, size_t len, int) override
    {
        if (!m_open || m_port->failWrites || m_port->hungUp) {
            m_errno = EIO;
            return -1;
        }
        std::string bytes(static_cast<const char *>(buf), len);
        m_port->written += bytes;
        if (m_port->onWrite)
            m_port->onWrite(bytes);
        return long(len);
    }
    int lastErrno() const override { return m_errno; }

    bool getState(DeviceState &s) override
    {
        s = m_port->state;
        return m_open;
    }
    bool setState(const DeviceState &s) override
    {
        m_port->state = s;
        ++m_port->setStateCalls;
        return m_open;
    }
    bool modemLines(uint32_t &word) override
    {
        word = m_port->hasLines ? m_port->lines : 0;
        return m_port->hasLines;
    }
    bool setDtr(bool on) override
    {
        const bool changed = m_port->dtr != on;
        m_port->dtr = on;
        if (changed && m_port->onDtr)
            m_port->onDtr(on);
        return m_open;
    }
    bool setRts(bool on) override
    {
        m_port->rts = on;
        return m_open;
    }
    bool setBreak(bool on) override
    {
        m_port->brk = on;
        return m_open;
    }
    int inQueue() override { return m_open ? int(m_port->received.size()) : 0; }
    int outQueue() override { return m_open ? m_port->outQueue : 0; }
    void purge(bool input, bool output) override
    {
        ++m_port->purges;
        if (input)
            m_port->received.clear();
        if (output)
            m_port->outQueue = 0;
    }
    uint32_t takeErrors() override
    {
        const uint32_t e = m_port->errors;
        m_port->errors = 0;
        return e;
    }
    WaitResult waitReadable(int ms) override
    {
        if (m_port->hungUp)
            return WaitResult::HungUp;
        if (!m_port->received.empty())
            return WaitResult::Readable;
        // Behave like a device: the wait takes its time when nothing arrives.
        if (ms > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return m_port->received.empty() ? WaitResult::Timeout : WaitResult::Readable;
    }

private:
    std::shared_ptr<FakePort> m_port;
    bool m_open = false;
    int m_errno = 0;
};

} // namespace

DriverFactory fakeDriverFactory(std::shared_ptr<FakePort> port)
{
    return [port]() -> std::unique_ptr<SerialDriver> { return std::make_unique<FakeDriver>(port); };
}

} // namespace tolcom
