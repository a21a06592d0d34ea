// Plain-struct bridge to the kernel's termios2 calls, so that the file that
// includes <asm/termbits.h> stays apart from glibc's <termios.h>.
#pragma once

#include <cstdint>

namespace tolcom {

struct Termios2Config {
    uint32_t baud;
    int dataBits; // 5..8
    int parity; // 0 none, 1 odd, 2 even, 3 mark, 4 space
    bool twoStopBits;
    bool parityCheck;
    bool ctsFlow;
    bool xonXoff;
    uint8_t xonChar;
    uint8_t xoffChar;
};

// Puts the device in raw mode with the given framing. Returns 0 or an errno value.
int termios2Apply(int fd, const Termios2Config &config);
// Reads back the framing. Returns 0 or an errno value.
int termios2Read(int fd, Termios2Config &config);

} // namespace tolcom
