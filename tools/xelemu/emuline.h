// The emulator's side of the line: a pseudo-terminal (optionally published as
// COM<n> in a device folder) and the loop that feeds requests to the emulator
// core, paces its answers at the line rate and serves the control commands.
#pragma once

#include "wirepacing.h"
#include "xelemulator.h"

#include <QString>

#include <cstdio>
#include <optional>

namespace exel {

struct EmuLineOptions {
    std::optional<WireSettings> pacing; // pace at this line rate; none = memory speed
    QString deviceDir; // publish COM<comNumber> here (empty: don't)
    int comNumber = 0;
    FILE *log = stderr;
    bool readStdin = true; // control commands from standard input
    QString controlSocket; // also take control commands on this Unix socket (empty: don't)
};

// Runs until "quit", SIGINT or SIGTERM. Prints the slave path as the first line
// of standard output. Returns the process exit code.
int runEmulatorLine(XelEmulator &emulator, const EmuLineOptions &options);

} // namespace exel
