// The router hub against the controller emulator program paced at
// 9600,N,8,2, with a router of 64 destinations on 4 levels:
//  - full sweep: time for every destination to be read once, against the
//    wire time of those questions and answers (and against the same
//    questions sent back to back with plain read/write, interleaved);
//  - a change at the controller seen in the hub's state, for a destination a
//    panel watches and for one nobody watches;
//  - a status answer from state through the xelhub program on loopback,
//    against a plain TCP echo of the same bytes, interleaved;
//  - take latency through the hub against the same take written straight to
//    an emulator, interleaved: on the sweeping line (a take waits for the
//    command already on it), and on a free line (the hub's own overhead);
//  - the hub's processor time while it sweeps with no client asking;
//  - 50 panels polling at their own pace: the hub's processor time and memory.
// HUB_BENCH_SECONDS sets how long the 50 panels run (default 60);
// HUB_BENCH_XELHUB another build's xelhub for the last four (to compare two).
#include "hubbench.h"
#include "emulatorprogram.h"
#include "hubharness.h"
#include "hublinkprotocol.h"
#include "scriptedpanel.h"
#include "wirepacing.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

using namespace exel;
using namespace exel::hub;
using namespace exel::hubbench;

namespace exel::test {
// The folder the test harness puts its files in: this run's temporary folder.
QString g_benchDir;
QString tempHome()
{
    return g_benchDir;
}
} // namespace exel::test

namespace {

constexpr int kOutputs = 64;
constexpr int kLevels = 4;
const char *const kLevelNames[kLevels] = { "VIDEO", "AUD-A", "AUD-B", "TC" };

QString writeRouter(const QString &dir)
{
    QStringList lines { QStringLiteral("CTL,R1,0,%1").arg(kLevels) };
    for (int l = 0; l < kLevels; ++l)
        lines << QStringLiteral("LVL,%1,R1,%2,%3,%3").arg(QLatin1String(kLevelNames[l])).arg(l + 1).arg(kOutputs);
    for (int i = 1; i <= kOutputs; ++i) {
        for (int l = 0; l < kLevels; ++l) {
            lines << QStringLiteral("SRC,S%1,%2,%1").arg(i).arg(QLatin1String(kLevelNames[l]));
            lines << QStringLiteral("DST,D%1,%2,%1").arg(i).arg(QLatin1String(kLevelNames[l]));
        }
    }
    const QString path = dir + QStringLiteral("/bench64.cfg");
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(lines.join(QStringLiteral("\r\n")).toLatin1() + "\r\n");
    return path;
}

double loadAverage()
{
    double l = 0;
    FILE *f = std::fopen("/proc/loadavg", "r");
    if (f) {
        if (std::fscanf(f, "%lf", &l) != 1)
            l = 0;
        std::fclose(f);
    }
    return l;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir tmp;
    const QString dir = tmp.path();
    exel::test::g_benchDir = dir;
    qputenv("XDG_CONFIG_HOME", (dir + QStringLiteral("/config")).toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", dir.toLocal8Bit());
    qputenv("TOLCOM_LOG_DIR", dir.toLocal8Bit());
    QDir().mkpath(dir + QStringLiteral("/config"));
    const QString router = writeRouter(dir);
    const int benchSeconds
        = qEnvironmentVariableIsSet("HUB_BENCH_SECONDS") ? qEnvironmentVariableIntValue("HUB_BENCH_SECONDS") : 60;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::printf("hub_bench: %d destinations x %d levels at 9600,N,8,2; load average %.2f at start\n", kOutputs, kLevels,
        loadAverage());

    const WireSettings wire;
    // Y + 3 digits + checksum + CR LF; 3 digits + 2 status + 4 x 3 digits + checksum + CR LF.
    const int questionChars = 4 + 4;
    const int answerChars = 3 + 2 + 3 * kLevels + 4;
    const double wireSweep = kOutputs * (questionChars + answerChars) * wire.charSeconds();

    // ---- 1. the sweep, in this process, interleaved with plain read/write sweeps
    {
        QDir().mkpath(dir + QStringLiteral("/rawdev"));
        RawLine raw;
        if (!raw.start(router, dir + QStringLiteral("/rawdev"))) {
            std::printf("hub_bench: the reference emulator did not start\n");
            return 1;
        }
        exel::hub::hubtest::HubHarness h(QStringLiteral("lock_share = 0\n"), router);
        QString error;
        if (!h.startEmulator() || !h.startHub(&error)) {
            std::printf("hub_bench: the hub did not start: %s\n", qPrintable(error));
            return 1;
        }
        HubLine &line = h.line();
        QElapsedTimer t;
        std::vector<double> hubSweeps;
        std::vector<double> rawSweeps;
        // The first sweep reads a router nobody has read: let it pass.
        while (line.sweepsDone() < 1)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        for (int round = 0; round < 3; ++round) {
            line.stop();
            t.start();
            for (int o = 1; o <= kOutputs; ++o)
                raw.ask(QStringLiteral("Y%1").arg(o, 3, 10, QLatin1Char('0')));
            rawSweeps.push_back(t.elapsed() / 1000.0);
            const int64_t done = line.sweepsDone();
            line.start();
            // Measured from the start of the next sweep to its end.
            while (line.sweepsDone() < done + 1)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            t.start();
            while (line.sweepsDone() < done + 2)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            hubSweeps.push_back(t.elapsed() / 1000.0);
        }
        const double hubSweep = percentile(hubSweeps, 0.5);
        const double rawSweep = percentile(rawSweeps, 0.5);
        std::printf("sweep: hub %.3f s, wire time of its questions and answers %.3f s: ratio %.3f (goal <= 1.15); "
                    "plain read/write back to back %.3f s (hub / plain %.3f)\n",
            hubSweep, wireSweep, hubSweep / wireSweep, rawSweep, hubSweep / rawSweep);

        // ---- 2. change at the controller -> in the hub's state
        hubtest::ScriptedPanel watcher;
        watcher.connectTo(h.port());
        std::vector<double> watched;
        std::vector<double> unwatched;
        QTimer panelTick;
        QObject::connect(&panelTick, &QTimer::timeout, [&] { watcher.send(QStringLiteral("Y010")); });
        panelTick.start(500); // a panel asks about its visible rows every tick
        pump(1000);
        // The sweep is longer while a panel watches (its rows take their
        // share of the line): measured over the same time as the changes.
        const int64_t sweepsBefore = line.sweepsDone();
        QElapsedTimer phase;
        phase.start();
        for (int i = 0; i < 12; ++i) {
            for (const bool watch : { true, false }) {
                const int output = watch ? 10 : 40 + i;
                const int input = (i % 60) + 2;
                QElapsedTimer c;
                h.emu(QStringLiteral("route 0 1 %1 %2").arg(output).arg(input).toLatin1());
                c.start();
                for (;;) {
                    const OutputStatus *s = h.hub.state().status(0, output);
                    if (s && !s->input.empty() && s->input[0] == input)
                        break;
                    if (c.elapsed() > 20000)
                        break;
                    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
                    watcher.buffer += watcher.socket.readAll();
                    watcher.buffer.clear();
                }
                (watch ? watched : unwatched).push_back(c.elapsed() / 1000.0);
            }
        }
        panelTick.stop();
        const double watchingSweep
            = phase.elapsed() / 1000.0 / static_cast<double>(std::max<int64_t>(1, line.sweepsDone() - sweepsBefore));
        std::printf("change -> hub state: watched median %.3f s p99 %.3f s (goal < 1 s); unwatched median %.3f s "
                    "p99 %.3f s = %.2f of a sweep while a panel watches (%.3f s; goal <= 1), %.2f of a sweep with "
                    "no one watching\n",
            percentile(watched, 0.5), percentile(watched, 0.99), percentile(unwatched, 0.5),
            percentile(unwatched, 0.99), percentile(unwatched, 0.99) / watchingSweep, watchingSweep,
            percentile(unwatched, 0.99) / hubSweep);
    }

    // ---- 3-5. the xelhub program
    QTcpServer portFinder;
    portFinder.listen(QHostAddress::LocalHost, 0);
    const quint16 hubPort = portFinder.serverPort();
    portFinder.close();
    QDir().mkpath(dir + QStringLiteral("/dev"));
    QDir().mkpath(dir + QStringLiteral("/rawdev2"));
    exel::test::EmulatorProgram emu { QStringLiteral(XELEMU_BINARY) };
    RawLine direct;
    if (!emu.start(router, dir + QStringLiteral("/dev"), { QStringLiteral("--settings"), QStringLiteral("9600,N,8,2") })
        || !direct.start(router, dir + QStringLiteral("/rawdev2"))) {
        std::printf("hub_bench: emulators did not start\n");
        return 1;
    }
    const QString ini = dir + QStringLiteral("/hub.ini");
    {
        QFile f(ini);
        f.open(QIODevice::WriteOnly);
        f.write(QStringLiteral("[hub]\nrouter = %1\ndata = %2/data\n[panel]\nlisten = 127.0.0.1:%3\n"
                               "request_rate = 100000\nrequest_burst = 100000\n")
                    .arg(router, dir)
                    .arg(hubPort)
                    .toUtf8());
    }
    QProcess hub;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TOLCOM_DEVICE_DIR"), dir + QStringLiteral("/dev"));
    hub.setProcessEnvironment(env);
    hub.setStandardErrorFile(dir + QStringLiteral("/hub.log"));
    // HUB_BENCH_XELHUB: another build's xelhub to measure (same run, same machine).
    const QString hubBinary = qEnvironmentVariableIsSet("HUB_BENCH_XELHUB") ? qEnvironmentVariable("HUB_BENCH_XELHUB")
                                                                            : QStringLiteral(XELHUB_BINARY);
    hub.start(hubBinary, { QStringLiteral("--config"), ini });
    hub.waitForStarted();
    hubtest::ScriptedPanel client;
    for (int i = 0; i < 100 && !client.connectTo(hubPort, 100); ++i)
        pump(50);
    if (client.socket.state() != QAbstractSocket::ConnectedState) {
        std::printf("hub_bench: xelhub did not start (see its log)\n");
        return 1;
    }
    client.ask(QStringLiteral("Y001"));

    // 2b. the hub sweeping with no client asking: its processor time.
    {
        pump(1000);
        const ProcStat before = procStat(hub.processId());
        QElapsedTimer idle;
        idle.start();
        pump(10000);
        const ProcStat after = procStat(hub.processId());
        std::printf("sweeping, no client asking, for 10 s: hub %.2f %% of a core\n",
            (after.cpuSeconds - before.cpuSeconds) / (idle.elapsed() / 1000.0) * 100);
    }

    // 3. status from state vs a TCP echo of the same bytes, interleaved.
    QTcpServer echo;
    echo.listen(QHostAddress::LocalHost, 0);
    QTcpSocket *echoPeer = nullptr;
    QObject::connect(&echo, &QTcpServer::newConnection, [&] {
        echoPeer = echo.nextPendingConnection();
        echoPeer->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        QObject::connect(echoPeer, &QTcpSocket::readyRead, [&] {
            const QByteArray in = echoPeer->readAll();
            echoPeer->write(QByteArray(21, '0') + "\r\n");
            (void)in;
        });
    });
    hubtest::ScriptedPanel echoClient;
    echoClient.connectTo(echo.serverPort());
    // And an echo in a process of its own, as the hub is: socat echoes each
    // request back (a request line ends as an answer line does).
    QTcpServer socatPortFinder;
    socatPortFinder.listen(QHostAddress::LocalHost, 0);
    const quint16 socatPort = socatPortFinder.serverPort();
    socatPortFinder.close();
    QProcess socat;
    socat.start(QStringLiteral("socat"),
        { QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr,nodelay").arg(socatPort), QStringLiteral("PIPE") });
    hubtest::ScriptedPanel socatClient;
    bool socatUp = socat.waitForStarted(3000);
    for (int i = 0; socatUp && i < 50 && !socatClient.connectTo(socatPort, 100); ++i)
        pump(50);
    socatUp = socatUp && socatClient.socket.state() == QAbstractSocket::ConnectedState;
    if (socatUp)
        socatClient.socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    std::vector<double> socatY;
    client.socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    echoClient.socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    std::vector<double> hubY;
    std::vector<double> echoY;
    for (int i = 0; i < 400; ++i) {
        QElapsedTimer c;
        c.start();
        echoClient.send(QStringLiteral("Y001"));
        echoClient.answer(2000);
        echoY.push_back(c.nsecsElapsed() / 1000.0);
        // The hub runs in its own process; this client's wait is the round trip.
        c.start();
        client.send(QStringLiteral("Y001"));
        client.answer(2000);
        hubY.push_back(c.nsecsElapsed() / 1000.0);
        if (socatUp) {
            c.start();
            socatClient.send(QStringLiteral("Y001"));
            socatClient.answer(2000);
            socatY.push_back(c.nsecsElapsed() / 1000.0);
        }
    }
    std::printf("status answer from state (loopback round trip): hub median %.0f us p99 %.0f us; TCP echo "
                "median %.0f us p99 %.0f us; p99 ratio %.2f (goal: hub p99 < 200 us)\n",
        percentile(hubY, 0.5), percentile(hubY, 0.99), percentile(echoY, 0.5), percentile(echoY, 0.99),
        percentile(hubY, 0.99) / std::max(1.0, percentile(echoY, 0.99)));
    if (socatUp) {
        std::printf("  against an echo in a process of its own (socat): median %.0f us p99 %.0f us; hub p99 ratio "
                    "%.2f\n",
            percentile(socatY, 0.5), percentile(socatY, 0.99),
            percentile(hubY, 0.99) / std::max(1.0, percentile(socatY, 0.99)));
    }
    socat.terminate();
    socat.waitForFinished(2000);

    // 4. take latency: through the hub vs straight to an emulator, interleaved.
    std::vector<double> hubTake;
    std::vector<double> directTake;
    for (int i = 0; i < 20; ++i) {
        const QString take = QStringLiteral("H%1%2%2%2%2")
                                 .arg(i % kOutputs + 1, 3, 10, QLatin1Char('0'))
                                 .arg(i % 30 + 1, 3, 10, QLatin1Char('0'));
        QElapsedTimer c;
        c.start();
        direct.ask(take);
        directTake.push_back(c.nsecsElapsed() / 1e6);
        pump(100); // the hub's line finishes what it is doing
        c.start();
        client.send(take);
        client.answer(3000);
        hubTake.push_back(c.nsecsElapsed() / 1e6);
        pump(100);
    }
    const double takeWire = (4 + 3 * kLevels + 4 + 3) * wire.charSeconds() * 1000;
    std::printf("take: hub median %.1f ms p99 %.1f ms; direct median %.1f ms p99 %.1f ms; wire %.1f ms; hub overhead "
                "median %.1f ms (goal < 1 ms beyond the wire; a take waits for the question on the line when it "
                "arrives, up to one status exchange of %.1f ms)\n",
        percentile(hubTake, 0.5), percentile(hubTake, 0.99), percentile(directTake, 0.5), percentile(directTake, 0.99),
        takeWire, percentile(hubTake, 0.5) - percentile(directTake, 0.5),
        (questionChars + answerChars) * wire.charSeconds() * 1000);

    // 5. 50 panels polling at their own pace: six rows each 500 ms, the lock table every third tick.
    std::vector<std::unique_ptr<hubtest::ScriptedPanel>> panels;
    for (int i = 0; i < 50; ++i) {
        panels.push_back(std::make_unique<hubtest::ScriptedPanel>());
        panels.back()->connectTo(hubPort);
    }
    int tick = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        ++tick;
        for (size_t i = 0; i < panels.size(); ++i) {
            auto &p = *panels[i];
            p.buffer.clear();
            p.socket.readAll();
            if ((tick + static_cast<int>(i)) % 10 != 0)
                continue; // each panel ticks every 500 ms, spread over the 50 ms ticker
            QByteArray burst;
            for (int row = 0; row < 6; ++row)
                burst += HublinkFrame(
                    QStringLiteral("Y%1").arg((static_cast<int>(i) * 6 + row) % kOutputs + 1, 3, 10, QLatin1Char('0')))
                             .toLatin1();
            if (tick % 30 == 0)
                burst += HublinkFrame(u"WS").toLatin1();
            p.sendRaw(burst);
        }
    });
    ticker.start(50);
    pump(3000);
    const ProcStat start = procStat(hub.processId());
    QElapsedTimer wall;
    wall.start();
    std::vector<long> rss;
    for (int s = 0; s < benchSeconds; s += 10) {
        pump(std::min(10, benchSeconds - s) * 1000);
        rss.push_back(procStat(hub.processId()).rssKiB);
    }
    const ProcStat end = procStat(hub.processId());
    const double cpu = (end.cpuSeconds - start.cpuSeconds) / (wall.elapsed() / 1000.0);
    std::printf("50 panels for %d s: hub %.2f %% of a core (goal < 5 %%); memory %ld KiB at the start of the run, "
                "%ld KiB at its end (%+ld KiB)\n",
        benchSeconds, cpu * 100, rss.front(), rss.back(), rss.back() - rss.front());
    ticker.stop();
    panels.clear();
    hub.terminate();
    hub.waitForFinished(5000);

    // 6. take latency on a free line: the same program again with its sweep
    // resting after the first one and no lock tables polled, so that a take
    // never waits for a command already on the line; what is left beyond the
    // direct take is the hub's own overhead.
    {
        QFile f(ini);
        f.open(QIODevice::Append);
        f.write("[line]\nsweep_pause_ms = 600000\nlock_share = 0\n");
    }
    QProcess restHub;
    restHub.setProcessEnvironment(env);
    restHub.setStandardErrorFile(dir + QStringLiteral("/hub-resting.log"));
    restHub.start(hubBinary, { QStringLiteral("--config"), ini });
    restHub.waitForStarted();
    hubtest::ScriptedPanel restClient;
    for (int i = 0; i < 100 && !restClient.connectTo(hubPort, 100); ++i)
        pump(50);
    restClient.socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    pump(4000); // the first sweep (2.1 s) and its end
    std::vector<double> freeTake;
    std::vector<double> freeDirect;
    for (int i = 0; i < 20; ++i) {
        const QString take = QStringLiteral("H%1%2%2%2%2")
                                 .arg(i % kOutputs + 1, 3, 10, QLatin1Char('0'))
                                 .arg((i + 7) % 30 + 1, 3, 10, QLatin1Char('0'));
        QElapsedTimer c;
        c.start();
        direct.ask(take);
        freeDirect.push_back(c.nsecsElapsed() / 1e6);
        pump(100); // the take's confirming poll ends
        c.start();
        restClient.send(take);
        const QByteArray answer = restClient.answer(3000);
        if (answer.startsWith('G'))
            freeTake.push_back(c.nsecsElapsed() / 1e6);
        pump(100);
    }
    std::printf("take on a free line: hub median %.2f ms p99 %.2f ms; direct median %.2f ms p99 %.2f ms; hub "
                "overhead median %.2f ms p99 %.2f ms (goal < 1 ms); %zu of 20 acknowledged\n",
        percentile(freeTake, 0.5), percentile(freeTake, 0.99), percentile(freeDirect, 0.5),
        percentile(freeDirect, 0.99), percentile(freeTake, 0.5) - percentile(freeDirect, 0.5),
        percentile(freeTake, 0.99) - percentile(freeDirect, 0.99), freeTake.size());
    restHub.terminate();
    restHub.waitForFinished(5000);
    std::printf("hub_bench: load average %.2f at the end\n", loadAverage());
    return 0;
}
