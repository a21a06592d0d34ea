// The controller emulator's identity and configuration queries: the records a
// panel gathers to configure itself, one per answer with continuations.
#include "hublinkprotocol.h"
#include "xelemulator.h"

namespace exel {

QString XelEmulator::answerIdentity(const Controller &c) const
{
    return HublinkFrame(QStringLiteral("K*E*D*%1,%2,%3").arg(c.name).arg(c.address).arg(c.levels.size()));
}

QString XelEmulator::startQuery(const Controller &c, const QString &kind)
{
    m_query = queryRecords(c, kind);
    m_queryNext = 0;
    return nextQueryAnswer();
}

QString XelEmulator::nextQueryAnswer()
{
    if (m_queryNext >= m_query.size()) {
        m_query.clear();
        m_queryNext = 0;
        return HublinkFrame(u"K*E*N");
    }
    const QString &record = m_query[m_queryNext++];
    const bool more = m_queryNext < m_query.size();
    return HublinkFrame(QStringLiteral("K*%1*D*%2").arg(more ? QStringLiteral("M") : QStringLiteral("E"), record));
}

QStringList XelEmulator::queryRecords(const Controller &c, const QString &kind) const
{
    QStringList out;
    const size_t n = c.levels.size();
    // An item shared by sources and destinations, on every level with one
    // number per side, is reported once as a router-tie ("RTY") record.
    auto uniform = [n](const Item &item) {
        for (size_t i = 0; i < n; ++i) {
            if (item.numbers[i] == 0 || item.numbers[i] != item.numbers[0])
                return false;
        }
        return n > 0;
    };
    auto tieOf = [&](const Item &src) -> const Item * {
        if (!uniform(src))
            return nullptr;
        for (const Item &d : c.destinations) {
            if (d.name == src.name)
                return uniform(d) ? &d : nullptr;
        }
        return nullptr;
    };
    auto isTie = [&](const Item &item, bool source) {
        if (source)
            return tieOf(item) != nullptr;
        for (const Item &s : c.sources) {
            if (s.name == item.name)
                return tieOf(s) != nullptr;
        }
        return false;
    };
    auto firstNumber = [](const Item &item) {
        for (const int16_t v : item.numbers) {
            if (v > 0)
                return static_cast<int>(v);
        }
        return 0;
    };
    auto itemRecord = [&](const QString &type, const Item &item) {
        const int number = firstNumber(item);
        QString r = QStringLiteral("(%1,%2,%3").arg(type, item.name).arg(number);
        for (size_t i = 0; i < n; ++i)
            r += item.numbers[i] == number ? QStringLiteral(",%1").arg(number) : QStringLiteral(",");
        return r + QLatin1Char(')');
    };

    if (kind == QLatin1String("LEV")) {
        for (size_t i = 0; i < n; ++i) {
            if (c.levels[i].defined)
                out << QStringLiteral("(LEV,%1,%2)").arg(c.levels[i].name).arg(i + 1);
        }
    } else if (kind == QLatin1String("DST") || kind == QLatin1String("SRC")) {
        const bool source = kind == QLatin1String("SRC");
        for (const Item &item : source ? c.sources : c.destinations) {
            if (!isTie(item, source))
                out << itemRecord(kind, item);
        }
    } else if (kind == QLatin1String("RTY")) {
        for (const Item &s : c.sources) {
            if (const Item *d = tieOf(s))
                out << QStringLiteral("(RTY,%1,%2,%3)").arg(s.name).arg(s.numbers[0]).arg(d->numbers[0]);
        }
    } else if (kind == QLatin1String("STL")) {
        // Levels where a source sits under another number than its first one.
        for (const Item &s : c.sources) {
            if (isTie(s, true))
                continue;
            const int number = firstNumber(s);
            for (size_t i = 0; i < n; ++i) {
                if (s.numbers[i] > 0 && s.numbers[i] != number)
                    out << QStringLiteral("(STL,%1,%2)").arg(s.name, c.levels[i].name);
            }
        }
    }
    return out;
}

} // namespace exel
