// A Videohub protocol client for tests, written from Blackmagic's published
// protocol description: it reads the greeting, keeps the labels, routing and
// locks the way a control panel does (each item sent updates one port,
// ports not mentioned keep what they had), collects ACK and NAK in order,
// and counts the blocks of every kind it was sent. The server may live in
// the same thread: every wait runs the event loop.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <QTcpSocket>
#include <QThread>

#include <deque>
#include <map>

namespace exel::hub::hubtest {

class VideohubTestClient {
public:
    // Connects and waits for the whole greeting (END PRELUDE).
    bool connectTo(quint16 port, int waitMs = 5000)
    {
        socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        return pumpUntil([&] { return prelude; }, waitMs);
    }
    void send(const QByteArray &text)
    {
        socket.write(text);
        socket.flush();
    }
    // One routing or lock change as a block: "VIDEO OUTPUT ROUTING:\n3 5\n\n".
    void route(int output, int input)
    {
        send("VIDEO OUTPUT ROUTING:\n" + QByteArray::number(output) + ' ' + QByteArray::number(input) + "\n\n");
    }
    void lock(int output, char state)
    {
        send("VIDEO OUTPUT LOCKS:\n" + QByteArray::number(output) + ' ' + state + "\n\n");
    }
    // The next ACK or NAK ("" when none came in time).
    QString reply(int waitMs = 3000)
    {
        pumpUntil([&] { return !replies.empty(); }, waitMs);
        if (replies.empty())
            return QString();
        const QString r = replies.front();
        replies.pop_front();
        return r;
    }
    bool routedTo(int output, int input, int waitMs = 5000)
    {
        return pumpUntil(
            [&] {
                const auto it = routing.find(output);
                return it != routing.end() && it->second == input;
            },
            waitMs);
    }
    bool lockIs(int output, char state, int waitMs = 5000)
    {
        return pumpUntil(
            [&] {
                const auto it = locks.find(output);
                return it != locks.end() && it->second == state;
            },
            waitMs);
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
            read();
            if (pred())
                return true;
            if (t.elapsed() > waitMs)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::usleep(200);
        }
    }

    QTcpSocket socket;
    bool prelude = false; // END PRELUDE seen
    QString version;
    std::map<QString, QString> device; // VIDEOHUB DEVICE fields
    std::map<int, QString> inputLabels;
    std::map<int, QString> outputLabels;
    std::map<int, int> routing;
    std::map<int, char> locks;
    std::deque<QString> replies; // "ACK", "NAK"
    std::vector<std::pair<int, int>> routeUpdates; // every routing item after the greeting, in order
    std::map<QString, int> blocksSeen; // header -> count
    QString configuration;

private:
    void read()
    {
        m_buffer += socket.readAll();
        // A block ends with an empty line.
        for (;;) {
            const qsizetype end = m_buffer.indexOf("\n\n");
            if (end < 0)
                return;
            const QByteArray block = m_buffer.left(end);
            m_buffer.remove(0, end + 2);
            handle(QString::fromUtf8(block).split(QLatin1Char('\n')));
        }
    }
    static std::pair<int, QString> numbered(const QString &line)
    {
        const qsizetype sp = line.indexOf(QLatin1Char(' '));
        return { line.left(sp).toInt(), sp < 0 ? QString() : line.mid(sp + 1) };
    }
    void handle(QStringList lines)
    {
        while (!lines.isEmpty() && lines.front().isEmpty())
            lines.pop_front(); // tolerate extra blank lines between blocks
        if (lines.isEmpty())
            return;
        const QString header = lines.takeFirst();
        ++blocksSeen[header];
        if (header == QLatin1String("ACK") || header == QLatin1String("NAK")) {
            replies.push_back(header);
        } else if (header == QLatin1String("PROTOCOL PREAMBLE:")) {
            for (const QString &l : lines) {
                if (l.startsWith(QLatin1String("Version: ")))
                    version = l.mid(9);
            }
        } else if (header == QLatin1String("VIDEOHUB DEVICE:")) {
            for (const QString &l : lines) {
                const qsizetype colon = l.indexOf(QLatin1String(": "));
                device[l.left(colon)] = l.mid(colon + 2);
            }
        } else if (header == QLatin1String("INPUT LABELS:") || header == QLatin1String("OUTPUT LABELS:")) {
            auto &labels = header.startsWith(QLatin1Char('I')) ? inputLabels : outputLabels;
            for (const QString &l : lines) {
                const auto [n, text] = numbered(l);
                labels[n] = text;
            }
        } else if (header == QLatin1String("VIDEO OUTPUT ROUTING:")) {
            for (const QString &l : lines) {
                const auto [n, text] = numbered(l);
                routing[n] = text.toInt();
                if (prelude)
                    routeUpdates.emplace_back(n, text.toInt());
            }
        } else if (header == QLatin1String("VIDEO OUTPUT LOCKS:")) {
            for (const QString &l : lines) {
                const auto [n, text] = numbered(l);
                locks[n] = text.isEmpty() ? '?' : text.at(0).toLatin1();
            }
        } else if (header == QLatin1String("CONFIGURATION:")) {
            configuration = lines.join(QLatin1Char('\n'));
        } else if (header == QLatin1String("END PRELUDE:")) {
            prelude = true;
        }
    }

    QByteArray m_buffer;
};

} // namespace exel::hub::hubtest
