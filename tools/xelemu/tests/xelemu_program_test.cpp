// The xelemu program on a real pseudo-terminal: a status question and a take
// with plain read/write, the control console, and the COM<n> link.
#include "hublinkprotocol.h"
#include "testsupport.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace exel;

namespace {

// Reads from fd until a CR LF arrives or the time is up.
QByteArray readLine(int fd, int timeoutMs = 3000)
{
    QByteArray got;
    while (!got.endsWith("\r\n")) {
        pollfd p{fd, POLLIN, 0};
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
               {QStringLiteral("--device-dir"), devices.path(), QStringLiteral("--com"), QStringLiteral("2"),
                QStringLiteral("--log"), devices.filePath(QStringLiteral("rx.log")),
                test::sourceDir() + QStringLiteral("/tools/xelemu/tests/data/router.cfg")});
    ASSERT_TRUE(proc.waitForStarted());
    const QString path = stdoutLine(proc);
    ASSERT_TRUE(path.startsWith(QStringLiteral("/dev/pts/"))) << path.toStdString();
    EXPECT_EQ(QFileInfo(devices.filePath(QStringLiteral("COM2"))).symLinkTarget(), path);

    const int fd = open(devices.filePath(QStringLiteral("COM2")).toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios t{};
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
    EXPECT_EQ(s.intSrc, (std::vector<int16_t>{1, 2, -1, 0}));

    // The router as the emulator holds it, not as a panel believes it.
    proc.write("dump\n");
    QStringList dump;
    while (dump.isEmpty() || dump.last() != QLatin1String("END")) {
        const QString l = stdoutLine(proc);
        ASSERT_FALSE(l.isEmpty());
        dump << l;
    }
    EXPECT_EQ(dump, (QStringList{QStringLiteral("X 0 1 4 2 0"), QStringLiteral("X 0 2 4 3 0"), QStringLiteral("END")}));

    proc.write("quit\n");
    EXPECT_TRUE(proc.waitForFinished(5000));
    EXPECT_EQ(proc.exitCode(), 0);
    close(fd);
    EXPECT_FALSE(QFileInfo(devices.filePath(QStringLiteral("COM2"))).isSymLink());
    const QByteArray log = test::readFile(devices.filePath(QStringLiteral("rx.log")));
    EXPECT_TRUE(log.contains("rx H004002003")) << log.constData();
    EXPECT_TRUE(log.contains("rx Y004"));
}

TEST(XelemuProgram, hangup_closes_the_line_the_panel_holds)
{
    QProcess proc;
    proc.start(QStringLiteral(XELEMU_BINARY), {test::sourceDir() + QStringLiteral("/tools/xelemu/tests/data/router.cfg")});
    ASSERT_TRUE(proc.waitForStarted());
    const QString path = stdoutLine(proc);
    const int fd = open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    proc.write("hangup\n");
    EXPECT_EQ(stdoutLine(proc), QStringLiteral("OK hanging up"));
    EXPECT_EQ(stdoutLine(proc), QStringLiteral("HANGUP"));
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 2000), 1);
    EXPECT_TRUE(p.revents & (POLLHUP | POLLERR));
    close(fd);
    proc.write("quit\n");
    EXPECT_TRUE(proc.waitForFinished(5000));
}

TEST(XelemuProgram, unreadable_configuration_is_refused_with_a_reason)
{
    QProcess proc;
    proc.start(QStringLiteral(XELEMU_BINARY), {QStringLiteral("/nonexistent/router.cfg")});
    ASSERT_TRUE(proc.waitForFinished(5000));
    EXPECT_EQ(proc.exitCode(), 2);
    EXPECT_TRUE(proc.readAllStandardError().contains("Unable to Open"));
}
