// Generator of large configuration files.
#include "sysgen.h"

#include <algorithm>

namespace exel {

QStringList generateSystemConfig(int sources, int destinations, int levels, int controllers, int nameSetSize)
{
    controllers = std::max(1, controllers);
    levels = std::max(1, levels);
    nameSetSize = std::max(1, nameSetSize);
    const int perController = (levels + controllers - 1) / controllers;
    QStringList out;
    out.reserve(2 + controllers + levels + (sources + destinations) * (levels + 1));
    out << QStringLiteral("VER,1.0");
    auto ctlName = [](int c) { return QStringLiteral("CTL%1").arg(c + 1); };
    auto levName = [](int l) { return QStringLiteral("LEV%1").arg(l + 1, 2, 10, QLatin1Char('0')); };
    auto srcName = [](int s) { return QStringLiteral("S%1").arg(s + 1, 5, 10, QLatin1Char('0')); };
    auto dstName = [](int d) { return QStringLiteral("D%1").arg(d + 1, 5, 10, QLatin1Char('0')); };
    auto setName = [](int n) { return QStringLiteral("SET%1").arg(n + 1, 3, 10, QLatin1Char('0')); };
    for (int c = 0; c < controllers; ++c) {
        const int count = std::min(perController, levels - c * perController);
        if (count > 0)
            out << QStringLiteral("CTL,%1,%2,%3").arg(ctlName(c)).arg(c + 1).arg(count);
    }
    for (int l = 0; l < levels; ++l)
        out << QStringLiteral("LVL,%1,%2,%3,%4,%5")
                   .arg(levName(l), ctlName(l / perController))
                   .arg(l % perController + 1)
                   .arg(std::max(1, sources))
                   .arg(std::max(1, destinations));
    for (int s = 0; s < sources; ++s)
        for (int l = 0; l < levels; ++l)
            out << QStringLiteral("SRC,%1,%2,%3").arg(srcName(s), levName(l)).arg(s + 1);
    for (int d = 0; d < destinations; ++d)
        for (int l = 0; l < levels; ++l)
            out << QStringLiteral("DST,%1,%2,%3").arg(dstName(d), levName(l)).arg(d + 1);
    for (int s = 0; s < sources; ++s)
        out << QStringLiteral("SNS,%1,%2").arg(setName(s / nameSetSize), srcName(s));
    for (int d = 0; d < destinations; ++d)
        out << QStringLiteral("SND,%1,%2").arg(setName(d / nameSetSize), dstName(d));
    return out;
}

} // namespace exel
