// A client allow-list: addresses and networks ("127.0.0.1", "10.1.0.0/16",
// "::1", "any").
#pragma once

#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>

namespace exel::hub {

class AllowList {
public:
    // Parses a comma-separated list; false with the entry that is not an
    // address or network.
    bool parse(const QString &text, QString *badEntry = nullptr);
    bool allows(const QHostAddress &address) const;
    QString text() const;
    bool loopbackOnly() const;

private:
    QList<QPair<QHostAddress, int>> m_nets;
    bool m_any = false;
};

} // namespace exel::hub
