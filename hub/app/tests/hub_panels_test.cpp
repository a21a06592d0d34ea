// Two real velmor_xel panels on a virtual X display share one router through
// one real xelhub, with the controller emulator on a pseudo-terminal behind
// it, and a Videohub client on the same hub sees the panels' takes and makes
// its own. The panels are driven as an operator drives them (mouse clicks through
// xdotool); what they show is read from their windows' pixels, what reached
// the router from the emulator, and what the hub did from "xelhub journal".
#include "hubharness.h"
#include "videohubclient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>

using namespace exel;
using namespace exel::hub;

namespace {

// Where the keys and status cells of the panel's main window are, for the
// emulator's demo router (16 sources and destinations, four levels) in the
// window's own size of 1180 x 760: the first row of each key bank, the Lock
// button, and the status rows' VIDEO cells and lock marks.
constexpr int kWindowWidth = 1180;
constexpr int kKeyPitch = 106;
constexpr int kFirstKeyX = 70;
constexpr int kSourceRowY = 129;
constexpr int kDestRowY = 361;
constexpr int kLockX = 958;
constexpr int kLockY = 338;
constexpr int kStatusFirstRowY = 571; // top of the first status row's cells
constexpr int kStatusRowPitch = 26;
constexpr int kVideoCellX = 323;
constexpr int kLockMarkX = 20;

struct Crop {
    int x, y, w, h;
};
Crop videoCell(int row)
{
    return { kVideoCellX, kStatusFirstRowY + row * kStatusRowPitch, 120, 16 };
}
Crop lockMark(int row)
{
    return { kLockMarkX, kStatusFirstRowY - 4 + row * kStatusRowPitch, 20, 22 };
}

quint16 freePort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

bool waitFor(const std::function<bool()> &done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(100);
    }
    return true;
}

// A virtual X display of its own (Xvfb picks a free display number).
class VirtualDisplay {
public:
    bool start()
    {
        m_proc.start(QStringLiteral("Xvfb"),
            { QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                QStringLiteral("2400x800x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp") });
        if (!m_proc.waitForStarted(5000))
            return false;
        while (!m_proc.canReadLine()) {
            if (!m_proc.waitForReadyRead(10000))
                return false;
        }
        name = QStringLiteral(":") + QString::fromLatin1(m_proc.readLine().trimmed());
        return name.size() > 1;
    }
    ~VirtualDisplay()
    {
        m_proc.terminate();
        if (!m_proc.waitForFinished(3000))
            m_proc.kill();
        m_proc.waitForFinished(1000);
    }
    QString name;

private:
    QProcess m_proc;
};

class TwoPanels : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char *tool : { "Xvfb", "xdotool", "import" }) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                GTEST_SKIP() << tool << " is not installed (scripts/setup installs it)";
        }
        ASSERT_TRUE(display.start()) << "Xvfb did not start";
        ASSERT_TRUE(h.startEmulator());
    }
    void TearDown() override
    {
        for (QProcess *p : { &panels[0], &panels[1], &hub }) {
            p->terminate();
            if (!p->waitForFinished(5000))
                p->kill();
            p->waitForFinished(1000);
        }
    }

    QByteArray run(const QString &program, const QStringList &args)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display.name);
        p.setProcessEnvironment(env);
        p.start(program, args);
        if (!p.waitForFinished(10000))
            p.kill();
        return p.readAllStandardOutput();
    }

    // The hub on a free loopback port, serving COM1 (the emulator), with a
    // Videohub listener for the VIDEO level.
    bool startHub(QByteArray &log)
    {
        hubPort = freePort();
        videohubPort = freePort();
        QString ini = h.ini;
        ini.replace(QStringLiteral("listen = 127.0.0.1:1"), QStringLiteral("listen = 127.0.0.1:%1").arg(hubPort));
        ini += QStringLiteral("[videohub]\nlevels = VIDEO\nport = %1\n").arg(videohubPort);
        iniPath = h.dir + QStringLiteral("/hub.ini");
        if (!exel::test::writeFile(iniPath, ini.toUtf8()))
            return false;
        hub.start(QStringLiteral(XELHUB_BINARY), { QStringLiteral("--config"), iniPath });
        if (!hub.waitForStarted(5000))
            return false;
        for (int i = 0; i < 100 && !log.contains("started with"); ++i) {
            hub.waitForReadyRead(100);
            log += hub.readAllStandardError();
        }
        return log.contains("started with");
    }

    // A panel with settings, state and program folders of its own, whose
    // port map sends its COM1 to the hub; placed side by side on the display.
    bool startPanel(int n)
    {
        const QString home = h.dir + QStringLiteral("/panel%1").arg(n);
        for (const char *sub : { "/config", "/home", "/state", "/run" })
            QDir().mkpath(home + QLatin1String(sub));
        QFile::setPermissions(
            home + QStringLiteral("/run"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        const QString cfg = home + QStringLiteral("/home/DEMO.CFG");
        QFile::copy(h.router, cfg);
        if (!exel::test::writeFile(home + QStringLiteral("/config/EXel.ini"),
                QStringLiteral("[VARS]\nCommPort=1\nConfigFile=%1\n").arg(cfg).toUtf8())
            || !exel::test::writeFile(home + QStringLiteral("/config/tolcom-ports.conf"),
                QStringLiteral("COM1 = tcp://127.0.0.1:%1\n").arg(hubPort).toUtf8()))
            return false;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("TOLCOM_DEVICE_DIR"));
        env.insert(QStringLiteral("DISPLAY"), display.name);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_STATE_HOME"), home + QStringLiteral("/state"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/run"));
        env.insert(QStringLiteral("EXEL_HOME"), home + QStringLiteral("/home"));
        env.insert(QStringLiteral("TOLCOM_LOG_DIR"), home + QStringLiteral("/state"));
        QProcess &p = panels[n];
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(QStringLiteral(VELMOR_XEL_BINARY),
            { QStringLiteral("-geometry"), QStringLiteral("+%1+0").arg(n * (kWindowWidth + 10)) });
        return p.waitForStarted(5000);
    }

    // The panel's visible windows whose title matches the pattern.
    QList<QByteArray> windows(int n, const QString &title)
    {
        return run(QStringLiteral("xdotool"),
            { QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                QStringLiteral("--pid"), QString::number(panels[n].processId()), QStringLiteral("--name"), title })
            .split('\n');
    }
    QByteArray title(const QByteArray &window)
    {
        return run(QStringLiteral("xdotool"), { QStringLiteral("getwindowname"), QString::fromLatin1(window) })
            .trimmed();
    }
    void click(int n, int x, int y)
    {
        run(QStringLiteral("xdotool"),
            { QStringLiteral("mousemove"), QStringLiteral("--window"), QString::fromLatin1(window[n]),
                QString::number(x), QString::number(y), QStringLiteral("click"), QStringLiteral("1") });
        QThread::msleep(300);
    }
    // The pixels of part of a panel's window, as raw RGB.
    QByteArray pixels(int n, const Crop &c)
    {
        return run(QStringLiteral("import"),
            { QStringLiteral("-window"), QString::fromLatin1(window[n]), QStringLiteral("-crop"),
                QStringLiteral("%1x%2+%3+%4").arg(c.w).arg(c.h).arg(c.x).arg(c.y), QStringLiteral("-depth"),
                QStringLiteral("8"), QStringLiteral("rgb:-") });
    }
    void screenshot(int n, const QString &name)
    {
        run(QStringLiteral("import"),
            { QStringLiteral("-window"), QString::fromLatin1(window[n]), h.dir + QLatin1Char('/') + name });
    }
    // A crosspoint or a lock as the emulator holds it (its "dump").
    bool routed(int level, int output, int input)
    {
        return hubtest::emulatorConversation(h.control, "dump")
            .contains(QStringLiteral("X 0 %1 %2 %3 ").arg(level).arg(output).arg(input).toLatin1());
    }
    bool locked(int output)
    {
        return hubtest::emulatorConversation(h.control, "dump")
            .split('\n')
            .contains(QStringLiteral("L 0 %1").arg(output).toLatin1());
    }
    QByteArray journal()
    {
        return run(QStringLiteral(XELHUB_BINARY), { QStringLiteral("journal"), QStringLiteral("--config"), iniPath });
    }

    VirtualDisplay display;
    hubtest::HubHarness h;
    QProcess hub;
    QProcess panels[2];
    QByteArray window[2];
    quint16 hubPort = 0;
    quint16 videohubPort = 0;
    QString iniPath;
};

bool isBlank(const QByteArray &rgb)
{
    return !rgb.isEmpty() && rgb.count(rgb.at(0)) == rgb.size();
}

} // namespace

TEST_F(TwoPanels, takeOnOnePanelReachesTheRouterAndShowsOnTheOtherAndAtAVideohubClient_andTheReverse_lockOnTheOtherShowsOnTheFirst)
{
    // The router has CAM3 on PGM's video before anyone starts.
    ASSERT_TRUE(h.emu("route 0 1 1 3").startsWith("OK"));
    QByteArray log;
    ASSERT_TRUE(startHub(log)) << log.constData();
    ASSERT_TRUE(startPanel(0));
    ASSERT_TRUE(startPanel(1));

    // Both panels are online through the hub, as on a direct line.
    for (int n = 0; n < 2; ++n) {
        ASSERT_TRUE(waitFor(
            [&] {
                const QList<QByteArray> w = windows(n, QStringLiteral("^32-Bit Xelvard - "));
                window[n] = w.value(0);
                return !window[n].isEmpty() && title(window[n]).endsWith(": COM1 Online");
            },
            30000))
            << "panel " << n << ": " << title(window[n]).constData();
        // The start-up splash lies over the first panel's keys until it closes.
        ASSERT_TRUE(waitFor([&] { return windows(n, QStringLiteral("^32-Bit Xelvard$")).value(0).isEmpty(); }, 15000));
    }
    log += hub.readAllStandardError();
    EXPECT_TRUE(log.contains("connected (2 now)")) << log.constData();

    // A Videohub client's greeting has PGM (port 0) on CAM3 (port 2) once the hub has read it.
    hubtest::VideohubTestClient videohub;
    ASSERT_TRUE(videohub.connectTo(videohubPort));
    EXPECT_TRUE(videohub.routedTo(0, 2, 10000));

    // Live status: both show the router's PGM video (CAM3) alike; PVW has nothing routed.
    const QByteArray empty = pixels(0, videoCell(1));
    ASSERT_TRUE(isBlank(empty)) << "the status cells are not where this test looks for them";
    ASSERT_TRUE(waitFor(
        [&] {
            const QByteArray a = pixels(0, videoCell(0));
            return a != empty && a == pixels(1, videoCell(0));
        },
        10000))
        << "the panels do not both show PGM's source";
    const QByteArray before = pixels(1, videoCell(0));

    // Panel 1 takes CAM2 to PGM: destination key, then source key (all levels).
    click(0, kFirstKeyX, kDestRowY);
    click(0, kFirstKeyX + kKeyPitch, kSourceRowY);
    ASSERT_TRUE(waitFor([&] { return routed(1, 1, 2); }, 10000)) << "the take did not reach the emulator";
    // ... and panel 2 shows it: its PGM row changed to what panel 1 shows.
    EXPECT_TRUE(waitFor(
        [&] {
            const QByteArray b = pixels(1, videoCell(0));
            return b != before && b == pixels(0, videoCell(0));
        },
        10000))
        << "panel 2 does not show the take";
    screenshot(1, QStringLiteral("panel2-after-take.png"));
    // The Videohub client hears of the panel's take: PGM on CAM2 (port 1).
    EXPECT_TRUE(videohub.routedTo(0, 1, 10000));

    // The reverse: the Videohub client routes CAM3 back to PGM; the router
    // has it, and both panels show what they showed before panel 1's take.
    videohub.route(0, 2);
    EXPECT_EQ(videohub.reply(), QStringLiteral("ACK"));
    ASSERT_TRUE(waitFor([&] { return routed(1, 1, 3); }, 10000)) << "the Videohub route did not reach the emulator";
    EXPECT_TRUE(waitFor([&] { return pixels(0, videoCell(0)) == before && pixels(1, videoCell(0)) == before; }, 10000))
        << "the panels do not show the Videohub client's route";
    EXPECT_TRUE(waitFor([&] { return journal().contains("from videohub 127.0.0.1"); }, 10000)) << journal().constData();

    // The hub journaled it from a panel client, with the source it replaced.
    EXPECT_TRUE(waitFor(
        [&] {
            const QByteArray j = journal();
            return j.contains("take confirmed PGM <- CAM2/VIDEO") && j.contains("from panel 127.0.0.1");
        },
        10000))
        << journal().constData();

    // Panel 2 locks PVW; panel 1 shows the lock mark on PVW's row.
    const QByteArray noMark = pixels(0, lockMark(1));
    ASSERT_TRUE(isBlank(noMark));
    click(1, kFirstKeyX + kKeyPitch, kDestRowY);
    click(1, kLockX, kLockY);
    ASSERT_TRUE(waitFor([&] { return locked(2); }, 10000)) << "the lock did not reach the emulator";
    EXPECT_TRUE(waitFor([&] { return !isBlank(pixels(0, lockMark(1))); }, 10000)) << "panel 1 does not show the lock";
    EXPECT_TRUE(isBlank(pixels(0, lockMark(2)))) << "a lock mark on a row that is not locked";
    screenshot(0, QStringLiteral("panel1-after-lock.png"));
    EXPECT_TRUE(waitFor([&] { return journal().contains("lock confirmed PVW lock toggle"); }, 10000))
        << journal().constData();
}
