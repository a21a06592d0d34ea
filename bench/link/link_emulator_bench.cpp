// Measures the controller emulator over a pseudo-terminal with plain
// read/write: the round trip of one status question (the reference the link's
// own round trip is compared with), and, with the emulator paced at
// 9600,N,8,2, how many status questions per second go back to back against
// the limit the wire itself sets.
#include "hublinkprotocol.h"
#include "wirepacing.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Emulator {
    QProcess proc;
    int fd = -1;

    bool start(const QString &config, const QStringList &extra)
    {
        proc.start(QStringLiteral(XELEMU_BINARY),
            extra + QStringList { QStringLiteral("--log"), QStringLiteral("/dev/null"), config });
        if (!proc.waitForStarted())
            return false;
        while (!proc.canReadLine()) {
            if (!proc.waitForReadyRead(5000))
                return false;
        }
        const QByteArray path = proc.readLine().trimmed();
        fd = open(path.constData(), O_RDWR | O_NOCTTY);
        if (fd < 0)
            return false;
        termios t {};
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
        return true;
    }

    ~Emulator()
    {
        if (fd >= 0)
            close(fd);
        proc.terminate();
        if (!proc.waitForFinished(3000)) {
            proc.kill();
            proc.waitForFinished(1000);
        }
    }

    // One question, blocking reads until the line end; the answer length or -1.
    int exchange(const QByteArray &request)
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
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString config = dir.filePath(QStringLiteral("bench.cfg"));
    {
        // Four levels of 64 x 64 on one controller: a status answer of 3 + 2 + 12 characters.
        QFile f(config);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        f.write("CTL,MAIN,0,4\r\n");
        for (int l = 1; l <= 4; ++l)
            f.write(QStringLiteral("LVL,L%1,MAIN,%1,64,64\r\n").arg(l).toLatin1());
    }
    const QByteArray question = exel::HublinkFrame(u"Y017").toLatin1();

    {
        Emulator emu;
        if (!emu.start(config, { QStringLiteral("--diagonal"), QStringLiteral("--no-console") })) {
            fprintf(stderr, "cannot start the emulator\n");
            return 1;
        }
        for (int i = 0; i < 200; ++i)
            emu.exchange(question);
        std::vector<double> us;
        for (int i = 0; i < 3000; ++i) {
            const auto t0 = Clock::now();
            if (emu.exchange(question) < 0) {
                fprintf(stderr, "no answer\n");
                return 1;
            }
            us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        }
        std::sort(us.begin(), us.end());
        printf("emulator status round trip, plain read/write over a pty: median %.1f us, p90 %.1f us, p99 %.1f us (%zu "
               "questions)\n",
            median(us), us[us.size() * 9 / 10], us[us.size() * 99 / 100], us.size());
    }

    {
        exel::WireSettings wire; // 9600,N,8,2: 11 bits a character
        Emulator emu;
        if (!emu.start(config,
                { QStringLiteral("--settings"), QStringLiteral("9600,N,8,2"), QStringLiteral("--no-console") })) {
            fprintf(stderr, "cannot start the paced emulator\n");
            return 1;
        }
        const int answerBytes = emu.exchange(question);
        if (answerBytes < 0)
            return 1;
        const int bytes = static_cast<int>(question.size()) + answerBytes;
        int done = 0;
        const auto t0 = Clock::now();
        while (std::chrono::duration<double>(Clock::now() - t0).count() < 3.0) {
            if (emu.exchange(question) < 0)
                return 1;
            ++done;
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        const double rate = done / seconds;
        const double limit = wire.exchangesPerSecond(bytes);
        printf("paced at 9600,N,8,2: %d bytes per exchange (%d + %d), wire limit %.2f/s, achieved %.2f/s = %.1f %% of "
               "the limit\n",
            bytes, static_cast<int>(question.size()), answerBytes, limit, rate, 100.0 * rate / limit);
    }
    return 0;
}
