// termios2 access (any baud rate through BOTHER); kept alone because the
// kernel headers clash with glibc's <termios.h>.
#include "termios2io.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>

namespace tolcom {

int termios2Apply(int fd, const Termios2Config &c)
{
    struct termios2 t { };
    if (ioctl(fd, TCGETS2, &t) != 0)
        return errno;
    // Raw mode: no line editing, no translation, no signals.
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK | IGNPAR);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD);
    t.c_cflag |= CREAD | CLOCAL | BOTHER;
    switch (c.dataBits) {
    case 5:
        t.c_cflag |= CS5;
        break;
    case 6:
        t.c_cflag |= CS6;
        break;
    case 7:
        t.c_cflag |= CS7;
        break;
    default:
        t.c_cflag |= CS8;
        break;
    }
    switch (c.parity) {
    case 1:
        t.c_cflag |= PARENB | PARODD;
        break;
    case 2:
        t.c_cflag |= PARENB;
        break;
    case 3:
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case 4:
        t.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
    if (c.parity != 0 && c.parityCheck)
        t.c_iflag |= INPCK;
    if (c.twoStopBits)
        t.c_cflag |= CSTOPB;
    if (c.ctsFlow)
        t.c_cflag |= CRTSCTS;
    if (c.xonXoff)
        t.c_iflag |= IXON | IXOFF;
    t.c_cc[VSTART] = c.xonChar;
    t.c_cc[VSTOP] = c.xoffChar;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    t.c_ispeed = c.baud;
    t.c_ospeed = c.baud;
    t.c_cflag &= ~(CBAUD << IBSHIFT);
    t.c_cflag |= BOTHER << IBSHIFT;
    if (ioctl(fd, TCSETS2, &t) != 0)
        return errno;
    return 0;
}

int termios2Read(int fd, Termios2Config &c)
{
    struct termios2 t { };
    if (ioctl(fd, TCGETS2, &t) != 0)
        return errno;
    c.baud = t.c_ospeed;
    switch (t.c_cflag & CSIZE) {
    case CS5:
        c.dataBits = 5;
        break;
    case CS6:
        c.dataBits = 6;
        break;
    case CS7:
        c.dataBits = 7;
        break;
    default:
        c.dataBits = 8;
        break;
    }
    c.parity = 0;
    if (t.c_cflag & PARENB) {
        const bool odd = t.c_cflag & PARODD;
        if (t.c_cflag & CMSPAR)
            c.parity = odd ? 3 : 4;
        else
            c.parity = odd ? 1 : 2;
    }
    c.twoStopBits = t.c_cflag & CSTOPB;
    c.parityCheck = t.c_iflag & INPCK;
    c.ctsFlow = t.c_cflag & CRTSCTS;
    c.xonXoff = t.c_iflag & IXON;
    c.xonChar = t.c_cc[VSTART];
    c.xoffChar = t.c_cc[VSTOP];
    return 0;
}

} // namespace tolcom
