// The xelhub program itself: killed with SIGKILL in the middle of a burst of
// takes from several panels and started again, its journal (read with
// "xelhub journal") says which takes were sent and not confirmed; nothing is
// left "queued" and nothing a panel was told "G" about is missing.
#include "hubharness.h"
#include "scriptedpanel.h"

#include <QProcess>
#include <QTcpServer>

#include <gtest/gtest.h>

#include <csignal>

using namespace exel;
using namespace exel::hub;

namespace {

quint16 freePort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

bool startHub(QProcess &hub, const QString &ini, QByteArray &log)
{
    hub.setProcessChannelMode(QProcess::SeparateChannels);
    hub.start(QStringLiteral(XELHUB_BINARY), { QStringLiteral("--config"), ini });
    if (!hub.waitForStarted(5000))
        return false;
    for (int i = 0; i < 100 && !log.contains("started with"); ++i) {
        hub.waitForReadyRead(100);
        log += hub.readAllStandardError();
    }
    return log.contains("started with");
}

} // namespace

TEST(HubProgram, killedMidBurst_journalSaysWhatWasSentAndNotConfirmed)
{
    hubtest::HubHarness h;
    ASSERT_TRUE(h.startEmulator());
    const quint16 port = freePort();
    QString ini = h.ini;
    ini.replace(QStringLiteral("listen = 127.0.0.1:1"), QStringLiteral("listen = 127.0.0.1:%1").arg(port));
    const QString iniPath = h.dir + QStringLiteral("/hub.ini");
    ASSERT_TRUE(exel::test::writeFile(iniPath, ini.toUtf8()));

    QProcess hub;
    QByteArray log;
    ASSERT_TRUE(startHub(hub, iniPath, log)) << log.constData();
    std::vector<std::unique_ptr<hubtest::ScriptedPanel>> panels;
    for (int i = 0; i < 6; ++i) {
        panels.push_back(std::make_unique<hubtest::ScriptedPanel>());
        ASSERT_TRUE(panels.back()->connectTo(port));
    }
    // Each panel takes its own destination over and over; the hub is killed
    // once a few of them have been answered.
    int acknowledged = 0;
    std::vector<int> next(panels.size(), 1);
    auto sendTake = [&](size_t i) {
        const int source = (next[i]++ % 16) + 1;
        panels[i]->send(
            QStringLiteral("H%1%2%2%2%2").arg(i + 1, 3, 10, QLatin1Char('0')).arg(source, 3, 10, QLatin1Char('0')));
    };
    for (size_t i = 0; i < panels.size(); ++i)
        sendTake(i);
    while (acknowledged < 8) {
        bool any = false;
        for (size_t i = 0; i < panels.size(); ++i) {
            panels[i]->buffer += panels[i]->socket.readAll();
            if (panels[i]->buffer.contains("\r\n")) {
                const QByteArray line = panels[i]->answer(0);
                acknowledged += line.startsWith('G') ? 1 : 0;
                sendTake(i);
                any = true;
            }
        }
        if (!any) {
            ASSERT_TRUE(
                panels[0]->socket.waitForReadyRead(3000) || panels[1]->socket.bytesAvailable() > 0 || acknowledged > 0);
        }
    }
    ::kill(static_cast<pid_t>(hub.processId()), SIGKILL);
    ASSERT_TRUE(hub.waitForFinished(5000));
    panels.clear();

    QProcess again;
    QByteArray log2;
    ASSERT_TRUE(startHub(again, iniPath, log2)) << log2.constData();
    EXPECT_TRUE(log2.contains("entries were open when the hub last stopped")) << log2.constData();
    again.terminate();
    ASSERT_TRUE(again.waitForFinished(5000));

    QProcess journal;
    journal.start(QStringLiteral(XELHUB_BINARY), { QStringLiteral("journal"), QStringLiteral("--config"), iniPath });
    ASSERT_TRUE(journal.waitForFinished(10000));
    EXPECT_EQ(journal.exitCode(), 0) << journal.readAllStandardError().constData();
    const QList<QByteArray> lines = journal.readAllStandardOutput().trimmed().split('\n');
    int settledOk = 0;
    int interrupted = 0;
    for (const QByteArray &line : lines) {
        const QList<QByteArray> f = line.split(' ');
        ASSERT_GE(f.size(), 6) << line.constData();
        const QByteArray state = f[4];
        EXPECT_NE(state, QByteArray("queued")) << line.constData();
        if (state == "acknowledged" || state == "confirmed")
            ++settledOk;
        if (line.contains("[interrupted]")) {
            ++interrupted;
            EXPECT_TRUE(state == "sent" || state == "acknowledged" || state == "failed") << line.constData();
            EXPECT_TRUE(line.contains("not confirmed") || line.contains("never sent")) << line.constData();
        }
    }
    // Every "G" a panel received is in the journal as acknowledged or confirmed.
    EXPECT_GE(settledOk, acknowledged);
    EXPECT_GE(interrupted, 1);

    // The filters of the journal command.
    QProcess one;
    one.start(QStringLiteral(XELHUB_BINARY),
        { QStringLiteral("journal"), QStringLiteral("--config"), iniPath, QStringLiteral("--destination"),
            QStringLiteral("pgm"), QStringLiteral("--since"), QStringLiteral("1h") });
    ASSERT_TRUE(one.waitForFinished(10000));
    const QList<QByteArray> pgm = one.readAllStandardOutput().trimmed().split('\n');
    EXPECT_FALSE(pgm.isEmpty());
    for (const QByteArray &line : pgm)
        EXPECT_TRUE(line.contains(" PGM <- ")) << line.constData();
}

TEST(HubProgram, badConfiguration_stopsTheStartWithFileLineAndReason)
{
    const QString iniPath = exel::test::tempHome() + QStringLiteral("/bad.ini");
    ASSERT_TRUE(exel::test::writeFile(iniPath, "[hub]\nrouter = x.cfg\n[panel]\nlisten = 127.0.0.1:99999\n"));
    QProcess hub;
    hub.start(QStringLiteral(XELHUB_BINARY), { QStringLiteral("--config"), iniPath });
    ASSERT_TRUE(hub.waitForFinished(10000));
    EXPECT_NE(hub.exitCode(), 0);
    EXPECT_TRUE(hub.readAllStandardError().contains((iniPath + QStringLiteral(":4: listen:")).toUtf8()));
}
