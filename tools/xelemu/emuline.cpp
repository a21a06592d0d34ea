// Pseudo-terminal loop of the controller emulator.
#include "emuline.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace exel {

namespace {

volatile sig_atomic_t g_stop = 0;

void onSignal(int)
{
    g_stop = 1;
}

int64_t nowNs()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

struct Outgoing {
    QByteArray bytes;
    int64_t startNs = 0;
    qsizetype sent = 0;
    bool hangup = false;
};

class PtyLine {
public:
    ~PtyLine() { close(); }

    bool open(QString &error)
    {
        m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
            error = QStringLiteral("cannot open a pseudo-terminal: %1").arg(QString::fromLocal8Bit(strerror(errno)));
            close();
            return false;
        }
        char name[128] = {};
        if (ptsname_r(m_master, name, sizeof name) != 0) {
            error = QStringLiteral("cannot name the pseudo-terminal: %1").arg(QString::fromLocal8Bit(strerror(errno)));
            close();
            return false;
        }
        m_path = QString::fromLocal8Bit(name);
        // Holding the slave open keeps the master from reporting a hang-up
        // (and spinning poll) while no panel has the port open.
        m_slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_slave >= 0) {
            termios t {};
            if (tcgetattr(m_slave, &t) == 0) {
                cfmakeraw(&t);
                tcsetattr(m_slave, TCSANOW, &t);
            }
        }
        return true;
    }

    void close()
    {
        if (m_slave >= 0)
            ::close(m_slave);
        if (m_master >= 0)
            ::close(m_master);
        m_slave = m_master = -1;
    }

    int master() const { return m_master; }
    const QString &path() const { return m_path; }

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_path;
};

// Publishes the slave as <dir>/COM<n> by a symbolic link, replaced atomically;
// never overwrites something that is not a link.
bool publish(const QString &dir, int com, const QString &target, QString &error)
{
    const QString link = QDir(dir).filePath(QStringLiteral("COM%1").arg(com));
    const QFileInfo info(link);
    if (info.exists() && !info.isSymLink()) {
        error = QStringLiteral("%1 exists and is not a link; not replacing it").arg(link);
        return false;
    }
    const QByteArray tmp = (link + QStringLiteral(".xelemu-%1").arg(getpid())).toLocal8Bit();
    ::unlink(tmp.constData());
    if (::symlink(target.toLocal8Bit().constData(), tmp.constData()) != 0
        || ::rename(tmp.constData(), link.toLocal8Bit().constData()) != 0) {
        error = QStringLiteral("cannot place %1: %2").arg(link, QString::fromLocal8Bit(strerror(errno)));
        ::unlink(tmp.constData());
        return false;
    }
    return true;
}

void unpublish(const QString &dir, int com, const QString &target)
{
    const QString link = QDir(dir).filePath(QStringLiteral("COM%1").arg(com));
    if (QFileInfo(link).isSymLink() && QFileInfo(link).symLinkTarget() == QFileInfo(target).absoluteFilePath())
        ::unlink(link.toLocal8Bit().constData());
}

// Listening Unix socket for control commands. A stale socket left by a
// crashed run is replaced; anything else at that path is left alone.
int listenControl(const QString &path, QString &error)
{
    const QByteArray p = path.toLocal8Bit();
    sockaddr_un addr {};
    if (p.size() >= static_cast<qsizetype>(sizeof addr.sun_path)) {
        error = QStringLiteral("control socket path too long: %1").arg(path);
        return -1;
    }
    struct stat st { };
    if (lstat(p.constData(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            error = QStringLiteral("%1 exists and is not a socket; not replacing it").arg(path);
            return -1;
        }
        ::unlink(p.constData());
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    addr.sun_family = AF_UNIX;
    memcpy(addr.sun_path, p.constData(), static_cast<size_t>(p.size()));
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || listen(fd, 4) != 0) {
        error = QStringLiteral("cannot listen on %1: %2").arg(path, QString::fromLocal8Bit(strerror(errno)));
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

// Writes a short reply to a control client; a client too slow to take it loses it.
void sendAll(int fd, const QByteArray &data)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::send(fd, data.constData() + done, static_cast<size_t>(data.size() - done), MSG_NOSIGNAL);
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p { fd, POLLOUT, 0 };
            if (poll(&p, 1, 1000) == 1)
                continue;
        }
        return;
    }
}

struct ControlClient {
    int fd = -1;
    QByteArray pending;
};

void say(const QString &text)
{
    fputs(text.toLocal8Bit().constData(), stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

} // namespace

int runEmulatorLine(XelEmulator &emulator, const EmuLineOptions &options)
{
    struct sigaction sa { };
    sa.sa_handler = onSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    FILE *logFile = options.log;
    emulator.setLogger([logFile](const QString &line) {
        if (!logFile)
            return;
        const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz"));
        fprintf(logFile, "%s %s\n", stamp.toLocal8Bit().constData(), line.toLocal8Bit().constData());
        fflush(logFile);
    });

    QString error;
    int listener = -1;
    if (!options.controlSocket.isEmpty()) {
        listener = listenControl(options.controlSocket, error);
        if (listener < 0) {
            fprintf(stderr, "xelemu: %s\n", error.toLocal8Bit().constData());
            return 2;
        }
    }
    constexpr size_t kMaxClients = 8;
    std::vector<ControlClient> clients;

    PtyLine pty;
    auto openLine = [&](bool announce) {
        if (!pty.open(error))
            return false;
        if (!options.deviceDir.isEmpty() && !publish(options.deviceDir, options.comNumber, pty.path(), error))
            return false;
        if (announce)
            say(pty.path());
        return true;
    };
    if (!openLine(true)) {
        fprintf(stderr, "xelemu: %s\n", error.toLocal8Bit().constData());
        return 2;
    }

    const int64_t charNs = options.pacing ? static_cast<int64_t>(options.pacing->charSeconds() * 1e9) : 0;
    std::deque<Outgoing> queue;
    int64_t rxDoneNs = 0;
    int64_t lineFreeNs = 0;
    bool stdinOpen = options.readStdin;
    QByteArray stdinPending;
    int exitCode = 0;

    auto schedule = [&](std::vector<EmuReply> replies) {
        for (EmuReply &r : replies) {
            Outgoing o;
            o.startNs = std::max<int64_t>(rxDoneNs + static_cast<int64_t>(r.delayMs) * 1000000, lineFreeNs);
            o.bytes = std::move(r.bytes);
            o.hangup = r.hangup;
            if (charNs > 0)
                lineFreeNs = o.startNs + charNs * o.bytes.size();
            queue.push_back(std::move(o));
        }
    };
    auto hangup = [&]() {
        queue.clear();
        if (!options.deviceDir.isEmpty())
            unpublish(options.deviceDir, options.comNumber, pty.path());
        pty.close();
    };

    // One control command from the console or a socket; the lines to answer.
    auto runControl = [&](const QString &cmd) {
        EmuControlResult r = emulator.control(cmd);
        if (r.action == EmuControlResult::Action::Quit)
            g_stop = 1;
        else if (r.action == EmuControlResult::Action::Hangup && pty.master() >= 0) {
            hangup();
            r.lines << QStringLiteral("HANGUP");
        } else if (r.action == EmuControlResult::Action::Reopen) {
            if (pty.master() >= 0)
                hangup();
            if (openLine(false))
                r.lines << pty.path();
            else
                r.lines << QStringLiteral("ERR ") + error;
        }
        return r.lines;
    };

    while (!g_stop) {
        const int64_t now = nowNs();
        // Send what is due: everything at memory speed, or each character
        // once it would have finished crossing the wire.
        bool wantOut = false;
        while (!queue.empty() && pty.master() >= 0) {
            Outgoing &o = queue.front();
            if (now < o.startNs)
                break;
            if (o.hangup) {
                hangup();
                say(QStringLiteral("HANGUP"));
                break;
            }
            qsizetype due = o.bytes.size();
            if (charNs > 0)
                due = std::min<qsizetype>(due, static_cast<qsizetype>((now - o.startNs) / charNs));
            if (due > o.sent) {
                const ssize_t n
                    = ::write(pty.master(), o.bytes.constData() + o.sent, static_cast<size_t>(due - o.sent));
                if (n < 0 && errno != EAGAIN && errno != EINTR) {
                    hangup();
                    say(QStringLiteral("HANGUP"));
                    break;
                }
                if (n > 0)
                    o.sent += n;
                if (n < 0 || o.sent < due) {
                    wantOut = n < 0 && errno == EAGAIN;
                    break;
                }
            }
            if (o.sent < o.bytes.size())
                break;
            queue.pop_front();
        }

        int64_t waitNs = -1;
        if (!queue.empty() && !wantOut) {
            const Outgoing &o = queue.front();
            const int64_t next = charNs > 0 && !o.hangup ? o.startNs + charNs * (o.sent + 1) : o.startNs;
            waitNs = std::max<int64_t>(next - nowNs(), 0);
        }
        pollfd fds[3 + kMaxClients];
        nfds_t nfds = 0;
        int masterIdx = -1, stdinIdx = -1, listenIdx = -1;
        std::vector<int> clientIdx;
        if (pty.master() >= 0) {
            masterIdx = static_cast<int>(nfds);
            fds[nfds++] = { pty.master(), static_cast<short>(POLLIN | (wantOut ? POLLOUT : 0)), 0 };
        }
        if (stdinOpen) {
            stdinIdx = static_cast<int>(nfds);
            fds[nfds++] = { STDIN_FILENO, POLLIN, 0 };
        }
        if (listener >= 0) {
            listenIdx = static_cast<int>(nfds);
            fds[nfds++] = { listener, POLLIN, 0 };
        }
        for (const ControlClient &c : clients) {
            clientIdx.push_back(static_cast<int>(nfds));
            fds[nfds++] = { c.fd, POLLIN, 0 };
        }
        timespec ts { waitNs / 1000000000LL, waitNs % 1000000000LL };
        const int rc = ppoll(fds, nfds, waitNs < 0 ? nullptr : &ts, nullptr);
        if (rc < 0) {
            if (errno == EINTR)
                continue;
            fprintf(stderr, "xelemu: poll: %s\n", strerror(errno));
            exitCode = 1;
            break;
        }
        if (masterIdx >= 0 && (fds[masterIdx].revents & POLLIN)) {
            char buf[4096];
            const ssize_t n = ::read(pty.master(), buf, sizeof buf);
            if (n > 0) {
                const int64_t t = nowNs();
                rxDoneNs = charNs > 0 ? std::max(rxDoneNs, t) + charNs * n : t;
                schedule(emulator.receive(QByteArray(buf, static_cast<qsizetype>(n))));
            }
        }
        if (stdinIdx >= 0 && (fds[stdinIdx].revents & (POLLIN | POLLHUP))) {
            char buf[1024];
            const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
            if (n <= 0) {
                stdinOpen = false; // run on without a console (started in the background)
            } else {
                stdinPending.append(buf, n);
                qsizetype nl;
                while ((nl = stdinPending.indexOf('\n')) >= 0) {
                    const QString cmd = QString::fromLocal8Bit(stdinPending.left(nl)).trimmed();
                    stdinPending.remove(0, nl + 1);
                    for (const QString &l : runControl(cmd))
                        say(l);
                }
            }
        }
        if (listenIdx >= 0 && (fds[listenIdx].revents & POLLIN)) {
            const int fd = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd >= 0 && clients.size() < kMaxClients)
                clients.push_back({ fd, {} });
            else if (fd >= 0)
                ::close(fd);
        }
        for (size_t i = 0; i < clientIdx.size(); ++i) {
            if (!(fds[clientIdx[i]].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            ControlClient &cl = clients[i];
            char buf[1024];
            const ssize_t n = ::recv(cl.fd, buf, sizeof buf, 0);
            if (n <= 0 || cl.pending.size() > 4096) {
                ::close(cl.fd);
                cl.fd = -1;
                continue;
            }
            cl.pending.append(buf, n);
            qsizetype nl;
            while ((nl = cl.pending.indexOf('\n')) >= 0) {
                const QString cmd = QString::fromLocal8Bit(cl.pending.left(nl)).trimmed();
                cl.pending.remove(0, nl + 1);
                QByteArray out;
                for (const QString &l : runControl(cmd))
                    out += l.toLocal8Bit() + '\n';
                sendAll(cl.fd, out);
            }
        }
        clients.erase(std::remove_if(clients.begin(), clients.end(), [](const ControlClient &c) { return c.fd < 0; }),
            clients.end());
    }
    for (const ControlClient &c : clients)
        ::close(c.fd);
    if (listener >= 0) {
        ::close(listener);
        ::unlink(options.controlSocket.toLocal8Bit().constData());
    }
    if (pty.master() >= 0 && !options.deviceDir.isEmpty())
        unpublish(options.deviceDir, options.comNumber, pty.path());
    return exitCode;
}

} // namespace exel
