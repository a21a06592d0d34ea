// The panel program's own figures, measured on the real main window and the
// real link (engine, comm control, link window) against the controller
// emulator program on a pseudo-terminal:
//  - start-up to a shown main window with a 34,000-line configuration, and
//    the memory in use afterwards (reference: reading the same file alone);
//  - with the emulator paced at 9600,N,8,2 and a name set of 64 destinations
//    on 4 levels: the time until every destination was asked for once,
//    against what the polling rules allow at that line rate, and the panel's
//    CPU while polling;
//  - take latency, from a source key press to the take command leaving the
//    port, with polling running (median, p99);
//  - SendHublinkCmd's round trip against plain read/write on the same
//    emulator (ratio), and the CPU used during a 2-second unanswered wait.
#include "configreader.h"
#include "emulatorprogram.h"
#include "fakehublink.h"
#include "frmhublink.h"
#include "hublinkprotocol.h"
#include "panelhost.h"
#include "sysgen.h"
#include "wirepacing.h"
#include "xelform.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <set>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

using namespace exel;

using exel::test::EmulatorProgram;

namespace {

double cpuSeconds()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
        + static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long rssKiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

void writeLines(const QString &path, const QStringList &lines)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write((lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toLatin1());
}

// The xelemu program on a pty, published as COM1 in a device folder.
struct Home {
    QTemporaryDir dir;
    SettingsStore settings { dir.filePath(QStringLiteral("cfg")) };
    ScriptedDialogs dialogs;
    Home() { QDir().mkpath(dir.filePath(QStringLiteral("cfg"))); }
    PanelEnvironment env()
    {
        PanelEnvironment e;
        e.settings = &settings;
        e.dialogs = &dialogs;
        e.programFolder = dir.path();
        e.showSplash = false;
        return e;
    }
};

// ---------------------------------------------------------------- start-up

void startUp()
{
    Home home;
    const QString cfg = home.dir.filePath(QStringLiteral("big.cfg"));
    const QStringList lines = generateSystemConfig(1000, 1000, 16, 2, 100);
    writeLines(cfg, lines);
    home.settings.SaveSetting(kAppName, kVarsSection, QStringLiteral("ConfigFile"), cfg);

    std::vector<double> readMs;
    for (int i = 0; i < 5; ++i) {
        StatandConfig model;
        QElapsedTimer t;
        t.start();
        LoadConfigFile(model, cfg);
        readMs.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }

    const long rssBefore = rssKiB();
    std::vector<double> startMs;
    long rssAfter = 0;
    for (int i = 0; i < 5; ++i) {
        testing::FakeHublink link;
        PanelEnvironment env = home.env();
        env.linkFactory = [&link](QWidget *) -> std::unique_ptr<LinkHost> {
            struct Host : LinkHost {
                Hublink &l;
                explicit Host(Hublink &h)
                    : l(h)
                {
                }
                Hublink &link() override { return l; }
                bool simulator() const override { return false; }
            };
            return std::make_unique<Host>(link);
        };
        QElapsedTimer t;
        t.start();
        XelForm form(env);
        form.Form_Load();
        form.show();
        while (!form.windowHandle() || !form.windowHandle()->isExposed())
            QApplication::processEvents();
        QApplication::processEvents();
        startMs.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        if (i == 0)
            rssAfter = rssKiB();
    }
    printf("start-up to a shown main window, %lld-line configuration (1000 sources, 1000 destinations, 16 levels):\n"
           "  median %.0f ms (min %.0f), reading the file alone median %.0f ms: ratio %.2f\n"
           "  memory in use: %.1f MiB before, %.1f MiB with the window up (+%.1f MiB)\n",
        static_cast<long long>(lines.size()), percentile(startMs, 0.5), percentile(startMs, 0.0),
        percentile(readMs, 0.5), percentile(startMs, 0.5) / percentile(readMs, 0.5), rssBefore / 1024.0,
        rssAfter / 1024.0, (rssAfter - rssBefore) / 1024.0);
}

// ---------------------------------------------------------------- polling and takes at 9600 baud

// Output number (1-based) of a framed "[addr]Yddd" question, or -1.
int questionOutput(const QString &line)
{
    qsizetype p = 0;
    while (p < line.size() && line[p].isDigit())
        ++p;
    if (p >= line.size() || line[p] != u'Y')
        return -1;
    return line.mid(p + 1, 3).toInt();
}

void pollingAndTakes()
{
    Home home;
    const QString cfg = home.dir.filePath(QStringLiteral("sixtyfour.cfg"));
    writeLines(cfg, generateSystemConfig(64, 64, 4, 1, 64));
    const QString dev = home.dir.filePath(QStringLiteral("dev"));
    QDir().mkpath(dev);
    EmulatorProgram emu(QStringLiteral(XELEMU_BINARY));
    if (!emu.start(
            cfg, dev, { QStringLiteral("--settings"), QStringLiteral("9600,N,8,2"), QStringLiteral("--diagonal") })) {
        fprintf(stderr, "cannot start the emulator\n");
        return;
    }
    qputenv("TOLCOM_DEVICE_DIR", dev.toLocal8Bit());
    home.settings.SaveSetting(kAppName, kVarsSection, QStringLiteral("ConfigFile"), cfg);
    PanelEnvironment env = home.env();
    env.linkFactory = hublinkFactory(home.settings, home.dialogs);
    XelForm form(env);
    form.Form_Load();
    form.show();
    auto *core = dynamic_cast<HublinkCore *>(&form.link());
    if (!core || core->isComError()) {
        fprintf(stderr, "the link did not open: %s\n", qPrintable(home.dialogs.lastText()));
        return;
    }

    // Refresh of the whole name set.
    std::set<int> asked;
    int questions = 0;
    int questionBytes = 0;
    QElapsedTimer wall;
    bool covered = false;
    double coverMs = 0;
    QObject::connect(core, &HublinkCore::commandSent, [&](const QString &line) {
        const int out = questionOutput(line);
        if (out < 0)
            return;
        ++questions;
        questionBytes = static_cast<int>(line.size());
        asked.insert(out);
        if (!covered && asked.size() == 64) {
            covered = true;
            coverMs = static_cast<double>(wall.nsecsElapsed()) / 1e6;
        }
    });
    form.TurnOffTimer();
    form.TurnOnTimer();
    asked.clear();
    const double cpu0 = cpuSeconds();
    wall.start();
    // The program's own event loop, as the panel runs it.
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (covered || wall.elapsed() > 120000)
            loop.quit();
    });
    check.start(100);
    loop.exec();
    check.stop();
    const double cpu = cpuSeconds() - cpu0;
    const double seconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;

    WireSettings wire;
    // Y answer for 4 levels: "Y" + ddd + 2 status + 4 x iii + checksum + CR LF.
    const int answerBytes = 1 + 3 + 2 + 4 * 3 + 2 + 2;
    const double exchangeMs = (questionBytes + answerBytes) * wire.charSeconds() * 1000.0;
    // Rows refresh every tick; the background poll adds one of the other 58 a
    // tick, so the whole set needs 58 ticks. A tick asks 7 questions (8 with
    // the lock table every third tick), and Timer1 is armed again when the
    // tick ends: the line rests the whole 500 ms interval after each tick's
    // wire time.
    const int ticks = 64 - 6;
    const double tickWireMs = 7.33 * exchangeMs;
    const double allowedMs = ticks * (500.0 + tickWireMs);
    const double wireOnlyMs = 64 * exchangeMs;
    printf("polling at 9600,N,8,2, name set of 64 destinations on 4 levels (one controller):\n"
           "  every destination asked once after %.1f s; the polling rules allow %.1f s (%d ticks of %.0f ms "
           "wire, each followed by the 500 ms interval): ratio %.2f\n"
           "  (one question per destination back to back would need %.2f s of wire: %d + %d characters each)\n"
           "  panel CPU while polling: %.2f %% of a core (%.2f s CPU in %.1f s, %d questions)\n",
        coverMs / 1000.0, allowedMs / 1000.0, ticks, tickWireMs, coverMs / allowedMs, wireOnlyMs / 1000.0,
        questionBytes, answerBytes, 100.0 * cpu / seconds, cpu, seconds, questions);

    // Take latency with polling running: key presses at random moments, the
    // next one after the take before it has gone out.
    form.destinationKey(0)->click();
    std::vector<double> latencies;
    QElapsedTimer pressed;
    bool waiting = false;
    int presses = 0;
    QRandomGenerator rng(20261208);
    std::function<void()> pressLater = [&] {
        if (presses == 40) {
            loop.quit();
            return;
        }
        QTimer::singleShot(150 + static_cast<int>(rng.bounded(500)), [&] {
            ++presses;
            waiting = true;
            pressed.start();
            form.sourceKey(presses % 16)->click();
        });
    };
    QObject::connect(core, &HublinkCore::commandSent, [&](const QString &line) {
        qsizetype p = 0;
        while (p < line.size() && line[p].isDigit())
            ++p;
        if (waiting && p < line.size() && line[p] == u'H') {
            latencies.push_back(static_cast<double>(pressed.nsecsElapsed()) / 1e6);
            waiting = false;
            QTimer::singleShot(0, pressLater);
        }
    });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    pressLater();
    loop.exec();
    printf("take latency, source key press to the take command leaving the port, polling running (%zu takes):\n"
           "  median %.1f ms, p99 %.1f ms, max %.1f ms (one status exchange on the wire: %.1f ms)\n",
        latencies.size(), percentile(latencies, 0.5), percentile(latencies, 0.99), percentile(latencies, 1.0),
        exchangeMs);
    form.close();
    qunsetenv("TOLCOM_DEVICE_DIR");
}

// ---------------------------------------------------------------- round trip and idle wait

int plainExchange(int fd, const QByteArray &request)
{
    if (write(fd, request.constData(), static_cast<size_t>(request.size())) != request.size())
        return -1;
    char buf[512];
    int got = 0;
    while (got < 2 || buf[got - 2] != '\r' || buf[got - 1] != '\n') {
        pollfd p { fd, POLLIN, 0 };
        if (poll(&p, 1, 3000) <= 0)
            return -1;
        const ssize_t n = read(fd, buf + got, sizeof buf - static_cast<size_t>(got));
        if (n <= 0)
            return -1;
        got += static_cast<int>(n);
    }
    return got;
}

void roundTrip()
{
    Home home;
    const QString cfg = home.dir.filePath(QStringLiteral("sixtyfour.cfg"));
    writeLines(cfg, generateSystemConfig(64, 64, 4, 1, 64));
    const QString dev = home.dir.filePath(QStringLiteral("dev"));
    QDir().mkpath(dev);
    const QString question = QStringLiteral("1Y017");
    const int rounds = 2000;

    std::vector<double> plainUs;
    {
        EmulatorProgram emu(QStringLiteral(XELEMU_BINARY));
        if (!emu.start(cfg, dev, { QStringLiteral("--diagonal") }))
            return;
        const int fd = open(emu.path().constData(), O_RDWR | O_NOCTTY);
        termios t {};
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
        const QByteArray framed = HublinkFrame(question).toLatin1();
        for (int i = 0; i < rounds + 100; ++i) {
            QElapsedTimer e;
            e.start();
            if (plainExchange(fd, framed) < 0)
                break;
            if (i >= 100)
                plainUs.push_back(static_cast<double>(e.nsecsElapsed()) / 1e3);
        }
        close(fd);
    }

    std::vector<double> linkUs;
    double waitWall = 0;
    double waitCpu = 0;
    {
        EmulatorProgram emu(QStringLiteral(XELEMU_BINARY));
        if (!emu.start(cfg, dev, { QStringLiteral("--diagonal") }))
            return;
        qputenv("TOLCOM_DEVICE_DIR", dev.toLocal8Bit());
        frmHublink form(home.settings, home.dialogs);
        HublinkCore &link = form.link();
        for (int i = 0; i < rounds + 100; ++i) {
            float timeout = 0;
            QElapsedTimer e;
            e.start();
            if (link.SendHublinkCmd(question, timeout).isEmpty())
                break;
            if (i >= 100)
                linkUs.push_back(static_cast<double>(e.nsecsElapsed()) / 1e3);
        }
        // A question to an address no controller has is never answered.
        float timeout = 2;
        const double c0 = cpuSeconds();
        QElapsedTimer e;
        e.start();
        link.SendHublinkCmd(QStringLiteral("7WS"), timeout);
        waitWall = static_cast<double>(e.nsecsElapsed()) / 1e9;
        waitCpu = cpuSeconds() - c0;
        qunsetenv("TOLCOM_DEVICE_DIR");
    }
    printf("status round trip against the emulator at memory speed (%zu / %zu questions):\n"
           "  SendHublinkCmd median %.1f us (p99 %.1f), plain read/write median %.1f us (p99 %.1f): ratio %.2f\n"
           "  unanswered question: %.2f s wait using %.1f ms CPU (%.2f %% of a core)\n",
        linkUs.size(), plainUs.size(), percentile(linkUs, 0.5), percentile(linkUs, 0.99), percentile(plainUs, 0.5),
        percentile(plainUs, 0.99), percentile(linkUs, 0.5) / percentile(plainUs, 0.5), waitWall, waitCpu * 1000.0,
        100.0 * waitCpu / waitWall);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir runtime;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    qputenv("TOLCOM_LOG_DIR", runtime.path().toLocal8Bit());
    QApplication app(argc, argv);
    const QStringList which = app.arguments().mid(1);
    auto want = [&](const char *name) { return which.isEmpty() || which.contains(QLatin1String(name)); };
    if (want("startup"))
        startUp();
    if (want("roundtrip"))
        roundTrip();
    if (want("polling"))
        pollingAndTakes();
    return 0;
}
