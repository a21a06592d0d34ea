// Fixtures shared by the engine tests: pseudo-terminal ports, a frozen clock,
// the fake driver, an event recorder and a reader for portwatch.log.
#pragma once

#include "engine_testing.h"
#include "fakedriver.h"
#include "portwatch.h"
#include "tolcom32.h"

#include <testsupport.h>

#include <QDir>
#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace enginetest {

// A pseudo-terminal pair whose slave is reachable as <dir>/COM<port>; the
// test plays the far end on the master.
class PtyPort {
public:
    explicit PtyPort(int port = 1)
        : m_port(port)
    {
        int slave = -1;
        char name[256] = {};
        termios raw {};
        cfmakeraw(&raw);
        if (openpty(&m_master, &slave, name, &raw, nullptr) != 0)
            return;
        // Hold the slave open so the master sees no hang-up between opens.
        m_slave = slave;
        fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
        m_dir = exel::test::tempHome() + QStringLiteral("/dev");
        QDir().mkpath(m_dir);
        m_link = m_dir + QStringLiteral("/COM%1").arg(port);
        QFile::remove(m_link);
        QFile::link(QString::fromLocal8Bit(name), m_link);
        qputenv("TOLCOM_DEVICE_DIR", m_dir.toLocal8Bit());
    }
    ~PtyPort()
    {
        closeMaster();
        if (m_slave >= 0)
            ::close(m_slave);
        QFile::remove(m_link);
    }
    int port() const { return m_port; }
    bool ok() const { return m_master >= 0; }

    void send(const std::string &bytes)
    {
        ASSERT_EQ(::write(m_master, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    // Everything the engine wrote, waiting up to ms for at least want bytes.
    std::string receive(size_t want = 1, int ms = 1000)
    {
        std::string out;
        char buf[4096];
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            const ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n > 0) {
                out.append(buf, size_t(n));
                if (out.size() >= want)
                    break;
                continue;
            }
            pollfd p { m_master, POLLIN, 0 };
            poll(&p, 1, 5);
        }
        return out;
    }
    // The far end goes away.
    void closeMaster()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
        if (m_slave >= 0)
            ::close(m_slave);
        m_slave = -1;
    }

private:
    int m_port;
    int m_master = -1;
    int m_slave = -1;
    QString m_dir;
    QString m_link;
};

// Waits (really) until the engine sees at least n bytes queued.
inline bool waitQueued(uint32_t h, int n, int ms = 2000)
{
    for (int i = 0; i < ms; ++i) {
        if (GetInBufferCount(h) >= n)
            return true;
        QThread::msleep(1);
    }
    return false;
}

// Freezes time: every wait advances the fake clock by its pause and waits
// at most realMs for input, so time-outs pass without sleeping.
class FrozenTime {
public:
    explicit FrozenTime(int realMs = 1)
    {
        tolcom::setEngineClock(&clock);
        tolcom::setPauseHook([this, realMs](int ms) {
            clock.advance(ms);
            pauses += ms;
            return realMs;
        });
    }
    ~FrozenTime()
    {
        tolcom::setEngineClock(nullptr);
        tolcom::setPauseHook(nullptr);
    }
    exel::FakeClock clock;
    int64_t pauses = 0;
};

// Installs the fake driver for objects created while it lives.
class FakeDriverScope {
public:
    FakeDriverScope()
        : port(std::make_shared<tolcom::FakePort>())
    {
        tolcom::setDriverFactory(tolcom::fakeDriverFactory(port));
    }
    ~FakeDriverScope() { tolcom::setDriverFactory(nullptr); }
    std::shared_ptr<tolcom::FakePort> port;
};

struct Event {
    uint32_t handle;
    int32_t id;
    int32_t code;
};

// Records every event; an optional action runs inside the handler.
struct Recorder {
    static std::vector<Event> &events()
    {
        static std::vector<Event> e;
        return e;
    }
    static std::function<void(uint32_t, int32_t)> &action()
    {
        static std::function<void(uint32_t, int32_t)> a;
        return a;
    }
    static int32_t handler(uint32_t h, int32_t id, int32_t code)
    {
        events().push_back({ h, id, code });
        if (action())
            action()(h, code);
        return 0;
    }
    static std::vector<int32_t> codes()
    {
        std::vector<int32_t> out;
        for (const auto &e : events())
            out.push_back(e.code);
        return out;
    }
    static void reset()
    {
        events().clear();
        action() = nullptr;
    }
};

struct LogRecord {
    uint16_t kind;
    std::string name;
    std::string text;
    std::string data;
};

inline std::string logFile()
{
    return tolcom::portwatch::logPath();
}

inline uint32_t le32(const std::string &s, size_t at)
{
    return uint32_t(uint8_t(s[at])) | uint32_t(uint8_t(s[at + 1])) << 8 | uint32_t(uint8_t(s[at + 2])) << 16
        | uint32_t(uint8_t(s[at + 3])) << 24;
}

// Every record of the log, checking the header on the way.
inline std::vector<LogRecord> readLog()
{
    std::vector<LogRecord> out;
    const QByteArray bytes = exel::test::readFile(QString::fromStdString(logFile()));
    const std::string s(bytes.constData(), size_t(bytes.size()));
    if (s.size() < 16)
        return out;
    const uint32_t end = le32(s, 12);
    EXPECT_EQ(le32(s, 0), 0xA9300565u);
    EXPECT_EQ(end, s.size());
    size_t p = 16;
    auto u16 = [&](size_t at) { return uint16_t(uint8_t(s[at]) | uint8_t(s[at + 1]) << 8); };
    while (p + 14 <= end) {
        LogRecord r;
        r.kind = u16(p);
        p += 6;
        const uint16_t nl = u16(p);
        r.name = s.substr(p + 2, nl);
        p += 2 + nl;
        const uint16_t tl = u16(p);
        r.text = s.substr(p + 2, tl);
        p += 2 + tl;
        const uint32_t dl = le32(s, p);
        r.data = s.substr(p + 4, dl);
        p += 4 + dl;
        out.push_back(r);
    }
    return out;
}

inline std::vector<std::string> logTexts(uint16_t kind = 0xFFFF)
{
    std::vector<std::string> out;
    for (const auto &r : readLog()) {
        if (kind == 0xFFFF || r.kind == kind)
            out.push_back(r.text);
    }
    return out;
}

inline bool logHas(const std::string &text)
{
    for (const auto &t : logTexts()) {
        if (t == text)
            return true;
    }
    return false;
}

inline void clearLog()
{
    QFile::remove(QString::fromStdString(logFile()));
}

// A look-up block from strings: each NUL-terminated, then the empty string.
inline std::string lookups(std::initializer_list<const char *> strings)
{
    std::string block;
    for (const char *s : strings) {
        block += s;
        block += '\0';
    }
    block += '\0';
    return block;
}

} // namespace enginetest
