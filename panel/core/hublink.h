// What the panel asks of its controller link. The hidden link window
// implements it over the comm control; tests implement it with a scripted fake.
#pragma once

#include <QString>

#include <cstdint>
#include <vector>

namespace exel {

// Numbers go on the wire as three 1-based decimal digits: output or input
// 999 (index 998) is the highest a command can carry. Anything above is
// refused by the link, never sent wrapped.
inline constexpr int kHublinkMaxWireNumberOnLink = 999;

class Hublink {
public:
    virtual ~Hublink() = default;

    // Sends one command line and waits for its answer; returns the answer body
    // or "" (no link, simulator, time-out, bad checksum). A timeout of 0 or less
    // selects the default of 2 seconds and is written back to the caller.
    virtual QString SendHublinkCmd(const QString &strCmd, float &sglTimeout) = 0;

    // Destination status: per controller level an input number (0-based, -1
    // none) and a flag. Returns the number of levels reported. Arrays are
    // re-created with bounds 0..n (one spare element).
    virtual int CPUYCmd(int16_t intID, int16_t intDst, std::vector<int16_t> &intSrc, std::vector<bool> &bolErr) = 0;
    // Lock table of a controller: element k is the lock of the output sent as k+1.
    virtual std::vector<bool> CPUWCmd(int16_t intID) = 0;
    // Take: one input number per controller level, -1 = leave unchanged.
    virtual QString CPUHCmd(int16_t intID, int16_t intNumLevs, int16_t intDst, const std::vector<int16_t> &intSrc) = 0;
    // Lock change (toggle) of one output.
    virtual QString CPULCmd(int16_t intID, int16_t intDst) = 0;

    virtual bool isComError() const = 0;
    virtual bool isComOffline() const = 0;
    virtual bool isCPUBusy() const = 0;
    virtual bool isHublinkConnected() const = 0;
    virtual QString getDescriptionString() const = 0;

    virtual void ConnectModem() = 0;
    virtual void disconnectModem() = 0;
};

} // namespace exel
