// The hub's Videohub server:
//  - route request -> change pushed, at the requesting client and at a second
//    client, against the same take written straight to a paced emulator
//    (9600,N,8,2), interleaved; the line's sweep rests so a take never waits
//    behind a poll and the difference is the hub's own overhead;
//  - the greeting of a 999 x 999 level to a new client, against a plain TCP
//    server sending the same bytes, interleaved;
//  - 50 Videohub clients on the xelhub program, one route a second: the hub's
//    processor time and memory over VIDEOHUB_BENCH_SECONDS (default 60).
#include "benchkit.h"
#include "hubbench.h"
#include "configreader.h"
#include "emulatorprogram.h"
#include "hubharness.h"
#include "hublinkprotocol.h"
#include "videohubclient.h"
#include "videohubserver.h"
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
using hubtest::VideohubTestClient;

namespace exel::test {
QString g_benchDir;
QString tempHome()
{
    return g_benchDir;
}
} // namespace exel::test

namespace {

// One controller, one level of n inputs and outputs, every port named.
QString writeRouter(const QString &dir, int n, const QString &name)
{
    QStringList lines { QStringLiteral("CTL,R1,0,1"), QStringLiteral("LVL,VIDEO,R1,1,%1,%1").arg(n) };
    for (int i = 1; i <= n; ++i) {
        lines << QStringLiteral("SRC,SOURCE %1,VIDEO,%1").arg(i);
        lines << QStringLiteral("DST,DEST %1,VIDEO,%1").arg(i);
    }
    const QString path = dir + QLatin1Char('/') + name;
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(lines.join(QStringLiteral("\r\n")).toLatin1() + "\r\n");
    return path;
}

// The xelhub program with one Videohub listener on the VIDEO level, in front of
// its own paced emulator; clients in this process then measure real time
// (the hub's thread waits in the engine while a command is on the line).
struct XelhubProcess {
    exel::test::EmulatorProgram emu { QStringLiteral(XELEMU_BINARY) };
    QProcess hub;
    quint16 port = 0;
    bool start(const QString &dir, const QString &tag, const QString &router, const QString &lineKeys)
    {
        QDir().mkpath(dir + QStringLiteral("/dev-") + tag);
        if (!emu.start(router, dir + QStringLiteral("/dev-") + tag,
                { QStringLiteral("--settings"), QStringLiteral("9600,N,8,2") })) {
            std::printf("videohub_bench: the emulator did not start\n");
            return false;
        }
        port = freePort();
        const QString ini = dir + QStringLiteral("/hub-%1.ini").arg(tag);
        QFile f(ini);
        f.open(QIODevice::WriteOnly);
        f.write(QStringLiteral("[hub]\nrouter = %1\ndata = %2/data-%3\n[line]\n%4\n[panel]\nenabled = false\n"
                               "[videohub]\nlevels = VIDEO\nport = %5\n")
                    .arg(router, dir, tag, lineKeys)
                    .arg(port)
                    .toUtf8());
        f.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TOLCOM_DEVICE_DIR"), dir + QStringLiteral("/dev-") + tag);
        hub.setProcessEnvironment(env);
        hub.setStandardErrorFile(dir + QStringLiteral("/hub-%1.log").arg(tag));
        hub.start(QStringLiteral(XELHUB_BINARY), { QStringLiteral("--config"), ini });
        return hub.waitForStarted();
    }
    // Connects a client, waiting for the hub to come up.
    bool connect(VideohubTestClient &c)
    {
        for (int t = 0; t < 100; ++t) {
            if (c.connectTo(port, 200))
                return true;
            c.socket.abort();
            pump(50);
        }
        return false;
    }
    ~XelhubProcess()
    {
        hub.terminate();
        hub.waitForFinished(5000);
    }
};

// 1. Route request -> change at the requester and at a second client.
bool routeLatency(const QString &dir, const QString &router)
{
    QDir().mkpath(dir + QStringLiteral("/rawdev"));
    RawLine direct;
    if (!direct.start(router, dir + QStringLiteral("/rawdev"))) {
        std::printf("videohub_bench: the reference emulator did not start\n");
        return false;
    }
    // The sweep rests after its first round and no lock table is read, so a
    // take finds the line free: what is left beyond the direct take is the hub's.
    XelhubProcess x;
    if (!x.start(dir, QStringLiteral("route"), router, QStringLiteral("sweep_pause_ms = 3600000\nlock_share = 0")))
        return false;
    VideohubTestClient a, b;
    if (!x.connect(a) || !x.connect(b)) {
        std::printf("videohub_bench: clients could not connect to xelhub\n");
        return false;
    }
    pump(3000); // the first sweep: 64 outputs at 9600,N,8,2
    std::vector<double> atA, atB, ref;
    const int outputs = 64;
    for (int i = 0; i < 60; ++i) {
        const int out = i % outputs;
        const int in = (i * 13 + 1) % outputs;
        auto product = [&] {
            QElapsedTimer c;
            c.start();
            a.route(out, in);
            double tA = -1, tB = -1;
            a.pumpUntil(
                [&] {
                    b.pumpUntil([] { return true; }, 0);
                    const auto has = [&](VideohubTestClient &x) {
                        const auto it = x.routing.find(out);
                        return it != x.routing.end() && it->second == in;
                    };
                    if (tA < 0 && has(a))
                        tA = c.nsecsElapsed() / 1e6;
                    if (tB < 0 && has(b))
                        tB = c.nsecsElapsed() / 1e6;
                    return tA >= 0 && tB >= 0;
                },
                3000);
            a.replies.clear();
            atA.push_back(tA);
            atB.push_back(tB);
            pump(150); // the confirming poll of this take
        };
        auto reference = [&] {
            QElapsedTimer c;
            c.start();
            direct.ask(
                QStringLiteral("H%1%2").arg(out + 1, 3, 10, QLatin1Char('0')).arg(in + 1, 3, 10, QLatin1Char('0')));
            ref.push_back(c.nsecsElapsed() / 1e6);
        };
        benchkit::alternate(i, product, reference);
    }
    const WireSettings wire;
    // H and 3 digits, 3 digits for the one level, checksum and CR LF out; G CR LF back.
    const double takeWire = (4 + 3 + 4 + 3) * wire.charSeconds() * 1000;
    const double refMedian = percentile(ref, 0.5);
    std::printf("route -> change: requester median %.2f ms p99 %.2f ms; second client median %.2f ms p99 %.2f ms; "
                "take straight to the emulator median %.2f ms p99 %.2f ms (wire %.1f ms)\n",
        percentile(atA, 0.5), percentile(atA, 0.99), percentile(atB, 0.5), percentile(atB, 0.99), refMedian,
        percentile(ref, 0.99), takeWire);
    std::printf("  ratio to the direct take: requester %.3f, second client %.3f; hub overhead median %.2f ms / "
                "%.2f ms (goal < 2 ms)\n",
        percentile(atA, 0.5) / refMedian, percentile(atB, 0.5) / refMedian, percentile(atA, 0.5) - refMedian,
        percentile(atB, 0.5) - refMedian);
    return true;
}

// 2. The greeting of a 999 x 999 level, all of it routed.
bool bigDump(const QString &dir)
{
    const QString router = writeRouter(dir, 999, QStringLiteral("big.cfg"));
    StatandConfig model;
    if (!LoadConfigFile(model, router).ok()) {
        std::printf("videohub_bench: the 999 x 999 router did not load\n");
        return false;
    }
    RouterState state(model);
    Journal journal;
    HubCore core(state, journal, SystemClock::instance());
    for (int o = 1; o <= 999; ++o)
        state.statusRead(0, o, { static_cast<int16_t>((o * 7) % 999 + 1) }, { false }, 0);
    state.locksRead(0, std::vector<bool>(999, false), 0);
    VideohubServerOptions options;
    options.levels = QStringLiteral("VIDEO");
    options.port = 0;
    VideohubServer server(core, options);
    QString error;
    if (!server.listen(&error)) {
        std::printf("videohub_bench: %s\n", qPrintable(error));
        return false;
    }
    const QByteArray bytes = server.view().dump(server.identity(), Origin {});
    // The reference: the same bytes written by a server that has them ready.
    QTcpServer plain;
    plain.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&plain, &QTcpServer::newConnection, [&] {
        while (QTcpSocket *s = plain.nextPendingConnection()) {
            s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            s->write(bytes);
            QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        }
    });
    std::vector<double> hub, ref;
    for (int i = 0; i < 40; ++i) {
        auto run = [&](quint16 port, std::vector<double> &into) {
            QElapsedTimer c;
            c.start();
            VideohubTestClient client;
            if (client.connectTo(port))
                into.push_back(c.nsecsElapsed() / 1e6);
            client.socket.abort();
            pump(5);
        };
        benchkit::alternate(
            i, [&] { run(server.port(), hub); }, [&] { run(plain.serverPort(), ref); });
    }
    std::printf("greeting of a 999 x 999 level (%lld bytes) to a new client: hub median %.2f ms p99 %.2f ms; the "
                "same bytes from a plain server median %.2f ms; ratio %.2f (goal < 50 ms)\n",
        static_cast<long long>(bytes.size()), percentile(hub, 0.5), percentile(hub, 0.99), percentile(ref, 0.5),
        percentile(hub, 0.5) / std::max(0.001, percentile(ref, 0.5)));
    return true;
}

// 3. 50 clients on the xelhub program.
bool fiftyClients(const QString &dir, const QString &router, int seconds)
{
    XelhubProcess x;
    if (!x.start(dir, QStringLiteral("fifty"), router, QString()))
        return false;
    QProcess &hub = x.hub;
    std::vector<std::unique_ptr<VideohubTestClient>> clients;
    for (int i = 0; i < 50; ++i) {
        clients.push_back(std::make_unique<VideohubTestClient>());
        if (!x.connect(*clients.back())) {
            std::printf("videohub_bench: client %d could not connect to xelhub\n", i);
            return false;
        }
    }
    int n = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        for (auto &c : clients)
            c->pumpUntil([] { return true; }, 0);
        ++n;
        if (n % 10 == 0) // one route a second, from the clients in turn
            clients[static_cast<size_t>(n / 10) % clients.size()]->route(n % 64, (n / 10) % 64);
        if (n % 50 == 0)
            clients[static_cast<size_t>(n / 50) % clients.size()]->send("PING:\n\n"); // as Companion keeps alive
    });
    ticker.start(100);
    pump(3000);
    const ProcStat start = procStat(hub.processId());
    QElapsedTimer wall;
    wall.start();
    std::vector<long> rss { start.rssKiB };
    for (int s = 0; s < seconds; s += 10) {
        pump(std::min(10, seconds - s) * 1000);
        rss.push_back(procStat(hub.processId()).rssKiB);
    }
    const ProcStat end = procStat(hub.processId());
    const double cpu = (end.cpuSeconds - start.cpuSeconds) / (static_cast<double>(wall.elapsed()) / 1000.0);
    QString samples;
    for (const long r : rss)
        samples += QString::number(r) + QLatin1Char(' ');
    std::printf("50 Videohub clients for %d s, a route a second: hub %.2f %% of a core; memory KiB every 10 s: %s"
                "(%+ld KiB)\n",
        seconds, cpu * 100, qPrintable(samples), rss.back() - rss.front());
    ticker.stop();
    return true;
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
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const int seconds = qEnvironmentVariableIsSet("VIDEOHUB_BENCH_SECONDS")
        ? qEnvironmentVariableIntValue("VIDEOHUB_BENCH_SECONDS")
        : 60;
    benchkit::printLoad("at start");
    const QString router = writeRouter(dir, 64, QStringLiteral("r64.cfg"));
    const bool ok = routeLatency(dir, router) && bigDump(dir) && fiftyClients(dir, router, seconds);
    benchkit::printLoad("at the end");
    return ok ? 0 : 1;
}
