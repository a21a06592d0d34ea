// Test support for the hub: a small router configuration, and a line port
// whose link is the panel's scripted fake answering every command from the
// controller emulator's core, so the line's scheduling, the state and the
// journal are tested against real answers without a port.
#pragma once

#include "configreader.h"
#include "fakehublink.h"
#include "hubline.h"
#include "hublinkprotocol.h"
#include "testsupport.h"
#include "xelemulator.h"

#include <QStringList>

#include <memory>

namespace exel::hub::hubtest {

// One controller at address 0, levels VIDEO and AUDIO (8 x 8), sources
// CAM1..CAM4 on inputs 1..4, destinations MON1..MON4 on outputs 1..4.
inline QStringList smallRouter()
{
    QStringList lines { QStringLiteral("CTL,R1,0,2"), QStringLiteral("LVL,VIDEO,R1,1,8,8"),
        QStringLiteral("LVL,AUDIO,R1,2,8,8") };
    for (int i = 1; i <= 4; ++i) {
        for (const char *lvl : { "VIDEO", "AUDIO" }) {
            lines << QStringLiteral("SRC,CAM%1,%2,%1").arg(i).arg(QLatin1String(lvl));
            lines << QStringLiteral("DST,MON%1,%2,%1").arg(i).arg(QLatin1String(lvl));
        }
    }
    for (int i = 1; i <= 4; ++i)
        lines << QStringLiteral("SNS,ALL,CAM%1").arg(i) << QStringLiteral("SND,ALL,MON%1").arg(i);
    return lines;
}

inline void loadModel(StatandConfig &model, const QStringList &lines)
{
    const ConfigLoadResult r = LoadConfigLines(model, lines, QStringLiteral("TEST"));
    if (!r.ok())
        qFatal("test router does not load: %s", qPrintable(r.reason));
}

class EmulatorPort : public LinePort {
public:
    explicit EmulatorPort(const StatandConfig &model)
        : emu(model)
    {
        fake.onSend = [this](const QString &cmd) -> QString {
            sent << cmd;
            if (silent)
                return QString();
            const EmuReply r = emu.handleLine((cmd + HublinkChecksumChars(cmd)).toLatin1());
            if (r.bytes.isEmpty())
                return QString();
            const HublinkAnswer a = HublinkCheckAnswer(QString::fromLatin1(r.bytes));
            return a.good() ? a.body : QString();
        };
        fake.afterCall = [this](const testing::FakeHublink::Call &) {
            if (afterSend)
                afterSend();
        };
    }
    Hublink &link() override { return fake; }
    bool portOpen() override { return open; }
    void onDialling(std::function<void(bool)> notify) override { dialling = std::move(notify); }
    void reopen() override
    {
        ++reopens;
        open = openOnReopen;
    }

    testing::FakeHublink fake; // its offline and connected flags stand for the link's
    XelEmulator emu;
    QStringList sent;
    bool silent = false;
    bool open = true;
    bool openOnReopen = true;
    int reopens = 0;
    std::function<void()> afterSend;
    std::function<void(bool)> dialling; // what the line gave the port to report a dial with
};

} // namespace exel::hub::hubtest
