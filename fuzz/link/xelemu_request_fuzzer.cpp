// Fuzzes the controller emulator's request parser: raw bytes as they would
// arrive on the line, and lines framed with a correct checksum so that the
// command parsing behind the checksum is reached too; control commands alike.
#include "configreader.h"
#include "hublinkprotocol.h"
#include "xelemulator.h"

#include <QStringList>

#include <cstddef>
#include <cstdint>

namespace {

const exel::StatandConfig &model()
{
    static exel::StatandConfig m = [] {
        exel::StatandConfig s;
        exel::LoadConfigLines(s,
            { QStringLiteral("CTL,MAIN,0,3"), QStringLiteral("CTL,AUX,3,1"), QStringLiteral("LVL,VID,MAIN,1,16,12"),
                QStringLiteral("LVL,AUD,MAIN,2,16,12"), QStringLiteral("LVL,XV,AUX,1,8,8"),
                QStringLiteral("SRC,CAM,VID,1"), QStringLiteral("SRC,CAM,AUD,2"), QStringLiteral("DST,MON,VID,1"),
                QStringLiteral("DST,MON,AUD,1"), QStringLiteral("SRC,X,XV,3"), QStringLiteral("DST,X,XV,3") },
            QStringLiteral("FUZZ"));
        return s;
    }();
    return m;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    exel::XelEmulator emu(model());
    emu.setSeed(1);
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), static_cast<qsizetype>(size - 1));
    switch (data[0] % 3) {
    case 0:
        emu.receive(bytes);
        break;
    case 1:
        for (const QByteArray &line : bytes.split('\n')) {
            const QString command = QString::fromLatin1(line).remove(QLatin1Char('\r'));
            for (const exel::EmuReply &r : emu.receive(exel::HublinkFrame(command).toLatin1())) {
                if (r.bytes.size() > 4 * exel::XelEmulator::kMaxRequestChars + 64)
                    __builtin_trap();
            }
        }
        break;
    default:
        for (const QByteArray &line : bytes.split('\n')) {
            if (emu.control(QString::fromLatin1(line)).action != exel::EmuControlResult::Action::None)
                continue;
        }
        emu.receive(exel::HublinkFrame(u"Y001").toLatin1());
        emu.receive(exel::HublinkFrame(u"WS").toLatin1());
        break;
    }
    return 0;
}
