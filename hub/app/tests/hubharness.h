// The hub in this process in front of the real controller emulator program
// on a pseudo-terminal, paced at the controller's 9600,N,8,2, with the
// emulator's control socket to change routes and inject faults from the side.
#pragma once

#include "emulatorprogram.h"
#include "hubconfig.h"
#include "hubservice.h"
#include "testsupport.h"

#include <QDir>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace exel::hub::hubtest {

// One command to the emulator's control socket; everything it answered (a
// dump's lines up to its "END").
inline QByteArray emulatorConversation(const QString &socketPath, const QByteArray &command)
{
    const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    const QByteArray p = socketPath.toLocal8Bit();
    std::memcpy(
        addr.sun_path, p.constData(), std::min<size_t>(static_cast<size_t>(p.size()), sizeof addr.sun_path - 1));
    QByteArray got;
    if (::connect(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0
        && ::write(s, (command + "\n").constData(), static_cast<size_t>(command.size() + 1)) == command.size() + 1) {
        for (;;) {
            pollfd pf { s, POLLIN, 0 };
            if (::poll(&pf, 1, 3000) != 1)
                break;
            char buf[512];
            const ssize_t n = ::read(s, buf, sizeof buf);
            if (n <= 0)
                break;
            got.append(buf, static_cast<int>(n));
            const QList<QByteArray> lines = got.trimmed().split('\n');
            const QByteArray last = lines.last();
            if (got.endsWith('\n') && (last.startsWith("OK") || last.startsWith("ERR") || last == "END"))
                break;
        }
    }
    ::close(s);
    return got.trimmed();
}

// One command to the emulator's control socket; its last line ("OK ..." or
// "ERR ...", "END" after a dump).
inline QByteArray emulatorControl(const QString &socketPath, const QByteArray &command)
{
    return emulatorConversation(socketPath, command).split('\n').last();
}

class HubHarness {
public:
    // extraIni: more lines for the hub's configuration ([line] keys first).
    explicit HubHarness(const QString &lineKeys = QString(), const QString &routerFile = QString())
    {
        static int n = 0;
        dir = exel::test::tempHome() + QStringLiteral("/hub-%1").arg(++n);
        QDir(dir).removeRecursively();
        QDir().mkpath(dir + QStringLiteral("/dev"));
        router = routerFile.isEmpty() ? exel::test::sourceDir() + QStringLiteral("/tools/xelemu/demo.cfg") : routerFile;
        control = dir + QStringLiteral("/emu.ctl");
        ini = QStringLiteral(
            "[hub]\nrouter = %1\ndata = %2/data\n[line]\nport = COM1\n%3\n[panel]\nlisten = 127.0.0.1:1\n")
                  .arg(router, dir, lineKeys);
    }
    ~HubHarness() { hub.stop(); }

    bool startEmulator()
    {
        if (!emulator.start(router, dir + QStringLiteral("/dev"),
                { QStringLiteral("--settings"), QStringLiteral("9600,N,8,2"), QStringLiteral("--control-socket"),
                    control }))
            return false;
        qputenv("TOLCOM_DEVICE_DIR", (dir + QStringLiteral("/dev")).toLocal8Bit());
        return true;
    }
    // Starts the hub with the panel server on a free loopback port.
    bool startHub(QString *error)
    {
        ConfigProblem problem;
        if (!parseHubConfig(dir + QStringLiteral("/hub.ini"), ini.toUtf8(), config, problem)) {
            *error = problem.text();
            return false;
        }
        config.panel.port = 0;
        return hub.start(config, error);
    }
    QByteArray emu(const QByteArray &command) { return emulatorControl(control, command); }
    quint16 port() { return hub.panelServer()->port(); }
    HubLine &line() { return *hub.lines().front(); }

    QString dir;
    QString router;
    QString control;
    QString ini;
    HubConfig config;
    exel::test::EmulatorProgram emulator { QStringLiteral(XELEMU_BINARY) };
    HubService hub;
};

} // namespace exel::hub::hubtest
