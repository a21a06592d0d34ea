// Debian's ser2net serving a device (the controller emulator's
// pseudo-terminal) on a loopback TCP port, raw or with RFC 2217, and the port
// map line that sends the panel's COM<n> to it. For tests and benchmarks that
// want a real network serial server rather than our own idea of one.
#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace exel::test {

class Ser2netServer {
public:
    enum Mode { Raw, Rfc2217 };

    static QString program()
    {
        QString p = QStandardPaths::findExecutable(QStringLiteral("ser2net"));
        if (p.isEmpty())
            p = QStandardPaths::findExecutable(QStringLiteral("ser2net"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
        return p;
    }

    // charDelay false switches off ser2net's habit of holding received bytes
    // for a few character times to send them in one packet.
    Ser2netServer(QString device, Mode mode, bool charDelay = true, QString lineSettings = QStringLiteral("9600n82"))
        : m_device(std::move(device))
        , m_mode(mode)
        , m_charDelay(charDelay)
        , m_line(std::move(lineSettings))
    {
    }
    ~Ser2netServer() { stop(); }

    // Starts on a free loopback port (or the one it had, for a restart) and
    // waits until it takes connections. Empty on success, else why not.
    QString start()
    {
        const QString exe = program();
        if (exe.isEmpty())
            return QStringLiteral("ser2net is not installed");
        if (m_port == 0)
            m_port = freePort();
        const QString accepter = m_mode == Rfc2217 ? QStringLiteral("telnet(rfc2217),tcp,127.0.0.1,%1").arg(m_port)
                                                    : QStringLiteral("tcp,127.0.0.1,%1").arg(m_port);
        const QString yaml = QStringLiteral("connection: &link#  accepter: %1#  connector: serialdev,%2,%3,local#"
                                            "  options:#    kickolduser: true#    chardelay: %4")
                                 .arg(accepter, m_device, m_line, m_charDelay ? QStringLiteral("true") : QStringLiteral("false"));
        m_pidFile = QDir::tempPath() + QStringLiteral("/ser2net-test-%1-%2.pid").arg(::getpid()).arg(m_port);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(exe, {QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-P"), m_pidFile,
                                 QStringLiteral("-Y"), yaml});
        if (!m_process.waitForStarted(5000))
            return QStringLiteral("ser2net did not start: ") + m_process.errorString();
        for (int i = 0; i < 100; ++i) {
            if (m_process.state() != QProcess::Running)
                return QStringLiteral("ser2net stopped: ") + QString::fromLocal8Bit(m_process.readAll());
            if (listening())
                return {};
            QThread::msleep(50);
        }
        return QStringLiteral("ser2net does not listen on port %1").arg(m_port);
    }

    void stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
        if (!m_pidFile.isEmpty())
            QFile::remove(m_pidFile);
    }

    quint16 port() const { return m_port; }
    // "COM1 = tcp://127.0.0.1:4001"
    QString mapLine(int com) const
    {
        return QStringLiteral("COM%1 = %2://127.0.0.1:%3").arg(com).arg(m_mode == Rfc2217 ? "rfc2217" : "tcp").arg(m_port);
    }
    // Writes the port map in $XDG_CONFIG_HOME with just this port.
    void writePortMap(int com) const
    {
        QFile f(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/tolcom-ports.conf"));
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write((mapLine(com) + QStringLiteral("\n")).toLatin1());
    }
    static void removePortMap() { QFile::remove(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/tolcom-ports.conf")); }

private:
    static quint16 freePort()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        quint16 port = 0;
        if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0
            && ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) == 0)
            port = ntohs(a.sin_port);
        if (fd >= 0)
            ::close(fd);
        return port;
    }

    // Whether something listens, asked without connecting (a connection
    // would make ser2net open the device): /proc/net/tcp lists listeners.
    bool listening() const
    {
        QFile f(QStringLiteral("/proc/net/tcp"));
        if (!f.open(QIODevice::ReadOnly))
            return false;
        const QByteArray want = QStringLiteral(":%1 ").arg(m_port, 4, 16, QLatin1Char('0')).toUpper().toLatin1();
        for (const QByteArray &line : f.readAll().split('\n')) {
            // local address, remote address, state 0A = LISTEN
            const QList<QByteArray> f2 = line.simplified().split(' ');
            if (f2.size() > 3 && f2[1].endsWith(want.trimmed()) && f2[3] == "0A")
                return true;
        }
        return false;
    }

    QString m_device;
    Mode m_mode;
    bool m_charDelay;
    QString m_line;
    quint16 m_port = 0;
    QString m_pidFile;
    QProcess m_process;
};

} // namespace exel::test
