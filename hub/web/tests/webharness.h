// The hub with its web panel in this process, in front of the real
// controller emulator program; operators alice (may force a release) and
// viewer (view only), a salvo folder, and the emulator's full dump.
#pragma once

#include "hubharness.h"
#include "operators.h"

#include <QFile>
#include <QTcpServer>

namespace exel::hub::webtest {

inline quint16 freePort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

// Every line the emulator's control socket answers to a command.
inline QStringList emulatorLines(const QString &socketPath, const QByteArray &command)
{
    const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    const QByteArray p = socketPath.toLocal8Bit();
    std::memcpy(addr.sun_path, p.constData(), std::min<size_t>(static_cast<size_t>(p.size()), sizeof addr.sun_path - 1));
    QByteArray got;
    if (::connect(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0
        && ::write(s, (command + "\n").constData(), static_cast<size_t>(command.size() + 1)) == command.size() + 1) {
        for (;;) {
            pollfd pf { s, POLLIN, 0 };
            if (::poll(&pf, 1, 3000) != 1)
                break;
            char buf[4096];
            const ssize_t n = ::read(s, buf, sizeof buf);
            if (n <= 0)
                break;
            got.append(buf, static_cast<int>(n));
            const QByteArray last = got.trimmed().split('\n').last();
            if (got.endsWith('\n') && (last.startsWith("OK") || last.startsWith("ERR") || last == "END"))
                break;
        }
    }
    ::close(s);
    return QString::fromLatin1(got.trimmed()).split(QLatin1Char('\n'));
}

class WebHarness : public hubtest::HubHarness {
public:
    explicit WebHarness(const QString &lineKeys = QString(), const QString &routerFile = QString())
        : HubHarness(lineKeys, routerFile)
    {
        webPort = freePort();
        salvos = dir + QStringLiteral("/salvos");
        QDir().mkpath(salvos);
        // Few iterations: the sanitizer build pays for every one.
        ini += QStringLiteral("[hub]\nsalvos = %1\n[web]\nenabled = true\nlisten = 127.0.0.1:%2\nwww = %3\n"
                              "[operator alice]\npassword = %4\nforce_release = true\n"
                              "[operator bob]\npassword = %5\n"
                              "[operator viewer]\npassword = %6\nrole = view only\n")
                   .arg(salvos)
                   .arg(webPort)
                   .arg(exel::test::sourceDir() + QStringLiteral("/hub/web/www"),
                       hashPassword(QStringLiteral("alice-pw"), 1000), hashPassword(QStringLiteral("bob-pw"), 1000),
                       hashPassword(QStringLiteral("viewer-pw"), 1000));
    }
    void writeSalvo(const QString &name, const QByteArray &text)
    {
        QFile f(salvos + QLatin1Char('/') + name + QStringLiteral(".PRE"));
        f.open(QIODevice::WriteOnly);
        f.write(text);
    }
    // "X addr level output input flag" lines of routed crosspoints, "L addr output" of locks.
    QStringList dump() { return emulatorLines(control, "dump"); }
    bool dumpHas(const QString &line) { return dump().contains(line); }
    // The input routed at the emulator (0 none).
    int crosspoint(int level, int output)
    {
        for (const QString &l : dump()) {
            const QStringList w = l.split(QLatin1Char(' '));
            if (w.size() >= 5 && w[0] == QLatin1String("X") && w[2].toInt() == level && w[3].toInt() == output)
                return w[4].toInt();
        }
        return 0;
    }
    QString url(const QString &path = QStringLiteral("/")) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(webPort).arg(path);
    }

    quint16 webPort = 0;
    QString salvos;
};

} // namespace exel::hub::webtest
