// In-process link to the controller emulator.
#include "emulatorhublink.h"

#include "hublinkprotocol.h"

namespace exel {

QString EmulatorHublink::send(const QString &text)
{
    m_sent << text;
    const std::vector<EmuReply> replies = m_emu.receive(HublinkFrame(text).toLatin1());
    if (replies.empty() || replies.front().hangup)
        return {};
    const HublinkAnswer a = HublinkCheckAnswer(QString::fromLatin1(replies.front().bytes));
    return a.good() ? a.body : QString();
}

QString EmulatorHublink::SendHublinkCmd(const QString &strCmd, float &sglTimeout)
{
    if (sglTimeout <= 0)
        sglTimeout = kHublinkDefaultTimeout;
    return send(strCmd);
}

int EmulatorHublink::CPUYCmd(int16_t intID, int16_t intDst, std::vector<int16_t> &intSrc, std::vector<bool> &bolErr)
{
    const HublinkCommand c = HublinkYCommand(intID, intDst);
    HublinkStatus s;
    ErrorInfo error;
    if (!HublinkDecodeStatus(c.ok ? send(c.text) : QString(), s, error))
        HublinkDecodeStatus(QString(), s, error);
    intSrc = s.intSrc;
    bolErr = s.bolErr;
    return s.levels;
}

std::vector<bool> EmulatorHublink::CPUWCmd(int16_t intID)
{
    const HublinkCommand c = HublinkWCommand(intID);
    std::vector<bool> locks;
    ErrorInfo error;
    if (!HublinkDecodeLocks(c.ok ? send(c.text) : QString(), locks, error))
        HublinkDecodeLocks(QString(), locks, error);
    return locks;
}

QString EmulatorHublink::CPUHCmd(int16_t intID, int16_t intNumLevs, int16_t intDst, const std::vector<int16_t> &intSrc)
{
    const HublinkCommand c = HublinkHCommand(intID, intNumLevs, intDst, intSrc);
    if (!c.ok)
        return {};
    const QString reply = send(c.text);
    return reply.startsWith(QLatin1Char('G')) ? reply : send(c.text);
}

QString EmulatorHublink::CPULCmd(int16_t intID, int16_t intDst)
{
    const HublinkCommand c = HublinkLCommand(intID, intDst);
    return c.ok ? send(c.text) : QString();
}

} // namespace exel
