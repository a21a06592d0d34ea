// Port settings for pacing, and the paced emulator keeping to the line rate.
#include "hublinkprotocol.h"
#include "testsupport.h"
#include "wirepacing.h"

#include <QElapsedTimer>
#include <QProcess>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace exel;

TEST(WireSettings, bits_per_character_of_common_settings)
{
    struct Case {
        const char *text;
        double bits;
    };
    const Case cases[] = { { "9600,N,8,2", 11.0 }, { "9600,N,8,1", 10.0 }, { "19200,E,7,1", 10.0 },
        { "1200,o,8,1.5", 11.5 }, { " 300 , M , 5 , 2 ", 9.0 } };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        WireSettings s;
        QString error;
        ASSERT_TRUE(parseWireSettings(QString::fromLatin1(c.text), s, error)) << error.toStdString();
        EXPECT_DOUBLE_EQ(s.bitsPerChar(), c.bits);
    }
    WireSettings s;
    QString error;
    ASSERT_TRUE(parseWireSettings(QStringLiteral("9600,N,8,2"), s, error));
    // A status question of 6 + 2 characters and an answer of 17 + 4 at 9600,N,8,2.
    EXPECT_NEAR(s.exchangesPerSecond(29), 9600.0 / 11.0 / 29.0, 1e-9);
}

TEST(WireSettings, malformed_settings_are_refused_and_leave_the_old_ones)
{
    for (const char *bad : { "", "9600", "9600,N,8", "9600,X,8,2", "9600,N,9,2", "9600,N,8,3", "0,N,8,2", "fast,N,8,2",
             "9600,N,8,2,1", "9600,NN,8,2" }) {
        SCOPED_TRACE(bad);
        WireSettings s;
        s.baud = 1234;
        QString error;
        EXPECT_FALSE(parseWireSettings(QString::fromLatin1(bad), s, error));
        EXPECT_FALSE(error.isEmpty());
        EXPECT_EQ(s.baud, 1234);
    }
}

TEST(XelemuProgramPacing, paced_answers_take_at_least_their_time_on_the_wire)
{
    QProcess proc;
    proc.start(QStringLiteral(XELEMU_BINARY),
        { QStringLiteral("--settings"), QStringLiteral("1200,N,8,2"), QStringLiteral("--log"),
            QStringLiteral("/dev/null"), test::sourceDir() + QStringLiteral("/tools/xelemu/tests/data/router.cfg") });
    ASSERT_TRUE(proc.waitForStarted());
    ASSERT_TRUE(proc.waitForReadyRead(5000));
    const QByteArray path = proc.readLine().trimmed();
    const int fd = open(path.constData(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios t {};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);

    const QByteArray q = HublinkFrame(u"Y001").toLatin1(); // 8 characters, answer 3 + 2 + 9 + 4 = 18
    QElapsedTimer timer;
    timer.start();
    ASSERT_EQ(write(fd, q.constData(), 8), 8);
    QByteArray got;
    int reads = 0;
    while (!got.endsWith("\r\n")) {
        pollfd p { fd, POLLIN, 0 };
        ASSERT_EQ(poll(&p, 1, 3000), 1);
        char buf[64];
        const ssize_t n = read(fd, buf, sizeof buf);
        ASSERT_GT(n, 0);
        got.append(buf, n);
        ++reads;
    }
    const qint64 ms = timer.elapsed();
    EXPECT_EQ(got.size(), 18);
    // 26 characters of 11 bits at 1200 baud: 238 ms on a real line.
    EXPECT_GE(ms, 230);
    EXPECT_GT(reads, 1); // characters trickle in, as from a UART
    close(fd);
    proc.write("quit\n");
    EXPECT_TRUE(proc.waitForFinished(5000));
}
