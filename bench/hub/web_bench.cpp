// Benchmark of the web panel in Debian's headless chromium, against the hub
// with the controller emulator program paced at 9600,N,8,2 behind it:
//  - a route changed at the controller, to painted in the page (the page's
//    own animation-frame time after it applied the update), against the
//    moment the hub learnt it (its state's signal), change by change; and
//    the same minus the wire time of the status poll that carried it;
//  - page load to interactive (first full state painted) for a router of
//    999 x 999 on 4 levels, against fetching the same state and names over
//    HTTP from C++, interleaved;
//  - 50 open pages (WebSocket clients in this process) against none, in
//    alternating windows, and with WEB_BENCH_SOAK_SECONDS the same 50 kept
//    open that long, CPU and memory every minute.
#include "hubbench.h"
#include "cdpbrowser.h"
#include "webharness.h"
#include "wirepacing.h"

#include "benchkit.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QWebSocket>

#include <ctime>

#include <cstdio>

using namespace exel;
using namespace exel::hub;
using namespace exel::hubbench;

namespace exel::test {
QString g_benchDir;
QString tempHome()
{
    return g_benchDir;
}
} // namespace exel::test

namespace {

QString bigRouter(const QString &dir, int n, int levels)
{
    QStringList lines { QStringLiteral("CTL,BIG,0,%1").arg(levels) };
    for (int l = 1; l <= levels; ++l)
        lines << QStringLiteral("LVL,L%1,BIG,%1,%2,%2").arg(l).arg(n);
    for (int i = 1; i <= n; ++i) {
        for (int l = 1; l <= levels; ++l) {
            lines << QStringLiteral("SRC,SRC%1,L%2,%1").arg(i).arg(l);
            lines << QStringLiteral("DST,DST%1,L%2,%1").arg(i).arg(l);
        }
    }
    for (int i = 1; i <= n; ++i)
        lines << QStringLiteral("SNS,ALL,SRC%1").arg(i) << QStringLiteral("SND,ALL,DST%1").arg(i);
    const QString path = dir + QStringLiteral("/big.cfg");
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(lines.join(QStringLiteral("\r\n")).toLatin1() + "\r\n");
    return path;
}

bool signIn(webtest::CdpBrowser &b, const QString &page)
{
    if (!b.waitFor(page, QStringLiteral("location.pathname === '/login.html' && document.readyState === 'complete'"), 20000))
        return false;
    b.eval(page, QStringLiteral("document.getElementById('name').value = 'alice'; document.getElementById('password').value = 'alice-pw';"
                                "document.getElementById('go').click(); true"));
    return b.waitFor(page, QStringLiteral("!!(window.__xel && window.__xel.ready)"), 30000);
}

QByteArray httpGet(quint16 port, const QByteArray &path, const QByteArray &cookie)
{
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    s.waitForConnected(3000);
    s.write("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nCookie: " + cookie + "\r\n\r\n");
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 10000 && s.state() == QAbstractSocket::ConnectedState) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        got += s.readAll();
    }
    return got + s.readAll();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir tmp;
    exel::test::g_benchDir = tmp.path();
    qputenv("XDG_CONFIG_HOME", (tmp.path() + QStringLiteral("/config")).toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", tmp.path().toLocal8Bit());
    qputenv("TOLCOM_LOG_DIR", tmp.path().toLocal8Bit());
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const int changes = qEnvironmentVariableIsSet("WEB_BENCH_CHANGES") ? qEnvironmentVariableIntValue("WEB_BENCH_CHANGES") : 40;
    benchkit::printLoad("at start");

    // ---- change at the controller -> painted in the page
    {
        webtest::WebHarness h;
        if (!h.startEmulator()) {
            std::printf("web_bench: the emulator does not start\n");
            return 1;
        }
        QString error;
        webtest::CdpBrowser browser;
        if (!h.startHub(&error) || !browser.start(&error)) {
            std::printf("web_bench: %s\n", qPrintable(error));
            return 1;
        }
        const QString page = browser.newPage(h.url());
        if (!signIn(browser, page)) {
            std::printf("web_bench: sign-in failed\n");
            return 1;
        }
        // The page looks at MON2 (output 4): the hub keeps it fresh.
        browser.eval(page, QStringLiteral("document.querySelector('#destKeys [data-dest=\"3\"]').click(); true"));
        double learnt = 0;
        QObject::connect(&h.hub.state(), &RouterState::crosspointChanged,
            [&](int16_t, int output, int level, int, bool, int) {
                if (output == 4 && level == 1)
                    learnt = static_cast<double>(QDateTime::currentMSecsSinceEpoch());
            });
        std::vector<double> webPart, total;
        for (int i = 0; i < changes; ++i) {
            learnt = 0;
            const int before = browser.eval(page, QStringLiteral("window.__xel.painted.length")).toInt();
            const double t0 = static_cast<double>(QDateTime::currentMSecsSinceEpoch());
            h.emu(QStringLiteral("route 0 1 4 %1").arg(i % 2 ? 5 : 6).toLatin1());
            QElapsedTimer t;
            t.start();
            double painted = 0;
            while (t.elapsed() < 5000 && painted == 0) {
                pump(5);
                if (learnt == 0)
                    continue;
                const QJsonValue v = browser.eval(page, QStringLiteral(
                    "(() => { const p = window.__xel.painted.slice(%1).find((x) => x.d.includes(3)); return p ? p.at : 0; })()")
                                                            .arg(before));
                painted = v.toDouble();
            }
            if (painted == 0 || learnt == 0) {
                std::printf("web_bench: change %d not painted\n", i);
                continue;
            }
            webPart.push_back(painted - learnt);
            total.push_back(painted - t0);
            pump(50 + (i * 37) % 200); // changes at no fixed phase of the poll
        }
        const WireSettings wire;
        const double pollWire = (8 + 3 + 2 + 3 * 4 + 4) * wire.charSeconds() * 1000; // a Y and its answer
        std::printf("change -> painted (%zu changes): after the hub learnt it median %.1f ms p99 %.1f ms (goal < 100 ms); "
                    "from the controller median %.1f ms p99 %.1f ms, minus the poll's wire time %.1f ms: median %.1f ms "
                    "p99 %.1f ms; painted/learnt ratio %.3f\n",
            webPart.size(), percentile(webPart, 0.5), percentile(webPart, 0.99), percentile(total, 0.5),
            percentile(total, 0.99), pollWire, percentile(total, 0.5) - pollWire, percentile(total, 0.99) - pollWire,
            percentile(total, 0.5) / std::max(1.0, percentile(total, 0.5) - percentile(webPart, 0.5)));
        browser.stop();
    }
    benchkit::printLoad("after change -> painted");

    // ---- 50 open pages: the process's CPU and memory with them and without
    // them, in alternating windows, while the hub sweeps and a route changes
    // every second (the pages' own WebSocket clients run in this process too,
    // so the figure is an upper bound for the hub).
    {
        webtest::WebHarness h;
        QString error;
        if (!h.startEmulator() || !h.startHub(&error)) {
            std::printf("web_bench: %s\n", qPrintable(error));
            return 1;
        }
        QByteArray reply;
        {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, h.webPort);
            s.waitForConnected(3000);
            const QByteArray body = R"({"name":"alice","password":"alice-pw"})";
            s.write("POST /api/login HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nConnection: close\r\n"
                    "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
            QElapsedTimer t;
            t.start();
            while (t.elapsed() < 5000 && s.state() == QAbstractSocket::ConnectedState) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
                reply += s.readAll();
            }
            reply += s.readAll();
        }
        const qsizetype at = reply.indexOf("xelhub_session=");
        const QByteArray cookie = reply.mid(at, reply.indexOf(';', at) - at);
        const int windowMs = qEnvironmentVariableIsSet("WEB_BENCH_WINDOW_MS") ? qEnvironmentVariableIntValue("WEB_BENCH_WINDOW_MS") : 10000;
        auto cpuMs = [] {
            timespec ts {};
            clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
            return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
        };
        auto rssKiB = [] {
            QFile f(QStringLiteral("/proc/self/status"));
            f.open(QIODevice::ReadOnly);
            for (const QByteArray &l : f.readAll().split('\n'))
                if (l.startsWith("VmRSS:"))
                    return l.mid(6).trimmed().split(' ').front().toLong();
            return 0L;
        };
        int change = 0;
        auto window = [&](bool pages) {
            std::vector<std::unique_ptr<QWebSocket>> open;
            int64_t messages = 0;
            if (pages) {
                for (int i = 0; i < 50; ++i) {
                    auto ws = std::make_unique<QWebSocket>();
                    QObject::connect(ws.get(), &QWebSocket::textMessageReceived, [&messages](const QString &) { ++messages; });
                    QNetworkRequest req(QUrl(QStringLiteral("ws://127.0.0.1:%1/ws").arg(h.webPort)));
                    req.setRawHeader("Cookie", cookie);
                    ws->open(req);
                    open.push_back(std::move(ws));
                }
                pump(1000);
            }
            const double c0 = cpuMs();
            QElapsedTimer t;
            t.start();
            while (t.elapsed() < windowMs) {
                h.emu(QStringLiteral("route 0 1 %1 %2").arg(change % 16 + 1).arg(change % 7 + 1).toLatin1());
                ++change;
                pump(1000);
            }
            const double share = (cpuMs() - c0) / static_cast<double>(t.elapsed()) * 100.0;
            std::printf("  %s: %.2f %% of a core, RSS %ld KiB%s\n", pages ? "50 pages" : "no pages", share, rssKiB(),
                pages ? qPrintable(QStringLiteral(", %1 messages, %2 pages open").arg(messages).arg(h.hub.webServer()->pageCount())) : "");
            return share;
        };
        std::printf("50 open pages, windows of %d ms:\n", windowMs);
        std::vector<double> with, without;
        for (int i = 0; i < 6; ++i)
            benchkit::alternate(i, [&] { with.push_back(window(true)); }, [&] { without.push_back(window(false)); });
        std::printf("50 pages: median %.2f %% of a core, without pages %.2f %%; ratio %.2f\n", benchkit::median(with),
            benchkit::median(without), benchkit::median(with) / std::max(0.01, benchkit::median(without)));

        // WEB_BENCH_SOAK_SECONDS: the same 50 pages kept open that long, a
        // route changing every second; CPU and memory every minute, to show
        // both stay flat.
        const int soakSeconds = qEnvironmentVariableIntValue("WEB_BENCH_SOAK_SECONDS");
        if (soakSeconds > 0) {
            std::vector<std::unique_ptr<QWebSocket>> open;
            int64_t messages = 0;
            for (int i = 0; i < 50; ++i) {
                auto ws = std::make_unique<QWebSocket>();
                QObject::connect(
                    ws.get(), &QWebSocket::textMessageReceived, [&messages](const QString &) { ++messages; });
                QNetworkRequest req(QUrl(QStringLiteral("ws://127.0.0.1:%1/ws").arg(h.webPort)));
                req.setRawHeader("Cookie", cookie);
                ws->open(req);
                open.push_back(std::move(ws));
            }
            pump(1000);
            std::printf("50 pages kept open for %d s (%d open at the hub):\n", soakSeconds, h.hub.webServer()->pageCount());
            QElapsedTimer t;
            t.start();
            double c0 = cpuMs();
            int64_t minuteStart = 0;
            while (t.elapsed() < int64_t(soakSeconds) * 1000) {
                h.emu(QStringLiteral("route 0 1 %1 %2").arg(change % 16 + 1).arg(change % 7 + 1).toLatin1());
                ++change;
                pump(1000);
                if (t.elapsed() - minuteStart >= 60000 || t.elapsed() >= int64_t(soakSeconds) * 1000) {
                    const double c1 = cpuMs();
                    std::printf("  at %3lld s: %.2f %% of a core over the last minute, RSS %ld KiB, %lld messages\n",
                        static_cast<long long>(t.elapsed() / 1000), (c1 - c0) / static_cast<double>(t.elapsed() - minuteStart) * 100.0,
                        rssKiB(), static_cast<long long>(messages));
                    std::fflush(stdout);
                    c0 = c1;
                    minuteStart = t.elapsed();
                }
            }
            std::printf("  pages still open at the hub: %d\n", h.hub.webServer()->pageCount());
        }
    }
    benchkit::printLoad("after 50 pages");

    // ---- page load to interactive, 999 x 999 x 4
    {
        webtest::WebHarness h(QString(), bigRouter(tmp.path(), 999, 4));
        QString error;
        if (!h.startEmulator() || !h.startHub(&error)) {
            std::printf("web_bench: %s\n", qPrintable(error));
            return 1;
        }
        webtest::CdpBrowser browser;
        if (!browser.start(&error)) {
            std::printf("web_bench: %s\n", qPrintable(error));
            return 1;
        }
        const QString page = browser.newPage(h.url());
        if (!signIn(browser, page)) {
            std::printf("web_bench: sign-in failed\n");
            return 1;
        }
        const QByteArray cookie = browser.call(QStringLiteral("Network.getCookies"), {}, page)
                                      .value(QStringLiteral("cookies")).toArray().at(0).toObject().value(QStringLiteral("value")).toString().toLatin1();
        const QByteArray cookieHeader = "xelhub_session=" + cookie;
        std::vector<double> load, fetch;
        for (int i = 0; i < 10; ++i) {
            auto product = [&] {
                browser.navigate(page, h.url(QStringLiteral("/index.html")));
                browser.waitFor(page, QStringLiteral("!!(window.__xel && window.__xel.readyAt > 0)"), 30000);
                load.push_back(browser.eval(page, QStringLiteral("window.__xel.readyAt")).toDouble());
            };
            auto floor = [&] {
                QElapsedTimer t;
                t.start();
                const QByteArray a = httpGet(h.webPort, "/api/config", cookieHeader);
                const QByteArray b = httpGet(h.webPort, "/api/state", cookieHeader);
                fetch.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
                if (i == 0)
                    std::printf("page load: config %lld bytes, state %lld bytes\n", static_cast<long long>(a.size()),
                        static_cast<long long>(b.size()));
            };
            benchkit::alternate(i, product, floor);
        }
        std::printf("page load to interactive, 999 x 999 x 4: median %.0f ms p99 %.0f ms (goal < 1000 ms); the same "
                    "names and state over HTTP %.0f ms; ratio %.2f\n",
            percentile(load, 0.5), percentile(load, 0.99), percentile(fetch, 0.5),
            percentile(load, 0.5) / std::max(0.001, percentile(fetch, 0.5)));
        browser.stop();
    }
    benchkit::printLoad("at the end");
    return 0;
}
