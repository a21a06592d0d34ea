// The status round trip of the panel's link (frmHublink: link, control and
// engine) to the controller emulator program, three ways: straight over its
// pseudo-terminal, and through Debian's ser2net on a loopback port in raw
// mode and with RFC 2217. Prints each median and p99 and the ratio of each
// network way to the pseudo-terminal.
//
//   network_bench [rounds]      (default 2000)
#include "emulatorprogram.h"
#include "frmhublink.h"
#include "ser2netserver.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace exel;
using exel::test::EmulatorProgram;
using exel::test::Ser2netServer;

namespace {

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

struct Figures {
    double median = 0;
    double p99 = 0;
    size_t count = 0;
};

// Status questions for MON1 (Y001) through a fresh link; microseconds.
Figures measure(SettingsStore &settings, int rounds)
{
    ScriptedDialogs dialogs;
    frmHublink form(settings, dialogs);
    HublinkCore &link = form.link();
    if (link.isComError()) {
        fprintf(stderr, "link did not open: %s\n", qPrintable(dialogs.lastText()));
        return {};
    }
    std::vector<double> us;
    std::vector<int16_t> src;
    std::vector<bool> err;
    for (int i = 0; i < rounds + 100; ++i) {
        QElapsedTimer e;
        e.start();
        if (link.CPUYCmd(1, 0, src, err) <= 0) {
            fprintf(stderr, "no answer at round %d\n", i);
            break;
        }
        if (i >= 100)
            us.push_back(static_cast<double>(e.nsecsElapsed()) / 1e3);
    }
    return { percentile(us, 0.5), percentile(us, 0.99), us.size() };
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("cfg")).toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", home.path().toLocal8Bit());
    qputenv("TOLCOM_LOG_DIR", home.path().toLocal8Bit());
    QDir().mkpath(home.filePath(QStringLiteral("cfg")));
    QDir().mkpath(home.filePath(QStringLiteral("dev")));
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(100, atoi(argv[1])) : 2000;
    if (Ser2netServer::program().isEmpty()) {
        fprintf(stderr, "ser2net is not installed (scripts/setup installs it)\n");
        return 1;
    }

    const QString cfg = home.filePath(QStringLiteral("router.cfg"));
    QFile f(cfg);
    f.open(QIODevice::WriteOnly);
    f.write("CTL,MAIN,1,2\r\nLVL,VID,MAIN,1,16,16\r\nLVL,AUD,MAIN,2,16,16\r\nSRC,CAM1,VID,1\r\nSRC,CAM1,AUD,1\r\n"
            "DST,MON1,VID,1\r\nDST,MON1,AUD,1\r\n");
    f.close();
    EmulatorProgram emu(QStringLiteral(XELEMU_BINARY));
    if (!emu.start(cfg, home.filePath(QStringLiteral("dev")), { QStringLiteral("--diagonal") })) {
        fprintf(stderr, "the controller emulator did not start\n");
        return 1;
    }
    SettingsStore settings(home.filePath(QStringLiteral("cfg")));

    // Straight over the pseudo-terminal.
    qputenv("TOLCOM_DEVICE_DIR", home.filePath(QStringLiteral("dev")).toLocal8Bit());
    Ser2netServer::removePortMap();
    const Figures pty = measure(settings, rounds);
    qunsetenv("TOLCOM_DEVICE_DIR");

    // ser2net as installed (it holds received bytes a few character times
    // to send them together), then with that switched off, which leaves the
    // cost of the network path itself.
    Figures net[4];
    for (int mode = 0; mode < 4; ++mode) {
        Ser2netServer server(QString::fromLocal8Bit(emu.path()), mode % 2 == 0 ? Ser2netServer::Raw : Ser2netServer::Rfc2217, mode < 2);
        const QString why = server.start();
        if (!why.isEmpty()) {
            fprintf(stderr, "%s\n", qPrintable(why));
            return 1;
        }
        server.writePortMap(1);
        net[mode] = measure(settings, rounds);
        Ser2netServer::removePortMap();
    }

    printf("status round trip (CPUYCmd, %d questions each) to the controller emulator program:\n", rounds);
    printf("  pseudo-terminal          median %7.1f us  p99 %7.1f us\n", pty.median, pty.p99);
    const char *names[4] = { "ser2net raw TCP", "ser2net RFC 2217", "raw, no chardelay", "RFC 2217, no chardelay" };
    for (int mode = 0; mode < 4; ++mode) {
        printf("  %-24s median %7.1f us  p99 %7.1f us  ratio to the pty %.2f\n", names[mode], net[mode].median,
            net[mode].p99, pty.median > 0 ? net[mode].median / pty.median : 0.0);
    }
    return pty.count && net[0].count && net[1].count && net[2].count && net[3].count ? 0 : 1;
}
