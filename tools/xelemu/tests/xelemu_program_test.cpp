// The xelemu program on a real pseudo-terminal: a status question and a take
// with plain read/write, the control console, and the COM<n> link.
#include "hublinkprotocol.h"
#include "testsupport.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

using namespace exel;

namespace {

// Reads from fd until a CR LF arrives or the time is up.
QByteArray readLine(int fd, int timeoutMs = 3000)
{
    QByteArray got;
    while (!got.endsWith("\r\n")) {
        pollfd p { fd, POLLIN, 0 };
        if (poll(&p, 1, timeoutMs) <= 0)
            break;
        char buf[256];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        got.append(buf, n);
    }
    return got;
}

QString stdoutLine(QProcess &proc)
{
    while (!proc.canReadLine()) {
        if (!proc.waitForReadyRead(5000))
            return {};
    }
    return QString::fromLocal8Bit(proc.readLine()).trimmed();
}

} // namespace

TEST(XelemuProgram, answers_status_and_take_on_its_pty_and_publishes_com_link)
{
    QTemporaryDir devices;
    QProcess proc;
    proc.start(QStringLiteral(XELEMU_BINARY),
        { QStringLiteral("--device-dir"), devices.path(), QStringLiteral("--com"), QStringLiteral("2"),
            QStringLiteral("--log"), devices.filePath(QStringLiteral("rx.log")),
            test::sourceDir() + QStringLiteral("/tools/xelemu/tests/data/router.cfg") });
    ASSERT_TRUE(proc.waitForStarted());
    const QString path = stdoutLine(proc);
    ASSERT_TRUE(path.startsWith(QStringLiteral("/dev/pts/"))) << path.toStdString();
    EXPECT_EQ(QFileInfo(devices.filePath(QStringLiteral("COM2"))).symLinkTarget(), path);

    const int fd = open(devices.filePath(QStringLiteral("COM2")).toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios t {};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);

    const QByteArray take = HublinkFrame(u"H004002003").toLatin1();
    ASSERT_EQ(write(fd, take.constData(), static_cast<size_t>(take.size())), take.size());
    EXPECT_EQ(readLine(fd), QByteArray("G\r\n"));

    const QByteArray status = HublinkFrame(u"Y004").toLatin1();
    ASSERT_EQ(write(fd, status.constData(), static_cast<size_t>(status.size())), status.size());
    const HublinkAnswer a = HublinkCheckAnswer(QString::fromLatin1(readLine(fd)));
    ASSERT_TRUE(a.good());
    HublinkStatus s;
    ErrorInfo err;
    ASSERT_TRUE(HublinkDecodeStatus(a.body, s, err));
    EXPECT_EQ(s.intSrc, (std::vector<int16_t> { 1, 2, -1, 0 }));

    // The router as the emulator holds it, not as a panel believes it.
    proc.write("dump\n");
    QStringList dump;
    while (dump.isEmpty() || dump.last() != QLatin1String("END")) {
        const QString l = stdoutLine(proc);
        ASSERT_FALSE(l.isEmpty());
        dump << l;
    }
    EXPECT_EQ(
        dump, (QStringList { QStringLiteral("X 0 1 4 2 0"), QStringLiteral("X 0 2 4 3 0"), QStringLiteral("END") }));

    proc.write("quit\n");
    EXPECT_TRUE(proc.waitForFinished(5000));
    EXPECT_EQ(proc.exitCode(), 0);
    close(fd);
    EXPECT_FALSE(QFileInfo(devices.filePath(QStringLiteral("COM2"))).isSymLink());
    const QByteArray log = test::readFile(devices.filePath(QStringLiteral("rx.log")));
    EXPECT_TRUE(log.contains("rx H004002003")) << log.constData();
    EXPECT_TRUE(log.contains("rx Y004"));
}

TEST(XelemuProgram, hangup_closes_the_line_and_reopen_brings_a_new_one)
{
    QProcess proc;
    proc.start(QStringLiteral(XELEMU_BINARY),
        { QStringLiteral("--log"), QStringLiteral("/dev/null"),
            test::sourceDir() + QStringLiteral("/tools/xelemu/tests/data/router.cfg") });
    ASSERT_TRUE(proc.waitForStarted());
    const QString path = stdoutLine(proc);
    int fd = open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    proc.write("hangup\n");
    EXPECT_EQ(stdoutLine(proc), QStringLiteral("OK hanging up"));
    EXPECT_EQ(stdoutLine(proc), QStringLiteral("HANGUP"));
    pollfd p { fd, POLLIN, 0 };
    ASSERT_EQ(poll(&p, 1, 2000), 1);
    EXPECT_TRUE(p.revents & (POLLHUP | POLLERR));
    close(fd);

    proc.write("reopen\n");
    EXPECT_EQ(stdoutLine(proc), QStringLiteral("OK reopening"));
    const QString again = stdoutLine(proc);
    ASSERT_TRUE(again.startsWith(QStringLiteral("/dev/pts/"))) << again.toStdString();
    fd = open(again.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios t {};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    const QByteArray q = HublinkFrame(u"WS").toLatin1();
    ASSERT_EQ(write(fd, q.constData(), static_cast<size_t>(q.size())), q.size());
    EXPECT_TRUE(HublinkCheckAnswer(QString::fromLatin1(readLine(fd))).good());

    // A hang-up injected as a fault takes the place of the next answer.
    proc.write("fault hangup\n");
    EXPECT_TRUE(stdoutLine(proc).startsWith(QStringLiteral("OK hangup")));
    ASSERT_EQ(write(fd, q.constData(), static_cast<size_t>(q.size())), q.size());
    EXPECT_EQ(stdoutLine(proc), QStringLiteral("HANGUP"));
    p = { fd, POLLIN, 0 };
    ASSERT_EQ(poll(&p, 1, 2000), 1);
    EXPECT_TRUE(p.revents & (POLLHUP | POLLERR));
    close(fd);
    proc.write("quit\n");
    EXPECT_TRUE(proc.waitForFinished(5000));
}

TEST(XelemuProgram, unreadable_configuration_is_refused_with_a_reason)
{
    QProcess proc;
    proc.start(QStringLiteral(XELEMU_BINARY), { QStringLiteral("/nonexistent/router.cfg") });
    ASSERT_TRUE(proc.waitForFinished(5000));
    EXPECT_EQ(proc.exitCode(), 2);
    EXPECT_TRUE(proc.readAllStandardError().contains("Unable to Open"));
}

TEST(XelemuProgram, control_socket_changes_the_router_while_the_console_is_off)
{
    QTemporaryDir dir;
    const QString sockPath = dir.filePath(QStringLiteral("ctl"));
    QProcess proc;
    proc.start(QStringLiteral(XELEMU_BINARY),
        { QStringLiteral("--no-console"), QStringLiteral("--control-socket"), sockPath, QStringLiteral("--log"),
            QStringLiteral("/dev/null"), test::sourceDir() + QStringLiteral("/tools/xelemu/tests/data/router.cfg") });
    ASSERT_TRUE(proc.waitForStarted());
    ASSERT_FALSE(stdoutLine(proc).isEmpty()); // the socket listens before the path is printed

    const int s = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    const QByteArray p = sockPath.toLocal8Bit();
    memcpy(addr.sun_path, p.constData(), static_cast<size_t>(p.size()));
    ASSERT_EQ(::connect(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    const char cmds[] = "route 0 1 3 7\nlock 0 2 on\ndump\n";
    ASSERT_EQ(write(s, cmds, sizeof cmds - 1), static_cast<ssize_t>(sizeof cmds - 1));
    QByteArray got;
    while (!got.endsWith("END\n")) {
        pollfd pf { s, POLLIN, 0 };
        ASSERT_EQ(poll(&pf, 1, 3000), 1);
        char buf[256];
        const ssize_t n = read(s, buf, sizeof buf);
        ASSERT_GT(n, 0);
        got.append(buf, n);
    }
    EXPECT_EQ(got, QByteArray("OK\nOK locked\nX 0 1 3 7 0\nL 0 2\nEND\n"));
    ASSERT_EQ(write(s, "quit\n", 5), 5);
    EXPECT_TRUE(proc.waitForFinished(5000));
    close(s);
    EXPECT_FALSE(QFileInfo::exists(sockPath));
}
