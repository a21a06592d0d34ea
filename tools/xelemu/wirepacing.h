// Serial line timing: how long characters take on the wire for given port
// settings, used to pace the emulator's output and to compute wire limits.
#pragma once

#include <QString>

namespace exel {

struct WireSettings {
    int baud = 9600;
    char parity = 'N';
    int dataBits = 8;
    double stopBits = 2.0;

    // Start bit, data bits, parity bit when there is one, stop bits.
    double bitsPerChar() const { return 1.0 + dataBits + (parity == 'N' ? 0.0 : 1.0) + stopBits; }
    double charSeconds() const { return bitsPerChar() / baud; }
    // Request-and-answer exchanges per second a line can carry when each one
    // moves `bytes` characters in total and nothing else uses the line.
    double exchangesPerSecond(int bytes) const { return bytes > 0 ? 1.0 / (bytes * charSeconds()) : 0.0; }
};

// Parses "baud,parity,data,stop" as the port settings are written
// ("9600,N,8,2"); parity N, E, O, M or S; data 5 to 8; stop 1, 1.5 or 2.
bool parseWireSettings(const QString &text, WireSettings &settings, QString &error);

} // namespace exel
