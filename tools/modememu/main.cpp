// modememu: a Hayes modem on a pseudo-terminal, for tests, demos and training.
// It answers AT commands, dials with a scripted outcome, and once connected
// passes data to and from another device (a controller emulator, say).
#include "hayesmodem.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void usage()
{
    std::fprintf(stderr,
        "usage: modememu [options]\n"
        "  --outcome connect|no-carrier|no-dialtone|busy|silence   result of a dial (connect)\n"
        "  --link-dir DIR     place a symlink DIR/COM<n> to the modem's pty\n"
        "  --port N           the n of COM<n> (1)\n"
        "  --line PATH        once connected, pass data to and from this device\n"
        "  --line-pty         create a second pty for the far end and print its path\n"
        "  --guard-ms MS      guard time around +++ (1000)\n"
        "  --dial-delay-ms MS time from dial to result (2000)\n"
        "  --speed BPS        speed in the CONNECT message (9600)\n");
}

int openRawPty(std::string &slavePath)
{
    int master = -1, slave = -1;
    char name[256] = {};
    termios raw {};
    cfmakeraw(&raw);
    if (openpty(&master, &slave, name, &raw, nullptr) != 0)
        return -1;
    slavePath = name;
    // Keep the slave open so the master never sees a hang-up while the
    // serial side is between opens.
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    (void)slave;
    return master;
}

void writeAll(int fd, const std::string &data)
{
    size_t done = 0;
    while (fd >= 0 && done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n > 0)
            done += size_t(n);
        else if (n < 0 && errno == EAGAIN)
            poll(nullptr, 0, 1);
        else if (n < 0 && errno != EINTR)
            return;
    }
}

} // namespace

int main(int argc, char **argv)
{
    modememu::HayesModem::Outcome outcome = modememu::HayesModem::Outcome::Connect;
    std::string linkDir, linePath;
    bool linePty = false;
    int port = 1, guardMs = 1000, dialDelayMs = 2000, speed = 9600;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                usage();
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--outcome") {
            if (!modememu::HayesModem::parseOutcome(value(), outcome)) {
                usage();
                return 2;
            }
        } else if (a == "--link-dir")
            linkDir = value();
        else if (a == "--port")
            port = std::atoi(value().c_str());
        else if (a == "--line")
            linePath = value();
        else if (a == "--line-pty")
            linePty = true;
        else if (a == "--guard-ms")
            guardMs = std::atoi(value().c_str());
        else if (a == "--dial-delay-ms")
            dialDelayMs = std::atoi(value().c_str());
        else if (a == "--speed")
            speed = std::atoi(value().c_str());
        else {
            usage();
            return a == "--help" ? 0 : 2;
        }
    }

    std::string modemPath;
    const int modemFd = openRawPty(modemPath);
    if (modemFd < 0) {
        std::perror("modememu: openpty");
        return 1;
    }
    std::string link;
    if (!linkDir.empty()) {
        link = linkDir + "/COM" + std::to_string(port);
        unlink(link.c_str());
        if (symlink(modemPath.c_str(), link.c_str()) != 0) {
            std::fprintf(stderr, "modememu: cannot link %s: %s\n", link.c_str(), std::strerror(errno));
            return 1;
        }
    }
    int lineFd = -1;
    std::string lineShown;
    if (linePty) {
        lineFd = openRawPty(lineShown);
    } else if (!linePath.empty()) {
        lineFd = open(linePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (lineFd < 0) {
            std::fprintf(stderr, "modememu: cannot open %s: %s\n", linePath.c_str(), std::strerror(errno));
            return 1;
        }
        termios t {};
        if (tcgetattr(lineFd, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(lineFd, TCSANOW, &t);
        }
        lineShown = linePath;
    }
    std::printf("modem %s\n", modemPath.c_str());
    if (!link.empty())
        std::printf("link %s\n", link.c_str());
    if (!lineShown.empty())
        std::printf("line %s\n", lineShown.c_str());
    std::fflush(stdout);

    std::signal(SIGINT, [](int) { g_stop = 1; });
    std::signal(SIGTERM, [](int) { g_stop = 1; });

    const exel::SystemClock &clock = exel::SystemClock::instance();
    modememu::HayesModem modem(clock);
    modem.setOutcome(outcome);
    modem.setGuardMs(guardMs);
    modem.setDialDelayMs(dialDelayMs);
    modem.setConnectSpeed(speed);

    char buf[4096];
    while (!g_stop) {
        pollfd fds[2] = { { modemFd, POLLIN, 0 }, { lineFd, POLLIN, 0 } };
        poll(fds, lineFd >= 0 ? 2 : 1, 10);
        if (fds[0].revents & POLLIN) {
            const ssize_t n = read(modemFd, buf, sizeof buf);
            if (n > 0)
                modem.fromDte(std::string_view(buf, size_t(n)));
        }
        if (lineFd >= 0 && (fds[1].revents & POLLIN)) {
            const ssize_t n = read(lineFd, buf, sizeof buf);
            if (n > 0)
                modem.fromLine(std::string_view(buf, size_t(n)));
        } else if (lineFd >= 0 && (fds[1].revents & (POLLHUP | POLLERR))) {
            // The far end is not there (or went away): that drops a call.
            modem.lineDropped();
            poll(nullptr, 0, 10);
        }
        modem.poll();
        writeAll(modemFd, modem.takeToDte());
        writeAll(lineFd, modem.takeToLine());
    }
    if (!link.empty())
        unlink(link.c_str());
    return 0;
}
