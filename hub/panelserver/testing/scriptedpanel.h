// A scripted protocol client for tests: connects to a panel server on
// loopback, sends checksummed requests and waits for answer lines while the
// event loop runs (the server may live in the same thread).
#pragma once

#include "hublinkprotocol.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QThread>

namespace exel::hub::hubtest {

class ScriptedPanel {
public:
    bool connectTo(quint16 port, int waitMs = 3000)
    {
        socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        return pumpUntil([&] { return socket.state() == QAbstractSocket::ConnectedState; }, waitMs);
    }
    void sendRaw(const QByteArray &bytes)
    {
        socket.write(bytes);
        socket.flush();
    }
    void send(const QString &body) { sendRaw(HublinkFrame(body).toLatin1()); }

    // The next answer line (with its CR LF), or "" when none came in time.
    QByteArray answer(int waitMs = 3000)
    {
        pumpUntil([&] { return buffer.contains("\r\n"); }, waitMs);
        const qsizetype end = buffer.indexOf("\r\n");
        if (end < 0)
            return {};
        const QByteArray line = buffer.left(end + 2);
        buffer.remove(0, end + 2);
        return line;
    }
    // The answer body as the panel's link would take it ("" when none or bad).
    QString ask(const QString &body, int waitMs = 3000)
    {
        send(body);
        const QByteArray line = answer(waitMs);
        const HublinkAnswer a = HublinkCheckAnswer(QString::fromLatin1(line));
        return a.good() ? a.body : QString();
    }
    bool closedByServer(int waitMs = 3000)
    {
        return pumpUntil([&] { return socket.state() == QAbstractSocket::UnconnectedState; }, waitMs);
    }

    template <typename Pred> bool pumpUntil(Pred pred, int waitMs)
    {
        QElapsedTimer t;
        t.start();
        for (;;) {
            buffer += socket.readAll();
            if (pred())
                return true;
            if (t.elapsed() > waitMs)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::usleep(200);
        }
    }

    QTcpSocket socket;
    QByteArray buffer;
};

// Runs the event loop for a while (lets servers and lines work).
inline void pumpFor(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(200);
    }
}

} // namespace exel::hub::hubtest
