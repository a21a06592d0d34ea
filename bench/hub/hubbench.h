// What the hub's benchmarks share: percentiles, running the event loop for a
// while, a paced emulator program reached with plain read/write (the
// reference line), a process's CPU and memory from /proc, and a free
// loopback port. XELEMU_BINARY names the emulator program.
#pragma once

#include "emulatorprogram.h"
#include "hublinkprotocol.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>

#include <algorithm>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace exel::hubbench {

inline double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

inline void pump(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// A paced emulator reached with plain read/write: the reference.
struct RawLine {
    exel::test::EmulatorProgram program { QStringLiteral(XELEMU_BINARY) };
    int fd = -1;
    bool start(const QString &config, const QString &devDir)
    {
        if (!program.start(config, devDir, { QStringLiteral("--settings"), QStringLiteral("9600,N,8,2") }))
            return false;
        fd = ::open(program.path().constData(), O_RDWR | O_NOCTTY);
        termios t {};
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
        return fd >= 0;
    }
    ~RawLine()
    {
        if (fd >= 0)
            ::close(fd);
    }
    // One exchange; false when no answer came.
    bool ask(const QString &cmd)
    {
        const QByteArray line = HublinkFrame(cmd).toLatin1();
        if (::write(fd, line.constData(), static_cast<size_t>(line.size())) != line.size())
            return false;
        QByteArray got;
        while (!got.endsWith("\r\n")) {
            pollfd p { fd, POLLIN, 0 };
            if (::poll(&p, 1, 2000) != 1)
                return false;
            char buf[256];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0)
                return false;
            got.append(buf, static_cast<int>(n));
        }
        return true;
    }
};

struct ProcStat {
    double cpuSeconds = 0;
    long rssKiB = 0;
};

inline ProcStat procStat(qint64 pid)
{
    ProcStat s;
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (f.open(QIODevice::ReadOnly)) {
        const QByteArray text = f.readAll();
        const QList<QByteArray> parts = text.mid(text.lastIndexOf(')') + 2).split(' ');
        // After the command: state is field 3; utime 14, stime 15 (1-based in proc(5)).
        const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
        s.cpuSeconds = (parts.value(11).toDouble() + parts.value(12).toDouble()) / ticks;
    }
    QFile st(QStringLiteral("/proc/%1/status").arg(pid));
    if (st.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : st.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                s.rssKiB = line.mid(6).trimmed().split(' ').value(0).toLong();
        }
    }
    return s;
}

inline quint16 freePort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

} // namespace exel::hubbench
