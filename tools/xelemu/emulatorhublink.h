// An in-process link to the controller emulator: the panel's link interface
// answered by an XelEmulator through the real framing, answer check and reply
// decoders, without a port or a time-out. For panel logic tests and demos
// that want a whole router behind the link.
#pragma once

#include "hublink.h"
#include "xelemulator.h"

#include <QStringList>

namespace exel {

class EmulatorHublink : public Hublink {
public:
    explicit EmulatorHublink(XelEmulator &emulator)
        : m_emu(emulator)
    {
    }

    // Frames the command, hands it to the emulator and checks the first reply
    // line. Silence, a partial line or a bad checksum give "" as they would
    // after a time-out; a refused command text gives "" and nothing is sent.
    QString SendHublinkCmd(const QString &strCmd, float &sglTimeout) override;
    int CPUYCmd(int16_t intID, int16_t intDst, std::vector<int16_t> &intSrc, std::vector<bool> &bolErr) override;
    std::vector<bool> CPUWCmd(int16_t intID) override;
    // Sent once more when the first reply is not "G", as the link does.
    QString CPUHCmd(int16_t intID, int16_t intNumLevs, int16_t intDst, const std::vector<int16_t> &intSrc) override;
    QString CPULCmd(int16_t intID, int16_t intDst) override;

    bool isComError() const override { return false; }
    bool isComOffline() const override { return false; }
    bool isCPUBusy() const override { return false; }
    bool isHublinkConnected() const override { return true; }
    QString getDescriptionString() const override { return QStringLiteral("Emulator"); }
    void ConnectModem() override { }
    void disconnectModem() override { }

    // Command texts sent, in order.
    const QStringList &sent() const { return m_sent; }

private:
    QString send(const QString &text);

    XelEmulator &m_emu;
    QStringList m_sent;
};

} // namespace exel
