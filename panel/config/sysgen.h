// Generator of large, valid routing systems in the configuration file format,
// for benchmarks and round-trip tests.
#pragma once

#include <QStringList>

namespace exel {

// Lines of a configuration file in the editor's own order (VER, CTL, LVL, SRC,
// DST, SNS, SND): `controllers` controllers at addresses 1.., `levels` levels
// shared out between them, every source and destination on every level with
// its own number, and name sets of `nameSetSize` sources and destinations.
// Names are upper case and at most 8 characters.
QStringList generateSystemConfig(int sources, int destinations, int levels, int controllers, int nameSetSize);

} // namespace exel
