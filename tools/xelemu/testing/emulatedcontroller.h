// The controller emulator answering in-process on the master side of a
// pseudo-terminal whose slave is reachable as COM1 in a private device
// folder, so the panel's real link (engine, control, link window) talks to it.
#pragma once

#include "clock.h"
#include "testsupport.h"
#include "xelemulator.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSocketNotifier>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <memory>

namespace exel::test {

// Real time running five times faster, so the link's two-second waits for a
// silent controller take 400 ms, while an answer held up by a loaded machine
// still arrives well inside its wait.
class FastClock : public Clock {
public:
    FastClock() { m_timer.start(); }
    int64_t nowMs() const override { return m_timer.elapsed() * 5; }

private:
    QElapsedTimer m_timer;
};

class EmulatedController {
public:
    explicit EmulatedController(const QStringList &config)
    {
        static int n = 0;
        const QString cfg = tempHome() + QStringLiteral("/emu-%1.cfg").arg(++n);
        writeFile(cfg, config.join(QStringLiteral("\r\n")).toLatin1());
        QString error;
        XelEmulator::loadModel(cfg, m_model, error);
        m_emu = std::make_unique<XelEmulator>(m_model);
        m_emu->setLogger([this](const QString &line) { log << line; });
        char name[256] = {};
        openpty(&m_master, &m_slave, name, nullptr, nullptr);
        termios t {};
        tcgetattr(m_slave, &t);
        cfmakeraw(&t);
        tcsetattr(m_slave, TCSANOW, &t);
        fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
        m_devDir = tempHome() + QStringLiteral("/dev-%1").arg(n);
        QDir().mkpath(m_devDir);
        QFile::remove(m_devDir + QStringLiteral("/COM1"));
        m_ptyPath = QString::fromLatin1(name);
        QFile::link(m_ptyPath, m_devDir + QStringLiteral("/COM1"));
        qputenv("TOLCOM_DEVICE_DIR", m_devDir.toLocal8Bit());
        m_notifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { serve(); });
    }
    ~EmulatedController()
    {
        m_notifier.reset();
        ::close(m_slave);
        ::close(m_master);
        qunsetenv("TOLCOM_DEVICE_DIR");
    }
    XelEmulator &emu() { return *m_emu; }
    // The pseudo-terminal's slave side, which the panel (or a serial server) opens.
    const QString &ptyPath() const { return m_ptyPath; }

    // Every request line the emulator took, as its log reports it.
    QStringList log;
    // Requests whose command (after the address digits) starts with `command`.
    int count(const QString &command) const
    {
        int c = 0;
        for (const QString &line : log) {
            if (!line.startsWith(QStringLiteral("rx ")))
                continue;
            qsizetype p = 3;
            while (p < line.size() && line[p].isDigit())
                ++p;
            if (QStringView(line).sliced(p).startsWith(command))
                ++c;
        }
        return c;
    }

private:
    void serve()
    {
        char buf[512];
        const ssize_t got = ::read(m_master, buf, sizeof buf);
        if (got <= 0)
            return;
        for (const EmuReply &r : m_emu->receive(QByteArray(buf, static_cast<int>(got))))
            if (!r.bytes.isEmpty() && !r.hangup)
                (void)!::write(m_master, r.bytes.constData(), static_cast<size_t>(r.bytes.size()));
    }

    StatandConfig m_model;
    std::unique_ptr<XelEmulator> m_emu;
    int m_master = -1;
    int m_slave = -1;
    QString m_devDir;
    QString m_ptyPath;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace exel::test
