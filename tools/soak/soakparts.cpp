// Pieces of the soak driver.
#include "soakparts.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

namespace exel::soak {

int64_t monotonicMs()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

MsgAnswer CountingDialogs::messageBox(const QString &text, MsgButtons buttons, MsgIcon, const QString &)
{
    ++m_counts[text];
    return goAheadAnswer(buttons);
}

int CountingDialogs::total() const
{
    int n = 0;
    for (int c : m_counts)
        n += c;
    return n;
}

QStringList emulatorControl(const QString &socketPath, const QString &command, bool *ok)
{
    if (ok)
        *ok = false;
    const QByteArray path = QFile::encodeName(socketPath);
    sockaddr_un addr {};
    if (path.size() >= static_cast<qsizetype>(sizeof addr.sun_path))
        return {};
    addr.sun_family = AF_UNIX;
    memcpy(addr.sun_path, path.constData(), static_cast<size_t>(path.size()));
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {};
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return {};
    }
    const QByteArray line = command.toLocal8Bit() + '\n';
    if (::send(fd, line.constData(), static_cast<size_t>(line.size()), MSG_NOSIGNAL) != line.size()) {
        ::close(fd);
        return {};
    }
    // The emulator answers, then sees the end of our side and closes its own.
    ::shutdown(fd, SHUT_WR);
    QByteArray got;
    const int64_t deadline = monotonicMs() + 5000;
    bool closed = false;
    while (!closed) {
        const int64_t left = deadline - monotonicMs();
        if (left <= 0)
            break;
        pollfd p { fd, POLLIN, 0 };
        const int rc = poll(&p, 1, static_cast<int>(left));
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc <= 0)
            break;
        char buf[4096];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            closed = true;
        else
            got.append(buf, n);
    }
    ::close(fd);
    if (ok)
        *ok = closed;
    QStringList lines = QString::fromLocal8Bit(got).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (QString &l : lines)
        l = l.trimmed();
    return lines;
}

QString WatchedLink::SendHublinkCmd(const QString &strCmd, float &sglTimeout)
{
    return m_inner ? m_inner->SendHublinkCmd(strCmd, sglTimeout) : QString();
}

int WatchedLink::CPUYCmd(int16_t intID, int16_t intDst, std::vector<int16_t> &intSrc, std::vector<bool> &bolErr)
{
    ++m_counts.statusAsked;
    if (!m_inner) {
        intSrc.assign(2, 0);
        bolErr.assign(2, false);
        return 0;
    }
    const int levels = m_inner->CPUYCmd(intID, intDst, intSrc, bolErr);
    const auto shape = m_shapes.find(intID);
    if (levels > 0 && shape != m_shapes.end() && levels != shape->second.first)
        ++m_counts.statusMisfit;
    if (levels > 0) {
        ++m_counts.statusAnswered;
        m_lastStatusAnswer = monotonicMs();
    }
    return levels;
}

std::vector<bool> WatchedLink::CPUWCmd(int16_t intID)
{
    ++m_counts.lockTablesAsked;
    std::vector<bool> table = m_inner ? m_inner->CPUWCmd(intID) : std::vector<bool>(2, false);
    // A lost answer reads as the two-element empty table; anything else must
    // have one element per output and the spare.
    const auto shape = m_shapes.find(intID);
    if (table.size() != 2 && shape != m_shapes.end() && table.size() != static_cast<size_t>(shape->second.second) + 1)
        ++m_counts.lockTableMisfit;
    return table;
}

QString WatchedLink::CPUHCmd(int16_t intID, int16_t intNumLevs, int16_t intDst, const std::vector<int16_t> &intSrc)
{
    ++m_counts.takeCommands;
    const QString reply = m_inner ? m_inner->CPUHCmd(intID, intNumLevs, intDst, intSrc) : QString();
    const bool acknowledged = reply.startsWith(QLatin1Char('G'));
    if (acknowledged)
        ++m_counts.takeAcknowledged;
    else if (reply.startsWith(QLatin1Char('L')))
        ++m_counts.takeLocked;
    else if (reply.isEmpty())
        ++m_counts.takeUnanswered;
    else
        ++m_counts.takeRefused;
    // Wire numbers: controller level i + 1, output intDst + 1, input + 1;
    // -1 ("000") leaves the level as it is and sets nothing.
    std::vector<std::pair<int, int>> cells;
    for (int i = 0; i < intNumLevs && static_cast<size_t>(i) < intSrc.size(); ++i) {
        if (intSrc[static_cast<size_t>(i)] >= 0)
            cells.emplace_back(i + 1, intSrc[static_cast<size_t>(i)] + 1);
    }
    m_ledger.record(intID, intDst + 1, cells, acknowledged);
    return reply;
}

QString WatchedLink::CPULCmd(int16_t intID, int16_t intDst)
{
    ++m_counts.lockToggles;
    const QString reply = m_inner ? m_inner->CPULCmd(intID, intDst) : QString();
    if (reply.startsWith(QLatin1Char('G')))
        ++m_counts.lockTogglesAcknowledged;
    return reply;
}

MemorySample sampleMemory(int64_t atMs)
{
    MemorySample s;
    s.atMs = atMs;
    const struct mallinfo2 mi = mallinfo2();
    s.heapInUse = static_cast<int64_t>(mi.uordblks + mi.hblkhd);
    if (FILE *f = fopen("/proc/self/statm", "r")) {
        long long size = 0, resident = 0;
        if (fscanf(f, "%lld %lld", &size, &resident) == 2)
            s.rss = resident * sysconf(_SC_PAGESIZE);
        fclose(f);
    }
    return s;
}

Watchdog::Watchdog(int64_t boundMs, QString reportFile)
    : m_bound(boundMs)
    , m_report(QFile::encodeName(reportFile))
    , m_beat(monotonicMs())
{
    m_thread = std::thread([this] {
        while (!m_stop.load()) {
            usleep(200 * 1000);
            const int64_t idle = monotonicMs() - m_beat.load();
            if (idle > m_bound) {
                char text[256];
                snprintf(text, sizeof text, "HANG: no progress for %lld ms in %s; verdict FAIL\n",
                    static_cast<long long>(idle), m_where.load());
                fputs(text, stderr);
                if (!m_report.isEmpty()) {
                    if (FILE *f = fopen(m_report.constData(), "a")) {
                        fputs(text, f);
                        fclose(f);
                    }
                }
                _exit(3);
            }
        }
    });
}

Watchdog::~Watchdog()
{
    m_stop.store(true);
    m_thread.join();
}

} // namespace exel::soak
