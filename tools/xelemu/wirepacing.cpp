// Parsing of port settings for the emulator's pacing.
#include "wirepacing.h"

#include <QStringList>

namespace exel {

bool parseWireSettings(const QString &text, WireSettings &settings, QString &error)
{
    const QStringList f = text.split(QLatin1Char(','));
    if (f.size() != 4) {
        error = QStringLiteral("settings must read baud,parity,data,stop (for example 9600,N,8,2)");
        return false;
    }
    WireSettings s;
    bool ok = false;
    s.baud = f[0].trimmed().toInt(&ok);
    if (!ok || s.baud < 50 || s.baud > 4000000) {
        error = QStringLiteral("baud rate \"%1\" is not 50 to 4000000").arg(f[0]);
        return false;
    }
    const QString p = f[1].trimmed().toUpper();
    if (p.size() != 1 || !QStringLiteral("NEOMS").contains(p[0])) {
        error = QStringLiteral("parity \"%1\" is not N, E, O, M or S").arg(f[1]);
        return false;
    }
    s.parity = p[0].toLatin1();
    s.dataBits = f[2].trimmed().toInt(&ok);
    if (!ok || s.dataBits < 5 || s.dataBits > 8) {
        error = QStringLiteral("data bits \"%1\" are not 5 to 8").arg(f[2]);
        return false;
    }
    const QString stop = f[3].trimmed();
    if (stop == QLatin1String("1"))
        s.stopBits = 1.0;
    else if (stop == QLatin1String("1.5"))
        s.stopBits = 1.5;
    else if (stop == QLatin1String("2"))
        s.stopBits = 2.0;
    else {
        error = QStringLiteral("stop bits \"%1\" are not 1, 1.5 or 2").arg(f[3]);
        return false;
    }
    settings = s;
    return true;
}

} // namespace exel
