// Round trip of an 8-byte command and a 20-byte answer over a pseudo-terminal:
// through TolComm by member name (setProperty/invokeMethod/property, as the
// panel drives it) and through the engine's exported functions directly. The
// ratio is what the automation layer costs per exchange.
#include "tolcom32.h"
#include "tolcomm.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kRounds = 2000;
const char kCommand[] = "S 001 01"; // 8 bytes
const char kAnswer[] = "OK 001 01 0005 0007\r"; // 20 bytes

// The far end: answers every full command at once.
void answer(int master)
{
    char buf[64];
    size_t got = 0;
    while (got < sizeof kCommand - 1) {
        pollfd p { master, POLLIN, 0 };
        poll(&p, 1, 100);
        const ssize_t n = read(master, buf, sizeof buf);
        if (n > 0)
            got += size_t(n);
    }
    (void)!write(master, kAnswer, sizeof kAnswer - 1);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir tmp;
    qputenv("TOLCOM_LOG_DIR", tmp.path().toLocal8Bit());
    QApplication app(argc, argv);

    int master = -1, slave = -1;
    char name[256] = {};
    termios raw {};
    cfmakeraw(&raw);
    if (openpty(&master, &slave, name, &raw, nullptr) != 0)
        return 1;
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    QFile::link(QString::fromLocal8Bit(name), tmp.path() + "/COM1");
    qputenv("TOLCOM_DEVICE_DIR", tmp.path().toLocal8Bit());

    using Clock = std::chrono::steady_clock;
    auto us = [](Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); };
    const int want = int(sizeof kAnswer - 1);

    TolComm comm;
    comm.setProperty("CommPort", 1);
    comm.setProperty("Settings", "9600,N,8,2");
    comm.setProperty("PortOpen", true);
    if (!comm.property("PortOpen").toBool())
        return 1;
    const uint32_t h = comm.property("CommHandle").toUInt();
    std::vector<double> byName, direct;
    char buf[64];
    // Alternate the two ways round by round, so warm-up and load hit both alike.
    for (int i = 0; i < kRounds; ++i) {
        auto t0 = Clock::now();
        comm.setProperty("InBufferCount", 0);
        comm.setProperty("Output", kCommand);
        answer(master);
        int queued = 0;
        while (queued < want) {
            QMetaObject::invokeMethod(&comm, "WaitForInput", Q_RETURN_ARG(int, queued), Q_ARG(int, 1000));
            if (queued < want)
                queued = comm.property("InBufferCount").toInt();
        }
        const QString in = comm.property("ComInput").toString();
        byName.push_back(us(Clock::now() - t0));
        if (in.size() != want)
            return 2;

        t0 = Clock::now();
        ClearInputBuffer(h);
        Output(h, kCommand, int32_t(sizeof kCommand - 1));
        answer(master);
        int count = 0;
        while ((count = GetInBufferCount(h)) < want)
            WaitForInput(h, 1000);
        const int n = GetInput(h, buf, count);
        direct.push_back(us(Clock::now() - t0));
        if (n != want)
            return 2;
    }

    const double a = median(byName), b = median(direct);
    std::printf("round trip 8/20 bytes over a pty, median of %d:\n", kRounds);
    std::printf("  TolComm by member name : %8.1f us\n", a);
    std::printf("  engine exports directly: %8.1f us\n", b);
    std::printf("  ratio (by name / direct): %.2f\n", a / b);
    close(slave);
    close(master);
    return 0;
}
