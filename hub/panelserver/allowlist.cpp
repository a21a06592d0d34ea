// The client allow-list.
#include "allowlist.h"

#include <QStringList>

namespace exel::hub {

bool AllowList::parse(const QString &text, QString *badEntry)
{
    m_nets.clear();
    m_any = false;
    for (const QString &raw : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString entry = raw.trimmed();
        if (entry.isEmpty())
            continue;
        if (entry.compare(QLatin1String("any"), Qt::CaseInsensitive) == 0) {
            m_any = true;
            continue;
        }
        QPair<QHostAddress, int> net;
        if (entry.contains(QLatin1Char('/'))) {
            net = QHostAddress::parseSubnet(entry);
        } else {
            const QHostAddress a(entry);
            net = { a, a.protocol() == QAbstractSocket::IPv6Protocol ? 128 : 32 };
        }
        if (net.first.isNull() || net.second < 0) {
            if (badEntry)
                *badEntry = entry;
            return false;
        }
        m_nets.append(net);
    }
    return true;
}

bool AllowList::allows(const QHostAddress &address) const
{
    if (m_any)
        return true;
    QHostAddress a = address;
    // A client of a dual-stack listener arrives as ::ffff:a.b.c.d.
    bool isV4 = false;
    const quint32 v4 = a.toIPv4Address(&isV4);
    if (isV4)
        a = QHostAddress(v4);
    for (const auto &net : m_nets) {
        if (a.isInSubnet(net))
            return true;
    }
    return false;
}

QString AllowList::text() const
{
    if (m_any)
        return QStringLiteral("any");
    QStringList parts;
    for (const auto &net : m_nets)
        parts << net.first.toString() + QLatin1Char('/') + QString::number(net.second);
    return parts.join(u", ");
}

bool AllowList::loopbackOnly() const
{
    if (m_any)
        return false;
    for (const auto &net : m_nets) {
        if (!net.first.isLoopback())
            return false;
    }
    return true;
}

} // namespace exel::hub
